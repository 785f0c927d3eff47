#pragma once

#include <optional>
#include <string>
#include <vector>

// The reference standards an engineer verifies against: a small register in the settings
// folder, one standard a section, chosen at the start of a run and named on its certificate.

struct ReferenceStandard {
  std::string name;  // how the engineer tells it from the others; unique in the register
  std::string model;
  std::string serial;
  std::string certificate;   // number of its own calibration certificate
  std::string due_date;      // calibration due, YYYY-MM-DD
  double uncertainty = 0.0;  // expanded uncertainty U, in `unit`
  double coverage = 2.0;     // coverage factor k of U
  std::string unit;          // a display unit's name: "кПа", "бар", "°С", ...
};

// The register's file name inside the settings folder.
std::string ReferenceRegisterPath(const std::string& settings_folder);

// The standards of the register at `path` in its order; a missing file is an empty register,
// a section without a name is passed over.
std::vector<ReferenceStandard> LoadReferenceStandards(const std::string& path);
// Replaces the register at `path` as a whole (atomically). False with the reason when a field
// cannot be kept (a line break in it) or the file not written.
bool SaveReferenceStandards(const std::string& path, const std::vector<ReferenceStandard>& list,
                            std::string* reason = nullptr);

// Whether the standard's calibration is past due on `today` (YYYY-MM-DD); a date that is not
// one counts as past due, since nothing shows it is not.
bool PastDue(const ReferenceStandard& standard, const std::string& today);
// Today's local date as YYYY-MM-DD.
std::string TodayDate();
// Whether `text` is a calendar date written YYYY-MM-DD.
bool IsIsoDate(const std::string& text);

// U converted to the display unit `unit` of channel `channel` (0 pressure, 1 temperature);
// none when the standard's unit is not one the channel can be shown in.
std::optional<double> UncertaintyIn(const ReferenceStandard& standard, int channel,
                                    const std::string& unit);

// The standard on one line for people: name, model, serial number, certificate, due date and U.
std::string ReferenceText(const ReferenceStandard& standard);
