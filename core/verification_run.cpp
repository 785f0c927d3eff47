#include "core/verification_run.h"

#include <cmath>
#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

// Two nominal values are the same point when they differ by less than this share of the span:
// a plan point and its conversion to the display unit and back.
constexpr double kSamePointShare = 1e-9;

bool SamePoint(const VerificationRun& run, double a, double b) {
  return std::fabs(a - b) <= kSamePointShare * std::max(1.0, std::fabs(run.span()));
}

json NumberOrNull(std::optional<double> v) {
  return v && std::isfinite(*v) ? json(*v) : json(nullptr);
}

json Finite(double v) {
  return std::isfinite(v) ? json(v) : json(nullptr);
}

double Read(const json& j, const char* key, double fallback = 0.0) {
  const auto it = j.find(key);
  return it != j.end() && it->is_number() ? it->get<double>() : fallback;
}

std::string Text(const json& j, const char* key) {
  const auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

const char* StageText(VerificationStage stage) {
  switch (stage) {
    case VerificationStage::kAsFound:
      return "як знайдено";
    case VerificationStage::kAsLeft:
      return "як залишено";
    case VerificationStage::kAlone:
      return "перевірка";
  }
  return "";
}

const char* StageKey(VerificationStage stage) {
  switch (stage) {
    case VerificationStage::kAsFound:
      return "as_found";
    case VerificationStage::kAsLeft:
      return "as_left";
    case VerificationStage::kAlone:
      return "alone";
  }
  return "";
}

VerificationRun NewVerificationRun(const TestPlan& plan, int channel, const std::string& unit,
                                   double factor, int digits,
                                   const std::optional<ReferenceStandard>& reference) {
  VerificationRun run;
  run.plan = plan;
  run.channel = channel;
  run.unit = unit;
  run.factor = factor;
  run.digits = digits;
  run.reference = reference;
  if (reference)
    run.uncertainty = UncertaintyIn(*reference, channel, unit).value_or(0.0);
  run.started = JournalTimeNow();
  return run;
}

std::vector<PlanPoint> RunSequence(const VerificationRun& run) {
  std::vector<PlanPoint> sequence = PlanSequence(run.plan);
  for (PlanPoint& p : sequence)
    p.nominal *= run.factor;
  return sequence;
}

void EvaluatePoint(const VerificationRun& run, VerificationPoint& p) {
  p.error = p.mean - p.applied;
  p.error_of_reading.reset();
  if (p.applied != 0.0)
    p.error_of_reading = p.error / p.applied * 100.0;
  const double span = run.span();
  p.error_of_span = span != 0.0 ? p.error / span * 100.0 : 0.0;
  p.tolerance = ToleranceAt(run.plan, p.applied, run.factor);
  p.verdict = Decide(p.error, p.tolerance, run.plan.rule, run.uncertainty);
}

void RecordPoint(VerificationRun& run, VerificationPoint point) {
  EvaluatePoint(run, point);
  for (VerificationPoint& p : run.points) {
    if (p.falling == point.falling && SamePoint(run, p.nominal, point.nominal)) {
      p = point;
      return;
    }
  }
  run.points.push_back(point);
}

size_t NextPointIndex(const VerificationRun& run) {
  const std::vector<PlanPoint> sequence = RunSequence(run);
  for (size_t i = 0; i < sequence.size(); ++i) {
    bool measured = false;
    for (const VerificationPoint& p : run.points)
      measured = measured || (p.falling == sequence[i].falling &&
                              SamePoint(run, p.nominal, sequence[i].nominal));
    if (!measured)
      return i;
  }
  return sequence.size();
}

bool Complete(const VerificationRun& run) {
  return NextPointIndex(run) == RunSequence(run).size();
}

std::vector<Hysteresis> HysteresisOf(const VerificationRun& run) {
  std::vector<Hysteresis> list;
  for (const VerificationPoint& rising : run.points) {
    if (rising.falling)
      continue;
    for (const VerificationPoint& falling : run.points) {
      if (!falling.falling || !SamePoint(run, rising.nominal, falling.nominal))
        continue;
      Hysteresis h;
      h.nominal = rising.nominal;
      h.value = falling.error - rising.error;
      h.of_span = run.span() != 0.0 ? h.value / run.span() * 100.0 : 0.0;
      list.push_back(h);
    }
  }
  return list;
}

Verdict RunVerdict(const VerificationRun& run) {
  std::vector<Verdict> verdicts;
  for (const VerificationPoint& p : run.points)
    verdicts.push_back(p.verdict);
  return Worst(verdicts);
}

JournalRecord VerificationJournalRecord(const VerificationRun& run, const JournalRecord& link) {
  JournalRecord r;
  r.time = JournalTimeNow();
  r.run = run.run.empty() ? link.run : run.run;
  r.step = kStepVerification;
  r.through_corrector = link.through_corrector;
  r.port = link.port;
  r.corrector_address = link.corrector_address;
  r.plate = link.plate;
  r.software_version = link.software_version;
  r.line = link.line;
  r.sensor_address = link.sensor_address;
  r.channel = run.channel;
  r.unit = run.unit;
  r.as_found = run.calibration;
  r.outcome = run.cancelled ? JournalOutcome::kCancelled : JournalOutcome::kVerified;

  const TestPlan& plan = run.plan;
  json d;
  d["stage"] = StageKey(run.stage);
  d["started"] = run.started;
  d["factor"] = run.factor;
  d["digits"] = run.digits;
  d["plan"] = {
      {"range_low", plan.range_low},
      {"range_high", plan.range_high},
      {"points", plan.points},
      {"direction", plan.direction == PlanDirection::kRising ? "rising" : "rising_then_falling"},
      {"tolerance_kind", static_cast<int>(plan.tolerance_kind)},
      {"tolerance", plan.tolerance},
      {"rule", plan.rule == DecisionRule::kSimple ? "simple" : "guard_banded"}};
  if (run.reference) {
    const ReferenceStandard& s = *run.reference;
    d["reference"] = {{"name", s.name},         {"model", s.model},
                      {"serial", s.serial},     {"certificate", s.certificate},
                      {"due_date", s.due_date}, {"uncertainty", s.uncertainty},
                      {"coverage", s.coverage}, {"unit", s.unit}};
  }
  d["uncertainty"] = run.uncertainty;
  if (!run.instrument.empty())
    d["instrument"] = run.instrument;
  json points = json::array();
  for (const VerificationPoint& p : run.points) {
    json jp = {{"nominal", p.nominal},
               {"direction", p.falling ? "falling" : "rising"},
               {"applied", p.applied},
               {"source", p.source == AppliedSource::kTyped ? "typed" : "instrument"},
               {"mean", Finite(p.mean)},
               {"deviation", Finite(p.deviation)},
               {"readings", p.readings},
               {"error", Finite(p.error)},
               {"error_of_reading", NumberOrNull(p.error_of_reading)},
               {"error_of_span", Finite(p.error_of_span)},
               {"tolerance", Finite(p.tolerance)},
               {"verdict", VerdictKey(p.verdict)}};
    if (!p.source_id.empty())
      jp["source_id"] = p.source_id;
    if (p.applied_readings > 0) {
      jp["applied_deviation"] = Finite(p.applied_deviation);
      jp["applied_readings"] = p.applied_readings;
    }
    points.push_back(jp);
  }
  d["points"] = points;
  json hysteresis = json::array();
  for (const Hysteresis& h : HysteresisOf(run))
    hysteresis.push_back({{"nominal", h.nominal}, {"value", h.value}, {"of_span", h.of_span}});
  d["hysteresis"] = hysteresis;
  d["verdict"] = VerdictKey(RunVerdict(run));
  d["complete"] = Complete(run);
  r.detail = d.dump(-1, ' ', false, json::error_handler_t::replace);
  return r;
}

std::optional<VerificationRun> VerificationFromRecord(const JournalRecord& record) {
  if (record.step != kStepVerification || record.detail.empty())
    return std::nullopt;
  const json d = json::parse(record.detail, nullptr, false);
  if (!d.is_object())
    return std::nullopt;
  VerificationRun run;
  run.run = record.run;
  run.channel = record.channel;
  run.unit = record.unit;
  run.calibration = record.as_found;
  run.cancelled = record.outcome == JournalOutcome::kCancelled;
  const std::string stage = Text(d, "stage");
  run.stage = stage == "as_found"  ? VerificationStage::kAsFound
              : stage == "as_left" ? VerificationStage::kAsLeft
                                   : VerificationStage::kAlone;
  run.started = Text(d, "started");
  run.factor = Read(d, "factor", 1.0);
  run.digits = static_cast<int>(Read(d, "digits", 2.0));
  run.uncertainty = Read(d, "uncertainty");
  run.instrument = Text(d, "instrument");
  if (const auto p = d.find("plan"); p != d.end() && p->is_object()) {
    TestPlan& plan = run.plan;
    plan.range_low = Read(*p, "range_low");
    plan.range_high = Read(*p, "range_high", 100.0);
    if (const auto pts = p->find("points"); pts != p->end() && pts->is_array()) {
      for (const json& v : *pts) {
        if (v.is_number())
          plan.points.push_back(v.get<double>());
      }
    }
    plan.direction = Text(*p, "direction") == "rising_then_falling"
                         ? PlanDirection::kRisingThenFalling
                         : PlanDirection::kRising;
    const int kind = static_cast<int>(Read(*p, "tolerance_kind"));
    plan.tolerance_kind =
        kind >= 0 && kind <= 2 ? static_cast<ToleranceKind>(kind) : ToleranceKind::kUnit;
    plan.tolerance = Read(*p, "tolerance");
    plan.rule =
        Text(*p, "rule") == "guard_banded" ? DecisionRule::kGuardBanded : DecisionRule::kSimple;
  }
  if (const auto s = d.find("reference"); s != d.end() && s->is_object()) {
    ReferenceStandard r;
    r.name = Text(*s, "name");
    r.model = Text(*s, "model");
    r.serial = Text(*s, "serial");
    r.certificate = Text(*s, "certificate");
    r.due_date = Text(*s, "due_date");
    r.uncertainty = Read(*s, "uncertainty");
    r.coverage = Read(*s, "coverage", 2.0);
    r.unit = Text(*s, "unit");
    run.reference = r;
  }
  if (const auto pts = d.find("points"); pts != d.end() && pts->is_array()) {
    for (const json& jp : *pts) {
      if (!jp.is_object())
        continue;
      VerificationPoint p;
      p.nominal = Read(jp, "nominal");
      p.falling = Text(jp, "direction") == "falling";
      p.applied = Read(jp, "applied");
      p.source =
          Text(jp, "source") == "instrument" ? AppliedSource::kInstrument : AppliedSource::kTyped;
      p.source_id = Text(jp, "source_id");
      p.applied_deviation = Read(jp, "applied_deviation");
      p.applied_readings = static_cast<int>(Read(jp, "applied_readings"));
      p.mean = Read(jp, "mean", NAN);
      p.deviation = Read(jp, "deviation");
      p.readings = static_cast<int>(Read(jp, "readings"));
      // Evaluated again by the rule kept with the run, so the numbers and verdicts agree.
      EvaluatePoint(run, p);
      run.points.push_back(p);
    }
  }
  return run;
}

std::vector<VerificationRun> VerificationsOf(const JournalRecord& entry) {
  std::vector<VerificationRun> runs;
  if (std::optional<VerificationRun> own = VerificationFromRecord(entry))
    runs.push_back(std::move(*own));
  for (const JournalRecord& step : entry.steps) {
    if (std::optional<VerificationRun> run = VerificationFromRecord(step))
      runs.push_back(std::move(*run));
  }
  return runs;
}
