#include "core/verification_session.h"

void CarryOut(VerificationRun& run, const VerificationSteps& steps) {
  const std::vector<PlanPoint> sequence = RunSequence(run);
  for (size_t i = NextPointIndex(run); i < sequence.size(); i = NextPointIndex(run)) {
    const std::optional<AppliedValue> applied = steps.applied(sequence[i], i);
    const std::optional<ReadingSpread> spread =
        applied ? steps.collect() : std::optional<ReadingSpread>();
    if (!spread || spread->count == 0) {
      run.cancelled = true;
      return;
    }
    VerificationPoint point;
    point.nominal = sequence[i].nominal;
    point.falling = sequence[i].falling;
    point.applied = applied->value;
    point.source = applied->source;
    point.source_id = applied->source_id;
    point.mean = spread->mean;
    point.deviation = spread->deviation;
    point.readings = spread->count;
    RecordPoint(run, point);
    if (steps.measured)
      steps.measured(run.points.back());
  }
}
