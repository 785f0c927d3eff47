#include "core/reference_standards.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "core/calibration.h"
#include "core/ini_file.h"
#include "core/number_format.h"

namespace {

constexpr const char* kKeys[] = {"Name",    "Model",       "Serial",   "Certificate",
                                 "DueDate", "Uncertainty", "Coverage", "Unit"};

std::string Trimmed(double v) {
  std::string text = FormatFixed(v, 6);
  while (!text.empty() && text.back() == '0')
    text.pop_back();
  if (!text.empty() && text.back() == '.')
    text.pop_back();
  return text;
}

// The factor that turns kPa into the pressure unit named `name`.
std::optional<double> PressureFactorOf(const std::string& name) {
  for (const PressureUnit& u : PressureUnits) {
    if (name == u.name)
      return u.factor;
  }
  return std::nullopt;
}

}  // namespace

std::string ReferenceRegisterPath(const std::string& settings_folder) {
  return settings_folder + "/reference-standards.ini";
}

std::vector<ReferenceStandard> LoadReferenceStandards(const std::string& path) {
  std::vector<ReferenceStandard> list;
  std::string bytes;
  if (ReadIniFile(path, bytes) != IniFileState::kRead)
    return list;
  const IniDocument document(bytes);
  const IniValues values(document);
  // Sections "Standard1", "Standard2", ... until the first that is not there.
  for (int n = 1;; ++n) {
    const std::string section = "Standard" + std::to_string(n);
    const std::optional<std::string> name = values.Get(section, "Name");
    if (!name)
      break;
    if (name->empty())
      continue;
    ReferenceStandard s;
    s.name = *name;
    s.model = values.Get(section, "Model").value_or("");
    s.serial = values.Get(section, "Serial").value_or("");
    s.certificate = values.Get(section, "Certificate").value_or("");
    s.due_date = values.Get(section, "DueDate").value_or("");
    s.uncertainty = ParseFloat(values.Get(section, "Uncertainty").value_or("")).value_or(0.0);
    s.coverage = ParseFloat(values.Get(section, "Coverage").value_or("")).value_or(2.0);
    s.unit = values.Get(section, "Unit").value_or("");
    if (!std::isfinite(s.uncertainty) || s.uncertainty < 0.0)
      s.uncertainty = 0.0;
    list.push_back(s);
  }
  return list;
}

bool SaveReferenceStandards(const std::string& path, const std::vector<ReferenceStandard>& list,
                            std::string* reason) {
  IniDocument document;
  for (size_t i = 0; i < list.size(); ++i) {
    const ReferenceStandard& s = list[i];
    const std::string section = "Standard" + std::to_string(i + 1);
    const std::string fields[] = {s.name,
                                  s.model,
                                  s.serial,
                                  s.certificate,
                                  s.due_date,
                                  Trimmed(s.uncertainty),
                                  Trimmed(s.coverage),
                                  s.unit};
    for (size_t k = 0; k < std::size(kKeys); ++k) {
      if (!document.Set(section, kKeys[k], fields[k])) {
        if (reason != nullptr)
          *reason = "\"" + fields[k] + "\" cannot be kept in the register";
        return false;
      }
    }
  }
  return ReplaceFileAtomically(path, document.Bytes(), reason);
}

bool IsIsoDate(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-')
    return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (text[i] < '0' || text[i] > '9')
      return false;
  }
  const int month = std::stoi(text.substr(5, 2));
  const int day = std::stoi(text.substr(8, 2));
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

bool PastDue(const ReferenceStandard& standard, const std::string& today) {
  // ISO dates compare as text.
  return !IsIsoDate(standard.due_date) || standard.due_date < today;
}

std::string TodayDate() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

std::optional<double> UncertaintyIn(const ReferenceStandard& standard, int channel,
                                    const std::string& unit) {
  if (standard.unit == unit)
    return standard.uncertainty;
  if (channel != 0)
    return std::nullopt;
  const std::optional<double> from = PressureFactorOf(standard.unit);
  const std::optional<double> to = PressureFactorOf(unit);
  if (!from || !to)
    return std::nullopt;
  return standard.uncertainty / *from * *to;
}

std::string ReferenceText(const ReferenceStandard& s) {
  return s.name + (s.model.empty() ? "" : ", " + s.model) +
         (s.serial.empty() ? "" : ", зав. № " + s.serial) +
         (s.certificate.empty() ? "" : ", свідоцтво № " + s.certificate) + ", дійсне до " +
         s.due_date + ", U = " + Trimmed(s.uncertainty) + " " + s.unit +
         " (k = " + Trimmed(s.coverage) + ")";
}
