#include "core/calibration_restore.h"

#include <limits>

#include <gtest/gtest.h>

#include "core/calibration_certificate.h"

namespace {

JournalRecord OnLine(int line) {
  JournalRecord r;
  r.time = "2026-12-08T11:02:03.456+02:00";
  r.through_corrector = true;
  r.port = 3;
  r.corrector_address = 1;
  r.plate = 26;
  r.line = line;
  r.sensor_address = 101;
  r.unit = "кПа";
  return r;
}

// Found at slope 1.25, offset -2 (kPa); points 120 applied / 123 received and 200 / 205;
// written as the two points give it.
JournalRecord Calibrated() {
  JournalRecord r = OnLine(2);
  r.as_found = SensorCalibration{-2.0f, 1.25f};
  r.points = {{120.0, 123.0, 10, 0.004}, {200.0, 205.0, 0, 0.0}};
  r.written = SensorCalibration{-1.95122f, 1.21951f};
  r.read_back = r.written;
  r.read_back_matches = true;
  r.outcome = JournalOutcome::kWritten;
  r.note = "a <b> & \"c\"";
  return r;
}

}  // namespace

TEST(CalibrationRestore, SameChannelIsTheSameSensorWhereverThePortIs) {
  const JournalRecord link = OnLine(2);
  JournalRecord r = OnLine(2);
  r.port = 7;
  EXPECT_TRUE(SameChannel(link, r));
  r.plate.reset();  // an older record that did not know it
  EXPECT_TRUE(SameChannel(link, r));
  r.line = 3;
  EXPECT_FALSE(SameChannel(link, r));
  r = OnLine(2);
  r.channel = 1;
  EXPECT_FALSE(SameChannel(link, r));
  r = OnLine(2);
  r.corrector_address = 2;
  EXPECT_FALSE(SameChannel(link, r));
  r = OnLine(2);
  r.through_corrector = false;
  r.line.reset();
  EXPECT_FALSE(SameChannel(link, r));
  JournalRecord direct = r;
  direct.port = 1;
  EXPECT_TRUE(SameChannel(direct, r));

  const std::vector<JournalRecord> all = {OnLine(1), OnLine(2), r, OnLine(2)};
  EXPECT_EQ(RecordsOfChannel(all, link).size(), 2u);
}

TEST(CalibrationRestore, TargetsAreWhatWasFoundOrLeftAndNeverAnUnwritableOne) {
  JournalRecord r = Calibrated();
  EXPECT_TRUE(RestoreTarget(r, RestoreWhich::kAsFound)->SameBits({-2.0f, 1.25f}));
  r.read_back = SensorCalibration{-1.5f, 1.2f};  // the sensor kept something else
  EXPECT_TRUE(RestoreTarget(r, RestoreWhich::kAsLeft)->SameBits(*r.read_back));
  r.read_back.reset();
  EXPECT_TRUE(RestoreTarget(r, RestoreWhich::kAsLeft)->SameBits(*r.written));

  JournalRecord cancelled = OnLine(2);
  cancelled.as_found = SensorCalibration{0.5f, 2.0f};
  EXPECT_FALSE(RestoreTarget(cancelled, RestoreWhich::kAsLeft));
  cancelled.as_found = SensorCalibration{std::numeric_limits<float>::quiet_NaN(), 1.0f};
  EXPECT_FALSE(RestoreTarget(cancelled, RestoreWhich::kAsFound));
  cancelled.as_found = SensorCalibration{0.0f, 0.0f};
  EXPECT_FALSE(RestoreTarget(cancelled, RestoreWhich::kAsFound));

  EXPECT_EQ(JournalTimeText(r.time), "08.12.2026 11:02:03");
  EXPECT_EQ(JournalTimeText("garbage"), "garbage");
  EXPECT_EQ(RestoreNote(r, RestoreWhich::kAsFound),
            "як знайдено за записом 2026-12-08T11:02:03.456+02:00");
}

TEST(CalibrationCertificate, ErrorsBeforeAndAfterComeFromTheFoundAndTheLeftCalibration) {
  const std::vector<CertificatePoint> points = CertificatePoints(Calibrated());
  ASSERT_EQ(points.size(), 2u);
  EXPECT_DOUBLE_EQ(points[0].error_before, 3.0);
  EXPECT_DOUBLE_EQ(points[1].error_before, 5.0);
  // The new calibration takes both points onto their applied values (to float precision).
  ASSERT_TRUE(points[0].error_after && points[1].error_after);
  EXPECT_NEAR(*points[0].error_after, 0.0, 1e-3);
  EXPECT_NEAR(*points[1].error_after, 0.0, 1e-3);

  JournalRecord refused = Calibrated();
  refused.written.reset();
  refused.read_back.reset();
  refused.outcome = JournalOutcome::kRefused;
  EXPECT_FALSE(CertificatePoints(refused)[0].error_after);

  // Points in MPa: the raw value is in kPa, so the factor enters the prediction.
  JournalRecord mpa = Calibrated();
  mpa.unit = "МПа";
  mpa.points = {{0.12, 0.123, 10, 0.0}, {0.2, 0.205, 10, 0.0}};
  mpa.as_found = SensorCalibration{-2.0f, 1.25f};
  mpa.written = SensorCalibration{-1.95122f, 1.21951f};
  mpa.read_back = mpa.written;
  const std::vector<CertificatePoint> in_mpa = CertificatePoints(mpa);
  EXPECT_NEAR(*in_mpa[1].reading_after, 0.2, 1e-6);

  EXPECT_EQ(CertificateDecimals("кПа"), 3);
  EXPECT_EQ(CertificateDecimals("МПа"), 6);
  EXPECT_EQ(CertificateDecimals("мбар"), 2);
  EXPECT_EQ(CertificateDecimals("°С"), 3);
}

TEST(CalibrationCertificate, TextNamesTheConnectionEscapesNotesAndTellsHowTheWriteEnded) {
  const std::string html = CertificateHtml(Calibrated());
  // The rest of its text is read back from the PDF by the certificate's own test.
  for (const char* text : {"через коректор, адреса коректора 1, Plate 26, нитка 2", "введено",
                           "a &lt;b&gt; &amp; &quot;c&quot;"}) {
    EXPECT_NE(html.find(text), std::string::npos) << text;
  }
  JournalRecord failed = Calibrated();
  failed.read_back = SensorCalibration{0.0f, 1.0f};
  failed.read_back_matches = false;
  EXPECT_NE(CertificateHtml(failed).find("НЕ ЗБІГАЄТЬСЯ"), std::string::npos);
  JournalRecord factory = OnLine(1);
  factory.outcome = JournalOutcome::kFactory;
  EXPECT_NE(CertificateHtml(factory).find("налаштування виробника"), std::string::npos);
}
