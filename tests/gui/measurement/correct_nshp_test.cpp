#include "gui/measurement/correct_nshp.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWindow>
#include <QtTest>
#include <cmath>
#include <vector>

#include "core/number_format.h"
#include "tests/support/meas_fixture.h"
#include "tests/support/qt_modal.h"

namespace {

const char kOrderCaption[] = "має бути менше, ніж зачення у точці 2";

// Texts of all labels inside `group`, in creation order.
QStringList LabelTexts(const QGroupBox* group) {
  QStringList texts;
  for (const QLabel* label : group->findChildren<QLabel*>())
    texts << label->text();
  return texts;
}

}  // namespace

class CorrectNshpTest : public QObject {
  Q_OBJECT

  // A shown dialog on `record`, with the statistics collection replaced by one that hands
  // back the given averages in turn (none left: cancelled).
  struct Bench {
    explicit Bench(uint8_t channel = 0, uint8_t p_unit = kKilopascalUnit, uint8_t digits = 2)
        : m(channel, p_unit), record(MakeRecord(1.0, digits)), dialog(m.state) {
      dialog.record = &record;
      dialog.collect_statistics = [this](CalibrationRecord& r) {
        points_asked.push_back(r.point);
        if (averages.empty())
          return false;
        r.received[r.point] = averages.front();
        averages.erase(averages.begin());
        return true;
      };
      dialog.show();
    }

    void Fill(const QString& a1, const QString& r1, const QString& a2, const QString& r2) {
      dialog.Edit1->setText(a1);
      dialog.Edit3->setText(r1);
      dialog.Edit2->setText(a2);
      dialog.Edit4->setText(r2);
    }

    void Calculate() { QTest::mouseClick(dialog.BitBtn4, Qt::LeftButton); }

    MeasState m;
    CalibrationRecord record;
    TFormCorrect_NSHP dialog;
    std::vector<float> averages;
    std::vector<int> points_asked;
  };

 private slots:
  void pressureCaptionUnitsAndInstructions() {
    Bench b(0, 5);
    QCOMPARE(FormCorrect_NSHP, &b.dialog);
    QCOMPARE(b.dialog.windowTitle(), QStringLiteral("Калібровка каналу \"Тиск\" за двома точками"));
    for (QLabel* unit : {b.dialog.Label3, b.dialog.Label4, b.dialog.Label5, b.dialog.Label6})
      QCOMPARE(unit->text(), QStringLiteral("мм рт.ст."));
    QCOMPARE(b.dialog.GroupBox1->title(), QStringLiteral(" Перша точка "));
    QCOMPARE(b.dialog.GroupBox2->title(), QStringLiteral(" Друга точка "));
    for (int i = 0; i < 2; ++i) {
      const QStringList texts = LabelTexts(i == 0 ? b.dialog.GroupBox1 : b.dialog.GroupBox2);
      const QStringList lines = {
          QStringLiteral("Подайте на вхід  каналу"),
          i == 0 ? QStringLiteral("значення поблизу нижньої точки діапазону,")
                 : QStringLiteral("значення поблизу верхньої точки діапазону,"),
          QStringLiteral("введіть це значення і натисніть кнопку"),
          QStringLiteral("\"Набір статистики\","),
          QStringLiteral("або введіть потрібне значеняя"),
      };
      QCOMPARE(texts.mid(0, 5), lines);
      QVERIFY(texts.contains(QStringLiteral("Подане значення")));
      QVERIFY(texts.contains(QStringLiteral("Отримане значення")));
    }
    QCOMPARE(b.dialog.BitBtn1->text(), QStringLiteral("Набір статистики"));
    QCOMPARE(b.dialog.BitBtn2->text(), QStringLiteral("Набір статистики"));
    QCOMPARE(b.dialog.BitBtn5->text(), QStringLiteral("Анулювати значення"));
    QCOMPARE(b.dialog.BitBtn6->text(), QStringLiteral("Анулювати значення"));
    QCOMPARE(b.dialog.BitBtn4->text(), QStringLiteral("Виконати розрахунок"));
    QCOMPARE(b.dialog.BitBtn3->text(), QStringLiteral("Відмінити"));
    QCOMPARE(b.dialog.BitBtn7->text(), QStringLiteral("Записати налаштування виробника"));
    QVERIFY(b.dialog.BitBtn4->isDefault());
    for (QLineEdit* edit : {b.dialog.Edit1, b.dialog.Edit2, b.dialog.Edit3, b.dialog.Edit4})
      QVERIFY(edit->text().isEmpty());
    QCOMPARE(b.dialog.result, TFormCorrect_NSHP::kCancelled);
  }

  void temperatureCaptionAndUnitWhateverThePressureUnit() {
    Bench b(1, 5);
    QCOMPARE(b.dialog.windowTitle(),
             QStringLiteral("Калібровка каналу \"Температура\" за двома точками"));
    for (QLabel* unit : {b.dialog.Label3, b.dialog.Label4, b.dialog.Label5, b.dialog.Label6})
      QCOMPARE(unit->text(), QStringLiteral("°С"));
  }

  void editsTakeOnlyNumberShapes() {
    Bench b;
    b.dialog.Edit1->setFocus();
    QTest::keyClicks(b.dialog.Edit1, QStringLiteral("-1,5x.e+2"));
    QCOMPARE(b.dialog.Edit1->text(), QStringLiteral("-1.5e+2"));
  }

  void acceptedPointsAreHandedBack() {
    Bench b;
    b.Fill(QStringLiteral("0"), QStringLiteral("0.5"), QStringLiteral("100"),
           QStringLiteral("100.5"));
    b.Calculate();
    QCOMPARE(b.dialog.result, TFormCorrect_NSHP::kPointsAccepted);
    QVERIFY(!b.dialog.isVisible());
    QCOMPARE(b.record.applied[0], 0.0f);
    QCOMPARE(b.record.applied[1], 100.0f);
    QCOMPARE(b.record.received[0], 0.5f);
    QCOMPARE(b.record.received[1], 100.5f);
    QVERIFY(b.m.ui.messages.empty());
  }

  void missingValuesAreReported() {
    Bench b;
    b.Fill(QStringLiteral("0"), QStringLiteral("0.5"), QStringLiteral("100"), QString());
    b.Calculate();
    QCOMPARE(b.m.ui.messages.size(), 1u);
    QCOMPARE(Q(b.m.ui.messages[0].text), QStringLiteral("Введені не всі дані для розрахунку"));
    QCOMPARE(Q(b.m.ui.messages[0].caption), QString());
    QVERIFY(b.dialog.isVisible());
    QCOMPARE(b.dialog.result, TFormCorrect_NSHP::kCancelled);
  }

  void appliedOrderIsCheckedBeforeTheReceivedValuesAreRead() {
    Bench b;
    // The received values are not even numbers: the applied ones are refused first.
    b.Fill(QStringLiteral("100"), QStringLiteral("-"), QStringLiteral("100"), QStringLiteral("1e"));
    b.Calculate();
    QCOMPARE(b.m.ui.messages.size(), 1u);
    QCOMPARE(Q(b.m.ui.messages[0].text), QStringLiteral("В точці 1 подане значення параметру"));
    QCOMPARE(Q(b.m.ui.messages[0].caption), QString::fromUtf8(kOrderCaption));
    QVERIFY(b.dialog.isVisible());
    QCOMPARE(b.dialog.Edit3->text(), QStringLiteral("-"));

    b.m.ui.messages.clear();
    b.Fill(QStringLiteral("0"), QStringLiteral("50"), QStringLiteral("100"), QStringLiteral("50"));
    b.Calculate();
    QCOMPARE(b.m.ui.messages.size(), 1u);
    QCOMPARE(Q(b.m.ui.messages[0].text), QStringLiteral("В точці 1 отримане значення параметру"));
    QCOMPARE(Q(b.m.ui.messages[0].caption), QString::fromUtf8(kOrderCaption));
    QCOMPARE(b.dialog.result, TFormCorrect_NSHP::kCancelled);
  }

  void decreasingPointsAreRefusedNotSwapped() {
    Bench b;
    b.Fill(QStringLiteral("100"), QStringLiteral("100.5"), QStringLiteral("0"),
           QStringLiteral("0.5"));
    b.Calculate();
    QCOMPARE(Q(b.m.ui.messages.at(0).text), QStringLiteral("В точці 1 подане значення параметру"));
    QCOMPARE(b.dialog.Edit1->text(), QStringLiteral("100"));
    QCOMPARE(b.dialog.Edit2->text(), QStringLiteral("0"));

    b.m.ui.messages.clear();
    b.Fill(QStringLiteral("0"), QStringLiteral("100.5"), QStringLiteral("100"),
           QStringLiteral("0.5"));
    b.Calculate();
    QCOMPARE(Q(b.m.ui.messages.at(0).text),
             QStringLiteral("В точці 1 отримане значення параметру"));
    QVERIFY(b.dialog.isVisible());

    // Values equal once they are 32-bit numbers are equal.
    b.m.ui.messages.clear();
    b.Fill(QStringLiteral("16777216"), QStringLiteral("0.5"), QStringLiteral("16777217"),
           QStringLiteral("100.5"));
    b.Calculate();
    QCOMPARE(Q(b.m.ui.messages.at(0).text), QStringLiteral("В точці 1 подане значення параметру"));
  }

  void textThatIsNoNumberStopsTheCalculation() {
    Bench b;
    for (const QString& text :
         {QStringLiteral("-"), QStringLiteral("1e"), QStringLiteral("1.5e-")}) {
      b.m.ui.messages.clear();
      b.Fill(text, QStringLiteral("0.5"), QStringLiteral("100"), QStringLiteral("100.5"));
      b.Calculate();
      QCOMPARE(b.m.ui.messages.size(), 1u);
      QCOMPARE(Q(b.m.ui.messages[0].text), Q(NotANumberMessage(text.toStdString())));
      QCOMPARE(Q(b.m.ui.messages[0].caption), QString());
      QVERIFY(b.dialog.isVisible());
    }
    QCOMPARE(b.record.applied[0], 0.0f);
    QCOMPARE(b.record.applied[1], 0.0f);
  }

  void valuesBeyondThirtyTwoBitsAreRefused() {
    Bench b;
    b.Fill(QStringLiteral("0"), QStringLiteral("0.5"), QStringLiteral("1e39"),
           QStringLiteral("100.5"));
    b.Calculate();
    QCOMPARE(b.m.ui.messages.size(), 1u);
    QCOMPARE(Q(b.m.ui.messages[0].text), Q(OutOfRangeMessage("1e39")));
    QCOMPARE(b.record.applied[1], 0.0f);  // nothing stored

    // Pasted past the key filter.
    b.m.ui.messages.clear();
    b.Fill(QStringLiteral("0"), QStringLiteral("-inf"), QStringLiteral("100"),
           QStringLiteral("100.5"));
    b.Calculate();
    QCOMPARE(Q(b.m.ui.messages.at(0).text), Q(OutOfRangeMessage("-inf")));
    QVERIFY(std::isfinite(b.record.received[0]));
    QCOMPARE(b.dialog.result, TFormCorrect_NSHP::kCancelled);
    QVERIFY(b.dialog.isVisible());
  }

  void theReferencesMeanFillsTheAppliedValueAndRetypingMakesItTyped() {
    Bench b;
    b.dialog.collect_statistics = [](CalibrationRecord& r) {
      const size_t i = r.point;
      r.received[i] = i == 0 ? 10.0f : 200.0f;
      r.applied[i] = i == 0 ? 10.0123f : 199.9876f;  // as the reference gave them
      r.applied_readings[i] = 10;
      r.applied_deviation[i] = 0.004f;
      return true;
    };
    QTest::mouseClick(b.dialog.BitBtn1, Qt::LeftButton);
    QTest::mouseClick(b.dialog.BitBtn2, Qt::LeftButton);
    QCOMPARE(b.dialog.Edit1->text(), QStringLiteral("10.01"));
    QCOMPARE(b.dialog.Edit2->text(), QStringLiteral("199.99"));
    b.Calculate();
    QCOMPARE(b.dialog.result, TFormCorrect_NSHP::kPointsAccepted);
    QCOMPARE(b.record.applied[0], 10.0123f);  // the mean itself, not its rounding
    QCOMPARE(b.record.applied_readings[0], 10);
    QCOMPARE(b.record.applied_deviation[1], 0.004f);

    b.dialog.show();
    Retype(b.dialog.Edit2, QStringLiteral("200"));
    b.Calculate();
    QCOMPARE(b.record.applied[1], 200.0f);
    QCOMPARE(b.record.applied_readings[1], 0);  // typed over the reference's
    QCOMPARE(b.record.applied_deviation[1], 0.0f);
    QCOMPARE(b.record.applied_readings[0], 10);
  }

  void statisticsShowTheAverageRoundedButHandItOnInFull() {
    Bench b;
    b.averages = {99.8765f, 150.25f};
    QTest::mouseClick(b.dialog.BitBtn1, Qt::LeftButton);
    QCOMPARE(b.dialog.Edit3->text(), QStringLiteral("99.88"));
    QTest::mouseClick(b.dialog.BitBtn2, Qt::LeftButton);
    QCOMPARE(b.dialog.Edit4->text(), QStringLiteral("150.25"));
    QCOMPARE(b.points_asked, (std::vector<int>{0, 1}));

    // Cancelled statistics leave the edit as it was.
    b.dialog.Edit4->setText(QStringLiteral("151"));
    QTest::mouseClick(b.dialog.BitBtn2, Qt::LeftButton);
    QCOMPARE(b.dialog.Edit4->text(), QStringLiteral("151"));
    QCOMPARE(b.record.point, 1);

    b.dialog.Edit1->setText(QStringLiteral("100"));
    b.dialog.Edit2->setText(QStringLiteral("150"));
    b.Calculate();
    QCOMPARE(b.dialog.result, TFormCorrect_NSHP::kPointsAccepted);
    QCOMPARE(b.record.received[0], 99.8765f);  // the average itself, not its rounding
    QCOMPARE(b.record.received[1], 151.0f);    // typed over the collected one

    // Changed and changed back is the collected value again; changed is the text.
    b.dialog.show();
    Retype(b.dialog.Edit3, QStringLiteral("99.9"));
    b.Calculate();
    QCOMPARE(b.record.received[0], 99.9f);
    Retype(b.dialog.Edit3, QStringLiteral("99.88"));
    b.dialog.show();
    b.Calculate();
    QCOMPARE(b.record.received[0], 99.8765f);
  }

  void clearingButtonsClearOnePointAndEscapeAsksToCancel() {
    Bench b;
    b.Fill(QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"));
    QTest::mouseClick(b.dialog.BitBtn6, Qt::LeftButton);
    QCOMPARE(b.dialog.Edit2->text(), QString());
    QCOMPARE(b.dialog.Edit4->text(), QString());
    QCOMPARE(b.dialog.Edit1->text(), QStringLiteral("1"));

    // Esc clears nothing: it asks as "Відмінити" does.
    b.Fill(QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"));
    b.m.ui.answers = {false};
    QTest::keyClick(b.dialog.Edit4, Qt::Key_Escape);
    QVERIFY(b.dialog.isVisible());
    QCOMPARE(b.m.ui.questions.size(), 1u);
    QCOMPARE(Q(b.m.ui.questions[0].line2.value()), QStringLiteral("відмінити калібровку?"));
    for (QLineEdit* edit : {b.dialog.Edit1, b.dialog.Edit2, b.dialog.Edit3, b.dialog.Edit4})
      QVERIFY(!edit->text().isEmpty());

    QTest::mouseClick(b.dialog.BitBtn5, Qt::LeftButton);
    QCOMPARE(b.dialog.Edit1->text(), QString());
    QCOMPARE(b.dialog.Edit3->text(), QString());
    QCOMPARE(b.dialog.Edit2->text(), QStringLiteral("3"));
    QCOMPARE(b.record.applied[0], 0.0f);

    b.m.ui.answers = {true};
    QTest::keyClick(b.dialog.Edit2, Qt::Key_Escape);
    QVERIFY(!b.dialog.isVisible());
    QCOMPARE(b.dialog.result, TFormCorrect_NSHP::kCancelled);
  }

  void factorySettingNeedsNoPoints() {
    Bench b;
    b.record.offset = 5.0f;
    b.record.slope = 3.0f;
    b.m.ui.answers = {false};
    QTest::mouseClick(b.dialog.BitBtn7, Qt::LeftButton);
    QVERIFY(b.dialog.isVisible());
    QCOMPARE(b.record.slope, 3.0f);

    b.m.ui.answers = {true};
    QTest::mouseClick(b.dialog.BitBtn7, Qt::LeftButton);
    QVERIFY(!b.dialog.isVisible());
    QCOMPARE(b.dialog.result, TFormCorrect_NSHP::kFactorySetting);
    QCOMPARE(b.record.offset, 0.0f);
    QCOMPARE(b.record.slope, 1.0f);
    QCOMPARE(b.m.ui.questions.size(), 2u);
    for (const ScriptedHost::Question& q : b.m.ui.questions) {
      QCOMPARE(Q(q.line1), QStringLiteral("Ви впевнені, що хочете"));
      QCOMPARE(Q(q.line2.value()), QStringLiteral("повернутися до налаштування виробника?"));
      QVERIFY(!q.line3.has_value());
    }
    QVERIFY(b.m.ui.messages.empty());
  }

  void cancelAsksFirst() {
    Bench b;
    b.Fill(QStringLiteral("0"), QStringLiteral("0.5"), QStringLiteral("100"),
           QStringLiteral("100.5"));
    b.m.ui.answers = {false};
    QTest::mouseClick(b.dialog.BitBtn3, Qt::LeftButton);
    QVERIFY(b.dialog.isVisible());
    QCOMPARE(b.m.ui.questions.size(), 1u);
    QCOMPARE(Q(b.m.ui.questions[0].line1), QStringLiteral("Ви впевнені, що хочете"));
    QCOMPARE(Q(b.m.ui.questions[0].line2.value()), QStringLiteral("відмінити калібровку?"));
    QVERIFY(!b.m.ui.questions[0].line3.has_value());

    b.m.ui.answers = {true};
    QTest::mouseClick(b.dialog.BitBtn3, Qt::LeftButton);
    QVERIFY(!b.dialog.isVisible());
    QCOMPARE(b.dialog.result, TFormCorrect_NSHP::kCancelled);
  }

  void closeBoxHandsBackNothing() {
    MeasState m;
    CalibrationRecord record = MakeRecord(1.0, 2);
    TFormCorrect_NSHP dialog(m.state);
    dialog.record = &record;
    // A window with nothing in it has nothing to lose: it closes without a question.
    OnNextModal<TFormCorrect_NSHP>([](TFormCorrect_NSHP* shown) { shown->close(); });
    dialog.exec();
    QCOMPARE(dialog.result, TFormCorrect_NSHP::kCancelled);
    QVERIFY(m.ui.questions.empty());
  }

  void closeBoxAsksAsCancelOnceAPointHoldsValues() {
    Bench b;
    b.dialog.Edit2->setText(QStringLiteral("100"));
    b.m.ui.answers = {false};
    // As the window system delivers the close box.
    b.dialog.windowHandle()->close();
    QVERIFY(b.dialog.isVisible());
    QCOMPARE(b.m.ui.questions.size(), 1u);
    QCOMPARE(Q(b.m.ui.questions[0].line1), QStringLiteral("Ви впевнені, що хочете"));
    QCOMPARE(Q(b.m.ui.questions[0].line2.value()), QStringLiteral("відмінити калібровку?"));
    QVERIFY(!b.m.ui.questions[0].line3.has_value());
    QVERIFY(!b.m.ui.questions[0].cautious);  // only typed values: as "Відмінити" always asked
    QCOMPARE(b.dialog.Edit2->text(), QStringLiteral("100"));

    b.m.ui.answers = {true};
    b.dialog.windowHandle()->close();
    QVERIFY(!b.dialog.isVisible());
    QCOMPARE(b.dialog.result, TFormCorrect_NSHP::kCancelled);
  }

  void collectedReadingsAreKeptByDefault() {
    Bench b;
    b.averages = {99.8765f};
    QTest::mouseClick(b.dialog.BitBtn1, Qt::LeftButton);
    QCOMPARE(b.dialog.Edit3->text(), QStringLiteral("99.88"));
    // Every way of abandoning the window asks with "Ні" as its default.
    b.dialog.windowHandle()->close();
    QTest::keyClick(b.dialog.Edit1, Qt::Key_Escape);
    QTest::mouseClick(b.dialog.BitBtn3, Qt::LeftButton);
    QCOMPARE(b.m.ui.questions.size(), 3u);
    for (const ScriptedHost::Question& q : b.m.ui.questions) {
      QVERIFY(q.cautious);
      QCOMPARE(Q(q.line2.value()), QStringLiteral("відмінити калібровку?"));
    }
    QVERIFY(b.dialog.isVisible());
    QCOMPARE(b.dialog.Edit3->text(), QStringLiteral("99.88"));

    // Once the average is typed over, nothing collected is at stake.
    Retype(b.dialog.Edit3, QStringLiteral("99.9"));
    QTest::mouseClick(b.dialog.BitBtn3, Qt::LeftButton);
    QVERIFY(!b.m.ui.questions.back().cautious);
  }

  void enterCalculates() {
    Bench b;
    b.Fill(QStringLiteral("0"), QStringLiteral("0.5"), QStringLiteral("100"),
           QStringLiteral("100.5"));
    QTest::keyClick(b.dialog.Edit4, Qt::Key_Return);
    QCOMPARE(b.dialog.result, TFormCorrect_NSHP::kPointsAccepted);
  }

  void readingCalibrationValues() {
    QCOMPARE(ReadCalibrationValue("-1.5e2"), std::optional<double>(-150.0));
    QVERIFY(std::isinf(*ReadCalibrationValue("INF")));
    QVERIFY(*ReadCalibrationValue("-Inf") < 0);
    QVERIFY(std::isnan(*ReadCalibrationValue("NAN")));
    QVERIFY(!ReadCalibrationValue("-"));
    QVERIFY(!ReadCalibrationValue("1e"));
    QVERIFY(!ReadCalibrationValue("in"));
    QVERIFY(!ReadCalibrationValue("--inf"));
    QVERIFY(!ReadCalibrationValue(""));
  }
};

QTEST_MAIN(CorrectNshpTest)
#include "correct_nshp_test.moc"
