#include "core/verification_plan.h"

#include <algorithm>
#include <cmath>

#include "core/ini_file.h"
#include "core/number_format.h"

namespace {

// Sensor ranges the program cannot know: a span wide enough for a corrector's absolute
// pressure sensor, and the ambient range of a gas line's temperature sensor.
constexpr double kDefaultPressureHigh = 1000.0;
constexpr double kDefaultTemperatureLow = -20.0;
constexpr double kDefaultTemperatureHigh = 60.0;

// Equal to the tolerance counts as within it, whatever the last bit of a difference of
// decimals says.
bool WithinOrEqual(double value, double limit) {
  return value <= limit + 1e-9 * std::max(1.0, std::fabs(limit));
}

std::string Trimmed(double v) {
  std::string text = FormatFixed(v, 6);
  while (!text.empty() && text.back() == '0')
    text.pop_back();
  if (!text.empty() && text.back() == '.')
    text.pop_back();
  return text;
}

std::optional<double> ReadNumber(const IniValues& values, const char* section, const char* key) {
  const std::optional<std::string> text = values.Get(section, key);
  if (!text)
    return std::nullopt;
  const std::optional<double> v = ParseFloat(*text);
  if (!v || !std::isfinite(*v))
    return std::nullopt;
  return v;
}

}  // namespace

TestPlan DefaultTestPlan(int channel) {
  TestPlan plan;
  if (channel == 1) {
    plan.range_low = kDefaultTemperatureLow;
    plan.range_high = kDefaultTemperatureHigh;
    plan.tolerance_kind = ToleranceKind::kUnit;
    plan.tolerance = 0.5;
  } else {
    plan.range_low = 0.0;
    plan.range_high = kDefaultPressureHigh;
    plan.tolerance_kind = ToleranceKind::kPercentOfReading;
    plan.tolerance = 0.5;
  }
  return plan;
}

std::vector<PlanPoint> PlanSequence(const TestPlan& plan) {
  std::vector<double> nominal = plan.points;
  if (nominal.empty()) {
    for (double share : kDefaultPlanShares)
      nominal.push_back(plan.range_low + share * plan.span());
  }
  std::sort(nominal.begin(), nominal.end());
  nominal.erase(std::unique(nominal.begin(), nominal.end()), nominal.end());
  std::vector<PlanPoint> sequence;
  for (double v : nominal)
    sequence.push_back({v, false});
  if (plan.direction == PlanDirection::kRisingThenFalling && nominal.size() > 1) {
    for (size_t i = nominal.size() - 1; i-- > 0;)
      sequence.push_back({nominal[i], true});
  }
  return sequence;
}

double ToleranceAt(const TestPlan& plan, double applied, double factor) {
  switch (plan.tolerance_kind) {
    case ToleranceKind::kUnit:
      return std::fabs(plan.tolerance * factor);
    case ToleranceKind::kPercentOfReading:
      return std::fabs(plan.tolerance / 100.0 * applied);
    case ToleranceKind::kPercentOfSpan:
      return std::fabs(plan.tolerance / 100.0 * plan.span() * factor);
  }
  return 0.0;
}

Verdict Decide(double error, double tolerance, DecisionRule rule, double uncertainty) {
  const double e = std::fabs(error);
  if (!std::isfinite(e))
    return Verdict::kFail;
  if (rule == DecisionRule::kSimple)
    return WithinOrEqual(e, tolerance) ? Verdict::kPass : Verdict::kFail;
  const double u = std::fabs(uncertainty);
  if (WithinOrEqual(e + u, tolerance))
    return Verdict::kPass;
  if (!WithinOrEqual(e - u, tolerance))
    return Verdict::kFail;
  return WithinOrEqual(e, tolerance) ? Verdict::kConditionalPass : Verdict::kConditionalFail;
}

Verdict Worst(const std::vector<Verdict>& verdicts) {
  Verdict worst = Verdict::kPass;
  for (Verdict v : verdicts)
    worst = std::max(worst, v);
  return worst;
}

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPass:
      return "відповідає";
    case Verdict::kConditionalPass:
      return "умовно відповідає";
    case Verdict::kConditionalFail:
      return "умовно не відповідає";
    case Verdict::kFail:
      return "не відповідає";
  }
  return "";
}

const char* VerdictKey(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPass:
      return "pass";
    case Verdict::kConditionalPass:
      return "conditional_pass";
    case Verdict::kConditionalFail:
      return "conditional_fail";
    case Verdict::kFail:
      return "fail";
  }
  return "";
}

std::optional<Verdict> VerdictFromKey(const std::string& key) {
  for (Verdict v :
       {Verdict::kPass, Verdict::kConditionalPass, Verdict::kConditionalFail, Verdict::kFail}) {
    if (key == VerdictKey(v))
      return v;
  }
  return std::nullopt;
}

std::string ToleranceText(const TestPlan& plan, const std::string& sensor_unit) {
  const std::string value = "±" + Trimmed(plan.tolerance);
  switch (plan.tolerance_kind) {
    case ToleranceKind::kUnit:
      return value + " " + sensor_unit;
    case ToleranceKind::kPercentOfReading:
      return value + " % від показу";
    case ToleranceKind::kPercentOfSpan:
      return value + " % від діапазону " + Trimmed(plan.range_low) + " ... " +
             Trimmed(plan.range_high) + " " + sensor_unit;
  }
  return value;
}

std::string RuleText(DecisionRule rule) {
  if (rule == DecisionRule::kSimple)
    return "просте прийняття: відповідає, коли |похибка| ≤ допуску";
  return "із захисною смугою розширеної невизначеності еталона U: відповідає, коли "
         "|похибка| + U ≤ допуску; не відповідає, коли |похибка| − U > допуску; інакше "
         "умовно відповідає або умовно не відповідає";
}

const char* DirectionText(PlanDirection direction) {
  return direction == PlanDirection::kRising ? "на зростання" : "на зростання, потім на спадання";
}

const char* PlanSection(int channel) {
  return channel == 1 ? "VerificationT" : "VerificationP";
}

std::optional<std::vector<double>> ParsePlanPoints(const std::string& text) {
  std::vector<double> points;
  std::string item;
  const auto take = [&]() -> bool {
    if (item.empty())
      return true;
    const std::optional<double> v = ParseFloat(item);
    item.clear();
    if (!v || !std::isfinite(*v))
      return false;
    points.push_back(*v);
    return true;
  };
  for (char c : text) {
    if (c == ';' || c == ' ' || c == '\t' || c == ',') {
      if (!take())
        return std::nullopt;
    } else {
      item += c;
    }
  }
  if (!take())
    return std::nullopt;
  return points;
}

std::string PlanPointsText(const std::vector<double>& points) {
  std::string text;
  for (double v : points) {
    if (!text.empty())
      text += "; ";
    text += Trimmed(v);
  }
  return text;
}

TestPlan LoadTestPlan(const std::string& ini_path, int channel) {
  TestPlan plan = DefaultTestPlan(channel);
  std::string bytes;
  if (ReadIniFile(ini_path, bytes) != IniFileState::kRead)
    return plan;
  const IniDocument document(bytes);
  const IniValues values(document);
  const char* section = PlanSection(channel);
  const std::optional<double> low = ReadNumber(values, section, "RangeLow");
  const std::optional<double> high = ReadNumber(values, section, "RangeHigh");
  if (low && high && *low < *high) {
    plan.range_low = *low;
    plan.range_high = *high;
  }
  if (const std::optional<std::string> points = values.Get(section, "Points")) {
    if (const std::optional<std::vector<double>> parsed = ParsePlanPoints(*points))
      plan.points = *parsed;
  }
  if (const std::optional<double> d = ReadNumber(values, section, "Direction"); d && *d == 1.0)
    plan.direction = PlanDirection::kRisingThenFalling;
  const std::optional<double> kind = ReadNumber(values, section, "ToleranceKind");
  const std::optional<double> tolerance = ReadNumber(values, section, "Tolerance");
  if (kind && tolerance && *tolerance >= 0.0 && (*kind == 0.0 || *kind == 1.0 || *kind == 2.0)) {
    plan.tolerance_kind = static_cast<ToleranceKind>(static_cast<int>(*kind));
    plan.tolerance = *tolerance;
  }
  if (const std::optional<double> r = ReadNumber(values, section, "Rule"); r && *r == 1.0)
    plan.rule = DecisionRule::kGuardBanded;
  plan.reference = values.Get(section, "Reference").value_or("");
  return plan;
}

bool SaveTestPlan(const std::string& ini_path, int channel, const TestPlan& plan,
                  std::string* reason) {
  std::string bytes;
  const IniFileState state = ReadIniFile(ini_path, bytes);
  if (state != IniFileState::kRead && state != IniFileState::kMissing) {
    if (reason != nullptr)
      *reason = "settings file not readable";
    return false;
  }
  IniDocument document(bytes);
  const char* section = PlanSection(channel);
  const bool set =
      document.Set(section, "RangeLow", Trimmed(plan.range_low)) &&
      document.Set(section, "RangeHigh", Trimmed(plan.range_high)) &&
      document.Set(section, "Points", PlanPointsText(plan.points)) &&
      document.Set(section, "Direction",
                   plan.direction == PlanDirection::kRisingThenFalling ? "1" : "0") &&
      document.Set(section, "ToleranceKind",
                   std::to_string(static_cast<int>(plan.tolerance_kind))) &&
      document.Set(section, "Tolerance", Trimmed(plan.tolerance)) &&
      document.Set(section, "Rule", plan.rule == DecisionRule::kGuardBanded ? "1" : "0") &&
      document.Set(section, "Reference", plan.reference);
  if (!set) {
    if (reason != nullptr)
      *reason = "a value cannot be kept in the settings file";
    return false;
  }
  return ReplaceFileAtomically(ini_path, document.Bytes(), reason);
}
