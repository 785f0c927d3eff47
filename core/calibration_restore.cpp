#include "core/calibration_restore.h"

#include "core/calibration.h"
#include "core/number_format.h"

namespace {

// Unknown on either side says nothing against the match: older records may lack a field.
bool Agree(const std::optional<int>& a, const std::optional<int>& b) {
  return !a || !b || *a == *b;
}

constexpr int kCalibrationTextDecimals = 7;

}  // namespace

bool SameChannel(const JournalRecord& link, const JournalRecord& record) {
  if (link.through_corrector != record.through_corrector ||
      link.sensor_address != record.sensor_address || link.channel != record.channel)
    return false;
  if (!link.through_corrector)
    return true;
  return link.line == record.line && Agree(link.corrector_address, record.corrector_address) &&
         Agree(link.plate, record.plate);
}

std::vector<JournalRecord> RecordsOfChannel(const std::vector<JournalRecord>& records,
                                            const JournalRecord& link) {
  std::vector<JournalRecord> mine;
  for (const JournalRecord& r : records) {
    if (SameChannel(link, r))
      mine.push_back(r);
  }
  return mine;
}

std::optional<SensorCalibration> RestoreTarget(const JournalRecord& record, RestoreWhich which) {
  std::optional<SensorCalibration> target;
  if (which == RestoreWhich::kAsFound)
    target = record.as_found;
  else if (record.written)
    target = record.AsLeft();
  if (target && !IsWritableCalibration(target->offset, target->slope))
    return std::nullopt;
  return target;
}

std::string RestoreNote(const JournalRecord& source, RestoreWhich which) {
  return std::string(which == RestoreWhich::kAsFound ? "як знайдено" : "як залишено") +
         " за записом " + source.time;
}

std::string JournalTimeText(const std::string& time) {
  // yyyy-mm-ddThh:mm:ss...
  if (time.size() < 19 || time[4] != '-' || time[7] != '-' || time[10] != 'T')
    return time;
  return time.substr(8, 2) + "." + time.substr(5, 2) + "." + time.substr(0, 4) + " " +
         time.substr(11, 8);
}

std::string CalibrationText(const SensorCalibration& c) {
  return "зміщення " + FormatFixed(c.offset, kCalibrationTextDecimals) + ", нахил " +
         FormatFixed(c.slope, kCalibrationTextDecimals);
}
