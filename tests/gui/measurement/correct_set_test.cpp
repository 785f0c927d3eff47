#include "gui/measurement/correct_set.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <cmath>

#include "core/number_format.h"
#include "gui/measurement/correct_nshp.h"
#include "tests/support/meas_fixture.h"
#include "tests/support/qt_modal.h"

namespace {

constexpr double kMmHg = 7.50061438;
constexpr int kMmHgUnit = 5;

}  // namespace

class CorrectSetTest : public QObject {
  Q_OBJECT

  // Points 0 and 750.06 mm Hg (0 and 100 kPa), each read 1 mm Hg high.
  static CalibrationRecord MmHgRecord() {
    CalibrationRecord record = MakeRecord(kMmHg, 2);
    record.applied = {0.0f, 750.061438f};
    record.received = {1.0f, 751.061438f};
    return record;
  }

  // Shows the dialog for `record` on the state's channel and calibration.
  static void Show(TFormCorrect_Set& dialog, CalibrationRecord& record) {
    dialog.record = &record;
    dialog.show();
  }

 private slots:
  void kilopascalPointsGiveSlopeOneAndOffsetMinusHalf() {
    MeasState m;
    CalibrationRecord record = MakeRecord(1.0, 2);
    record.applied = {0.0f, 100.0f};
    record.received = {0.5f, 100.5f};
    TFormCorrect_Set dialog(m.state);
    QCOMPARE(FormCorrect_Set, &dialog);
    QVERIFY(!dialog.confirmed);
    Show(dialog, record);

    QCOMPARE(dialog.windowTitle(), QStringLiteral(" Результати виконаної коррекції "));
    QVERIFY(dialog.pn_1->isVisible());
    QVERIFY(!dialog.pn_2->isVisible());
    QCOMPARE(dialog.Panel1->text(), QStringLiteral("0.00"));
    QCOMPARE(dialog.Panel2->text(), QStringLiteral("0.50"));
    QCOMPARE(dialog.Panel3->text(), QStringLiteral("100.00"));
    QCOMPARE(dialog.Panel4->text(), QStringLiteral("100.50"));
    QCOMPARE(dialog.Panel5->text(), QStringLiteral("1.00000"));
    QCOMPARE(dialog.Panel6->text(), QStringLiteral("0.00000"));
    QCOMPARE(dialog.Edit1->text(), QStringLiteral("1.00000"));
    QCOMPARE(dialog.Edit2->text(), QStringLiteral("-0.50000"));
    for (QLabel* unit : {dialog.Label3, dialog.Label4, dialog.Label7, dialog.Label8, dialog.Label12,
                         dialog.Label15})
      QCOMPARE(unit->text(), QStringLiteral("кПа"));
    // The computed values are in the record from the start.
    QCOMPARE(record.slope, 1.0f);
    QCOMPARE(record.offset, -0.5f);

    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    QVERIFY(dialog.confirmed);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(record.slope, 1.0f);
    QCOMPARE(record.offset, -0.5f);
    QVERIFY(m.ui.messages.empty());
  }

  // An unlisted unit index stands for kPa, as in every dialog that shows a unit: the values
  // stay on the first panel, named in kPa, and are not converted.
  void unlistedPressureUnitShowsTheFirstPanelInKpa() {
    MeasState m(0, 9);
    CalibrationRecord record = MakeRecord(1.0, 2);
    record.applied = {0.0f, 100.0f};
    record.received = {0.5f, 100.5f};
    TFormCorrect_Set dialog(m.state);
    Show(dialog, record);
    QVERIFY(!dialog.UsesSecondPanel());
    QVERIFY(dialog.pn_1->isVisible());
    QCOMPARE(dialog.Label15->text(), QStringLiteral("кПа"));
    QCOMPARE(dialog.Panel4->text(), QStringLiteral("100.50"));
  }

  void currentCalibrationIsTakenIntoAccount() {
    MeasState m;
    m.state.SensorSlope = 2.0f;
    m.state.SensorOffset = 1.0f;
    CalibrationRecord record = MakeRecord(1.0, 2);
    record.applied = {10.0f, 110.0f};
    record.received = {12.0f, 112.0f};
    TFormCorrect_Set dialog(m.state);
    Show(dialog, record);
    QCOMPARE(dialog.Panel5->text(), QStringLiteral("2.00000"));
    QCOMPARE(dialog.Panel6->text(), QStringLiteral("1.00000"));
    QCOMPARE(dialog.Edit1->text(), QStringLiteral("2.00000"));
    QCOMPARE(dialog.Edit2->text(), QStringLiteral("-1.00000"));
    // The sensor's raw values at the two points were (12 - 1) / 2 and (112 - 1) / 2; the new
    // calibration maps them onto the applied values.
    QCOMPARE(record.slope * 5.5f + record.offset, 10.0f);
    QCOMPARE(record.slope * 55.5f + record.offset, 110.0f);
    // What the sensor will report follows the edits: the applied values, until one is changed.
    QCOMPARE(dialog.Predicted1->text(), QStringLiteral("10.00"));
    QCOMPARE(dialog.Predicted2->text(), QStringLiteral("110.00"));
    Retype(dialog.Edit1, QStringLiteral("20"));  // a slope typed ten times too large
    QCOMPARE(dialog.Predicted1->text(), QStringLiteral("109.00"));
    Retype(dialog.Edit1, QStringLiteral("-"));
    QCOMPARE(dialog.Predicted2->text(), QStringLiteral("—"));
  }

  void millimetresOfMercuryGoThroughTheKilopascalOffset() {
    MeasState m(0, kMmHgUnit);
    CalibrationRecord record = MmHgRecord();
    TFormCorrect_Set dialog(m.state);
    Show(dialog, record);

    QVERIFY(!dialog.pn_1->isVisible());
    QVERIFY(dialog.pn_2->isVisible());
    QVERIFY(dialog.UsesSecondPanel());
    QCOMPARE(dialog.Label16->text(), QStringLiteral("Давач передає дані в кПА"));
    for (QLabel* unit : {dialog.Label17, dialog.Label18, dialog.Label21, dialog.Label22,
                         dialog.Label25, dialog.Label28})
      QCOMPARE(unit->text(), QStringLiteral("мм рт.ст."));
    QCOMPARE(dialog.Panel8->text(), QStringLiteral("0.00"));
    QCOMPARE(dialog.Panel7->text(), QStringLiteral("0.00"));
    QCOMPARE(dialog.Panel9->text(), QStringLiteral("1.00"));
    QCOMPARE(dialog.Panel14->text(), QStringLiteral("0.13"));
    QCOMPARE(dialog.Panel10->text(), QStringLiteral("750.06"));
    QCOMPARE(dialog.Panel15->text(), QStringLiteral("100.00"));
    QCOMPARE(dialog.Panel11->text(), QStringLiteral("751.06"));
    QCOMPARE(dialog.Panel16->text(), QStringLiteral("100.13"));
    QCOMPARE(dialog.Panel12->text(), QStringLiteral("1.00000"));
    QCOMPARE(dialog.Panel13->text(), QStringLiteral("0.00000"));
    QCOMPARE(dialog.Panel17->text(), QStringLiteral("0.00000"));

    // The computed offset is -1 mm Hg; the two edits follow each other until the rounding
    // to 5 decimals settles.
    QCOMPARE(record.offset, -1.0f);
    QCOMPARE(dialog.Edit3->text(), QStringLiteral("1.00000"));
    QCOMPARE(dialog.Edit4->text(), QStringLiteral("-0.99998"));
    QCOMPARE(dialog.Edit5->text(), QStringLiteral("-0.13332"));
    QCOMPARE(dialog.Predicted3->text(), QStringLiteral("0.00"));  // the kPa offset, rounded
    QCOMPARE(dialog.PredictedUnit4->text(), QStringLiteral("мм рт.ст."));

    QTest::mouseClick(dialog.BitBtn4, Qt::LeftButton);
    QVERIFY(dialog.confirmed);
    QCOMPARE(record.offset, -0.13332f);  // kPa, from Edit5
    QCOMPARE(record.slope, 1.0f);
  }

  // Enter at once after the dialog opens, or in any edit, never writes: only the write button
  // itself does, here with Space.
  void enterNeverWritesOnEitherPanel() {
    for (const int unit : {kKilopascalUnit, kMmHgUnit}) {
      MeasState m(0, unit);
      CalibrationRecord record = MakeRecord(unit == kMmHgUnit ? kMmHg : 1.0, 2);
      record.applied = {0.0f, 100.0f};
      record.received = {0.5f, 100.5f};
      TFormCorrect_Set dialog(m.state);
      Show(dialog, record);
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
      for (QLineEdit* edit :
           {dialog.Edit1, dialog.Edit2, dialog.Edit3, dialog.Edit4, dialog.Edit5}) {
        if (!edit->isVisible())
          continue;
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClick(edit, Qt::Key_Enter);
      }
      QPushButton* write = dialog.UsesSecondPanel() ? dialog.BitBtn4 : dialog.BitBtn1;
      write->setFocus();
      QTest::keyClick(write, Qt::Key_Return);
      QVERIFY(!dialog.confirmed);
      QVERIFY(dialog.isVisible());
      QTest::keyClick(write, Qt::Key_Space);
      QVERIFY(dialog.confirmed);
    }
  }

  // The offset shown in the display unit is what the engineer checks; while it is no number
  // the older kPa value beside it must not be written.
  void offsetInTheDisplayUnitThatIsNoNumberIsRefusedByName() {
    MeasState m(0, kMmHgUnit);
    CalibrationRecord record = MmHgRecord();
    TFormCorrect_Set dialog(m.state);
    Show(dialog, record);
    dialog.Edit4->setText(QStringLiteral("-1.5e"));
    QCOMPARE(dialog.Edit5->text(), QStringLiteral("-0.13332"));  // waits for a number
    QTest::mouseClick(dialog.BitBtn4, Qt::LeftButton);
    QVERIFY(!dialog.confirmed);
    QCOMPARE(m.ui.messages.size(), size_t{1});
    const QString said = QString::fromStdString(m.ui.messages[0].text);
    QVERIFY2(said.contains(QStringLiteral("-1.5e")) &&
                 said.contains(QStringLiteral("Нове зміщення, мм рт.ст.")),
             qPrintable(said));
  }

  void offsetOfTheSensorIsConvertedBeforeItIsRemoved() {
    MeasState m(0, kMmHgUnit);
    m.state.SensorOffset = 1.0f;
    CalibrationRecord record = MakeRecord(kMmHg, 2);
    record.applied = {0.0f, 750.061438f};
    record.received = {7.50061438f, 757.56205238f};
    TFormCorrect_Set dialog(m.state);
    Show(dialog, record);
    QCOMPARE(dialog.Panel13->text(), QStringLiteral("7.50061"));
    QCOMPARE(dialog.Panel17->text(), QStringLiteral("1.00000"));
    QCOMPARE(dialog.Edit3->text(), QStringLiteral("1.00000"));
    QCOMPARE(dialog.Edit4->text(), QStringLiteral("0.00000"));
    QCOMPARE(dialog.Edit5->text(), QStringLiteral("0.00000"));
  }

  void temperatureAlwaysUsesTheFirstPanelInDegrees() {
    MeasState m(1, kMmHgUnit);
    CalibrationRecord record = MakeRecord(1.0, 1);
    record.applied = {0.0f, 50.0f};
    record.received = {0.2f, 50.2f};
    TFormCorrect_Set dialog(m.state);
    Show(dialog, record);
    QVERIFY(dialog.pn_1->isVisible());
    QVERIFY(!dialog.pn_2->isVisible());
    for (QLabel* unit : {dialog.Label3, dialog.Label4, dialog.Label7, dialog.Label8, dialog.Label12,
                         dialog.Label15})
      QCOMPARE(unit->text(), QStringLiteral("°С"));
    QCOMPARE(dialog.Panel4->text(), QStringLiteral("50.2"));
    QCOMPARE(dialog.Edit2->text(), QStringLiteral("-0.20000"));
  }

  void typedOffsetFollowsInTheOtherUnit() {
    MeasState m(0, kMmHgUnit);
    CalibrationRecord record = MmHgRecord();
    TFormCorrect_Set dialog(m.state);
    Show(dialog, record);

    Retype(dialog.Edit4, QStringLiteral("1"));
    QCOMPARE(dialog.Edit4->text(), QStringLiteral("0.99998"));
    QCOMPARE(dialog.Edit5->text(), QStringLiteral("0.13332"));

    // A negative offset on its way: neither a lone minus nor a bare exponent is a number yet,
    // so the other edit waits, and nobody is told off for typing.
    Retype(dialog.Edit4, QStringLiteral("-"));
    QCOMPARE(dialog.Edit4->text(), QStringLiteral("-"));
    QCOMPARE(dialog.Edit5->text(), QStringLiteral("0.13332"));
    dialog.Edit4->setText(QStringLiteral("-1e"));
    QCOMPARE(dialog.Edit5->text(), QStringLiteral("0.13332"));
    QVERIFY(m.ui.messages.empty());
    dialog.Edit4->setText(QStringLiteral("-75.0061438"));
    QCOMPARE(dialog.Edit5->text(), QStringLiteral("-10.00000"));

    Retype(dialog.Edit5, QStringLiteral("-"));
    QCOMPARE(dialog.Edit4->text(), QStringLiteral("-75.00614"));
    QVERIFY(m.ui.messages.empty());
  }

  void largeOffsetsSettle() {
    // Where 32-bit floats are coarser than 5 decimals the pair still comes to rest.
    for (int unit = 0; unit < static_cast<int>(PressureUnits.size()); ++unit) {
      if (unit == kKilopascalUnit)
        continue;
      MeasState m(0, static_cast<uint8_t>(unit));
      CalibrationRecord record = MakeRecord(PressureUnits[static_cast<size_t>(unit)].factor, 2);
      record.applied = {0.0f, 100.0f};
      record.received = {0.5f, 100.5f};
      TFormCorrect_Set dialog(m.state);
      Show(dialog, record);
      dialog.Edit4->setText(QStringLiteral("123456.78901"));
      const QString kpa = dialog.Edit5->text();
      QVERIFY(!kpa.isEmpty());
      dialog.Edit5->setText(kpa);  // unchanged text: nothing moves
      QCOMPARE(dialog.Edit5->text(), kpa);
    }
  }

  void emptiedKilopascalOffsetEmptiesItsViewAndIsMissing() {
    MeasState m(0, kMmHgUnit);
    CalibrationRecord record = MmHgRecord();
    TFormCorrect_Set dialog(m.state);
    Show(dialog, record);
    Retype(dialog.Edit5, QString());
    QCOMPARE(dialog.Edit5->text(), QString());
    QCOMPARE(dialog.Edit4->text(), QString());
    QTest::mouseClick(dialog.BitBtn4, Qt::LeftButton);
    QCOMPARE(m.ui.messages.size(), 1u);
    QCOMPARE(Q(m.ui.messages[0].text), QStringLiteral("Введені не всі дані для запису"));
    QCOMPARE(Q(m.ui.messages[0].caption), QString());
    QVERIFY(!dialog.confirmed);
    QVERIFY(dialog.isVisible());

    // The view alone is not enough: the kPa offset is the one written.
    dialog.Edit4->blockSignals(true);
    dialog.Edit4->setText(QStringLiteral("1.00000"));
    dialog.Edit4->blockSignals(false);
    QTest::mouseClick(dialog.BitBtn4, Qt::LeftButton);
    QCOMPARE(m.ui.messages.size(), 2u);
    QVERIFY(!dialog.confirmed);
  }

  void zeroSlopeIsRefusedNegativeIsNot() {
    MeasState m;
    CalibrationRecord record = MakeRecord(1.0, 2);
    record.applied = {0.0f, 100.0f};
    record.received = {0.5f, 100.5f};
    TFormCorrect_Set dialog(m.state);
    Show(dialog, record);
    for (const QString& zero : {QStringLiteral("0"), QStringLiteral("0.0"), QStringLiteral("-0"),
                                QStringLiteral("1e-50")}) {
      m.ui.messages.clear();
      Retype(dialog.Edit1, zero);
      QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
      QCOMPARE(m.ui.messages.size(), 1u);
      QCOMPARE(Q(m.ui.messages[0].text), QStringLiteral("Нахил не може бути рівним 0"));
      QVERIFY(!dialog.confirmed);
      QVERIFY(dialog.isVisible());
    }
    m.ui.messages.clear();
    Retype(dialog.Edit1, QStringLiteral("x"));
    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    QCOMPARE(Q(m.ui.messages.at(0).text), Q(NotANumberMessage("x")));
    QVERIFY(!dialog.confirmed);

    m.ui.messages.clear();
    Retype(dialog.Edit1, QStringLiteral("-1"));
    Retype(dialog.Edit2, QStringLiteral("3.25"));
    // A slope of -1 is doubtful: "Ні", the default, keeps the dialog open; "Так" writes it.
    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    QVERIFY(!dialog.confirmed);
    QCOMPARE(m.ui.questions.size(), 1u);
    QVERIFY(m.ui.questions[0].cautious);
    QVERIFY(Q(m.ui.questions[0].line2.value()).contains(QStringLiteral("-1.00000")));
    m.ui.answers = {true};
    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    QVERIFY(m.ui.messages.empty());
    QVERIFY(dialog.confirmed);
    QCOMPARE(record.slope, -1.0f);
    QCOMPARE(record.offset, 3.25f);
  }

  void valuesTheSensorCannotHoldAreNeverHandedBack() {
    MeasState m;
    CalibrationRecord record = MakeRecord(1.0, 2);
    record.applied = {0.0f, 100.0f};
    record.received = {0.5f, 100.5f};
    TFormCorrect_Set dialog(m.state);
    Show(dialog, record);

    Retype(dialog.Edit1, QStringLiteral("1e39"));
    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    QCOMPARE(m.ui.messages.size(), 1u);
    QCOMPARE(Q(m.ui.messages[0].text), Q(UnwritableValueMessage("1e39")));

    Retype(dialog.Edit1, QStringLiteral("1"));
    for (const QString& offset : {QStringLiteral("inf"), QStringLiteral("-INF"),
                                  QStringLiteral("NAN"), QStringLiteral("-1e40")}) {
      m.ui.messages.clear();
      Retype(dialog.Edit2, offset);
      QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
      QCOMPARE(m.ui.messages.size(), 1u);
      QCOMPARE(Q(m.ui.messages[0].text), Q(UnwritableValueMessage(offset.toStdString())));
    }
    QVERIFY(!dialog.confirmed);
    QVERIFY(dialog.isVisible());
    // What FormShow computed stays in the record; the caller writes nothing without confirmed.
    QCOMPARE(record.slope, 1.0f);
    QCOMPARE(record.offset, -0.5f);
  }

  void zeroCurrentSlopeGivesNoWritableCalibration() {
    MeasState m;
    m.state.SensorSlope = 0.0f;
    CalibrationRecord record = MakeRecord(1.0, 2);
    record.applied = {0.0f, 100.0f};
    record.received = {0.5f, 100.5f};
    TFormCorrect_Set dialog(m.state);
    Show(dialog, record);
    QCOMPARE(dialog.Edit1->text(), QStringLiteral("0.00000"));
    QCOMPARE(dialog.Edit2->text(), QStringLiteral("NAN"));
    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    QCOMPARE(Q(m.ui.messages.at(0).text), QStringLiteral("Нахил не може бути рівним 0"));
    // Another slope typed: the offset is still not a number.
    Retype(dialog.Edit1, QStringLiteral("1"));
    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    QCOMPARE(m.ui.messages.size(), 2u);
    QCOMPARE(Q(m.ui.messages[1].text), Q(UnwritableValueMessage("NAN")));
    QVERIFY(!dialog.confirmed);
  }

  void zeroCurrentSlopeInAnotherUnitToo() {
    MeasState m(0, kMmHgUnit);
    m.state.SensorSlope = 0.0f;
    CalibrationRecord record = MakeRecord(kMmHg, 2);
    record.applied = {0.0f, 750.0f};
    record.received = {1.0f, 751.0f};
    TFormCorrect_Set dialog(m.state);
    Show(dialog, record);
    QCOMPARE(dialog.Edit4->text(), QStringLiteral("NAN"));
    QCOMPARE(dialog.Edit5->text(), QStringLiteral("NAN"));
    Retype(dialog.Edit3, QStringLiteral("1"));
    QTest::mouseClick(dialog.BitBtn4, Qt::LeftButton);
    QCOMPARE(Q(m.ui.messages.at(0).text), Q(UnwritableValueMessage("NAN")));
    QVERIFY(!dialog.confirmed);
  }

  void cancelEscapeAndCloseBoxConfirmNothing() {
    MeasState m;
    CalibrationRecord record = MakeRecord(1.0, 2);
    record.applied = {0.0f, 100.0f};
    record.received = {0.5f, 100.5f};
    {
      TFormCorrect_Set dialog(m.state);
      Show(dialog, record);
      QTest::mouseClick(dialog.BitBtn2, Qt::LeftButton);
      QVERIFY(!dialog.isVisible());
      QVERIFY(!dialog.confirmed);
    }
    {
      TFormCorrect_Set dialog(m.state);
      Show(dialog, record);
      QTest::keyClick(dialog.Edit1, Qt::Key_Escape);
      QVERIFY(!dialog.isVisible());
      QVERIFY(!dialog.confirmed);
    }
    {
      TFormCorrect_Set dialog(m.state);
      Show(dialog, record);
      dialog.close();
      QVERIFY(!dialog.confirmed);
    }
    {
      MeasState mm(0, kMmHgUnit);
      CalibrationRecord mm_record = record;
      mm_record.factor = kMmHg;
      TFormCorrect_Set dialog(mm.state);
      Show(dialog, mm_record);
      QTest::mouseClick(dialog.BitBtn3, Qt::LeftButton);
      QVERIFY(!dialog.isVisible());
      QVERIFY(!dialog.confirmed);
    }
    QVERIFY(m.ui.messages.empty());
    QCOMPARE(FormCorrect_Set, nullptr);
  }

  void enterWritesWhenShownModally() {
    MeasState m;
    CalibrationRecord record = MakeRecord(1.0, 2);
    record.applied = {0.0f, 100.0f};
    record.received = {0.5f, 100.5f};
    TFormCorrect_Set dialog(m.state);
    dialog.record = &record;
    OnNextModal<TFormCorrect_Set>(
        [](TFormCorrect_Set* shown) { QTest::mouseClick(shown->BitBtn1, Qt::LeftButton); });
    dialog.exec();
    QVERIFY(dialog.confirmed);
    QCOMPARE(record.offset, -0.5f);
  }
};

QTEST_MAIN(CorrectSetTest)
#include "correct_set_test.moc"
