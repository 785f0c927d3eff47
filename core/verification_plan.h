#pragma once

#include <optional>
#include <string>
#include <vector>

// What a verification of one channel tests and how it decides: the points, the direction they
// are approached from, the tolerance and the decision rule.

enum class PlanDirection { kRising, kRisingThenFalling };
enum class ToleranceKind { kUnit, kPercentOfReading, kPercentOfSpan };
enum class DecisionRule { kSimple, kGuardBanded };

// The verdict at a point or of a run. With the guard band of the reference's expanded
// uncertainty U: a pass only when |error| + U is within the tolerance, a fail only when
// |error| - U is beyond it; between them a conditional pass or fail, by which side of the
// tolerance the error itself lies.
enum class Verdict { kPass, kConditionalPass, kConditionalFail, kFail };

struct TestPlan {
  // Kept in the sensor's own unit (kPa, °С), so that a change of the display unit leaves the
  // plan as it was.
  double range_low = 0.0;
  double range_high = 100.0;
  // Typed points; empty: kDefaultPlanShares of the range.
  std::vector<double> points;
  PlanDirection direction = PlanDirection::kRising;
  ToleranceKind tolerance_kind = ToleranceKind::kPercentOfReading;
  // In the sensor's unit when tolerance_kind is kUnit, in per cent otherwise.
  double tolerance = 0.5;
  DecisionRule rule = DecisionRule::kSimple;
  // The reference standard last chosen, by its name in the register.
  std::string reference;

  double span() const { return range_high - range_low; }
};

// Shares of the range the default points stand at: 0, 25, 50, 75 and 100 %.
inline constexpr double kDefaultPlanShares[] = {0.0, 0.25, 0.5, 0.75, 1.0};

// The default plan of a channel (0 pressure, 1 temperature): the five points of the range, a
// tolerance of ±0.5 % of reading for pressure and ±0.5 °С for temperature, simple acceptance.
TestPlan DefaultTestPlan(int channel);

// A nominal point of the plan, in the order a run visits them.
struct PlanPoint {
  double nominal = 0.0;  // sensor's unit
  bool falling = false;  // approached from above
};

// The points in the order of the run: rising from the lowest; when the plan goes both ways,
// falling again from the one below the top (the top is visited once, at the turn).
std::vector<PlanPoint> PlanSequence(const TestPlan& plan);

// The tolerance at `applied` (any unit, with the plan's span converted by `factor` from the
// sensor's unit to it), as a magnitude in that unit.
double ToleranceAt(const TestPlan& plan, double applied, double factor);

// The verdict for |error| against `tolerance` by `rule`, with the reference's expanded
// uncertainty `uncertainty` (the same unit) for the guard band. Equal to the tolerance counts
// as within it.
Verdict Decide(double error, double tolerance, DecisionRule rule, double uncertainty);

// The verdict of several points: the worst of them; kPass when there are none.
Verdict Worst(const std::vector<Verdict>& verdicts);

// In the user's language: "відповідає", "умовно відповідає", "умовно не відповідає",
// "не відповідає"; and as the JSON and the command line name them.
const char* VerdictText(Verdict verdict);
const char* VerdictKey(Verdict verdict);
std::optional<Verdict> VerdictFromKey(const std::string& key);

// The tolerance and the decision rule in words, for the window and the certificate.
std::string ToleranceText(const TestPlan& plan, const std::string& sensor_unit);
std::string RuleText(DecisionRule rule);
const char* DirectionText(PlanDirection direction);

// The plan of `channel` from the settings file at `ini_path`: its own section, the defaults
// for what is missing or unreadable. The sections of the connection are never touched.
TestPlan LoadTestPlan(const std::string& ini_path, int channel);
// False with the reason when the file could not be written.
bool SaveTestPlan(const std::string& ini_path, int channel, const TestPlan& plan,
                  std::string* reason = nullptr);

// The section of a channel's plan in the settings file.
const char* PlanSection(int channel);

// Points typed as a list ("0; 25; 50" or with blanks or commas between numbers that use the
// full stop); none when any of them is not a number.
std::optional<std::vector<double>> ParsePlanPoints(const std::string& text);
std::string PlanPointsText(const std::vector<double>& points);
