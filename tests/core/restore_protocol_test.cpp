#include "core/restore_protocol.h"

#include <gtest/gtest.h>

#include "core/calibration_restore.h"

namespace {

// What the sensor held, what a restore of record `source` as found put back, and its read-back.
JournalRecord Restored(const JournalRecord& source) {
  JournalRecord r;
  r.time = "2026-12-09T08:15:00.000+02:00";
  r.port = 4;
  r.sensor_address = 7;
  r.unit = "кПа";
  r.as_found = SensorCalibration{-1.95122f, 1.21951f};
  r.written = source.as_found;
  r.read_back = source.as_found;
  r.read_back_matches = true;
  r.outcome = JournalOutcome::kRestored;
  r.note = RestoreNote(source, RestoreWhich::kAsFound);
  return r;
}

}  // namespace

TEST(RestoreProtocol, SaysWhatStoodWhatWentBackFromWhichRecordAndTheReadBack) {
  JournalRecord source;
  source.time = "2026-12-08T11:02:03.456+02:00";
  source.as_found = SensorCalibration{-2.0f, 1.25f};
  const JournalRecord restore = Restored(source);
  ASSERT_TRUE(HasRestoreProtocol(restore));

  const std::string html = RestoreProtocolHtml(restore);
  for (const char* text :
       {"ПРОТОКОЛ ВІДНОВЛЕННЯ КАЛІБРОВКИ ДАВАЧА", "09.12.2026 08:15:00",
        "напряму до давача (Modbus RTU)", "як знайдено, запис журналу від 08.12.2026 11:02:03",
        "Стояла в давачі</td><td>-1.9512200</td><td>1.2195100",
        "Повернуто</td><td>-2.0000000</td><td>1.2500000</td><td>0000 C000 0000 3FA0",
        "Прочитано після запису</td><td>-2.0000000", "біт у біт", "Підпис"}) {
    EXPECT_NE(html.find(text), std::string::npos) << text;
  }
  // Nothing of a calibration: no points, no certificate.
  for (const char* text : {"СЕРТИФІКАТ", "Калібровка без точок", "Точки"})
    EXPECT_EQ(html.find(text), std::string::npos) << text;

  JournalRecord differs = restore;
  differs.read_back = SensorCalibration{0.0f, 1.0f};
  differs.read_back_matches = false;
  EXPECT_NE(RestoreProtocolHtml(differs).find("НЕ ЗБІГАЄТЬСЯ"), std::string::npos);
  differs.read_back_matches.reset();
  differs.note = "a <b>";
  const std::string unread = RestoreProtocolHtml(differs);
  EXPECT_NE(unread.find("не прочитано"), std::string::npos);
  EXPECT_NE(unread.find("a &lt;b&gt;"), std::string::npos);

  // Only a restore that went through has one; a calibration keeps its certificate.
  for (JournalOutcome other : {JournalOutcome::kWritten, JournalOutcome::kFactory,
                               JournalOutcome::kFailed, JournalOutcome::kCancelled}) {
    JournalRecord r = restore;
    r.outcome = other;
    EXPECT_FALSE(HasRestoreProtocol(r));
  }
}
