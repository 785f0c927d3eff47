// The reference instrument's settings dialog over a real settings file on disk, its link check
// against a simulated instrument on the virtual clock.

#include "gui/connection/reference_setup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "core/app_state.h"
#include "core/reference_settings.h"
#include "sim/sim_reference.h"
#include "sim/virtual_line.h"
#include "tests/support/meas_fixture.h"

namespace {

// The file an engineer has: other sections and a comment around an old reference section, in
// Windows line ends.
const char kFile[] =
    "; vorlix\r\n[SETTINGS]\r\nport=3\r\nrate=9600\r\n\r\n[REFERENCE]\r\nport=0\r\n"
    "read=\"A?\"\r\n\r\n[DISPLAY]\r\nP_unit=5\r\n; the end\r\n";

QByteArray ReadAll(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly))
    return {};
  return file.readAll();
}

struct Bench {
  Bench() : meas(0) {
    path = folder.filePath(QStringLiteral("vorlix.ini")).toStdString();
    QFile file(QString::fromStdString(path));
    file.open(QIODevice::WriteOnly);
    file.write(kFile);
    file.close();
    AppState& state = meas.state;
    state.IniPath = path;
    state.clock = &clock;
    state.ConnectSettings.port = 3;
    state.ConnectSettings.P_format = 2;
    SimInput::Config held;
    held.value = 101.3;
    input = std::make_shared<SimInput>(held);
    state.make_reference_line = [this] {
      device = std::make_unique<SimReference>(reference, input);
      return std::make_unique<VirtualLine>(clock, device.get());
    };
  }

  QTemporaryDir folder;
  std::string path;
  MeasState meas;
  VirtualClock clock;
  SimReferenceConfig reference;
  std::shared_ptr<SimInput> input;
  std::unique_ptr<SimReference> device;
};

// The bytes of `file` around its [REFERENCE] section.
std::pair<QByteArray, QByteArray> AroundSection(const QByteArray& file) {
  const qsizetype from = file.indexOf("[REFERENCE]");
  const qsizetype to = file.indexOf("\r\n[", from + 1);
  return {file.left(from), file.mid(to)};
}

}  // namespace

class ReferenceSetupTest : public QObject {
  Q_OBJECT

 private slots:
  void acceptingWritesOnlyTheReferenceSectionAndEscLeavesTheFileAlone() {
    Bench b;
    {
      TFormReference d(b.meas.state);
      QCOMPARE(d.EditRead->text(), QStringLiteral("A?"));
      d.EditName->setText(QStringLiteral("КТ-1"));
      d.ComboRate->setCurrentIndex(d.ComboRate->findText(QStringLiteral("19200")));
      d.ComboParity->setCurrentIndex(1);
      Retype(d.EditTimeout, QStringLiteral("1500"));
      d.show();
      QTest::keyClick(d.EditTimeout, Qt::Key_Escape);
      QVERIFY(!d.isVisible());
      QVERIFY(!d.accepted);
    }
    QCOMPARE(ReadAll(b.path), QByteArray(kFile));

    TFormReference d(b.meas.state);
    d.show();
    d.ComboPreset->setCurrentIndex(1);
    d.PresetChosen(1);
    d.ComboPort->addItem(QStringLiteral("COM7"), 7);  // as if an adapter were there
    d.ComboPort->setCurrentIndex(d.ComboPort->count() - 1);
    d.ComboUnit->setCurrentIndex(d.ComboUnit->findText(QStringLiteral("bar")));
    Retype(d.EditTimeout, QStringLiteral("1500"));
    QTest::keyClick(d.EditTimeout, Qt::Key_Return);  // Enter is "Прийняти"
    QVERIFY(d.accepted);
    QVERIFY(b.meas.ui.messages.empty());

    const QByteArray after = ReadAll(b.path);
    QCOMPARE(AroundSection(after), AroundSection(QByteArray(kFile)));
    const ReferenceSettings s = LoadReferenceSettings(b.path);
    QCOMPARE(s.port, uint8_t{7});
    QCOMPARE(s.timeout, 1500);
    QCOMPARE(s.unit, std::string("bar"));
    QVERIFY(s.controller);
    QCOMPARE(s.set_point, std::string(":SOUR:PRES {value}"));
    QCOMPARE(s.output_off, std::string(":OUTP:STAT OFF"));
    QCOMPARE(s.line_end, uint8_t{1});
  }

  void badFieldsAreRefusedByNameAndNothingIsWritten() {
    Bench b;
    TFormReference d(b.meas.state);
    const auto refused = [&](const char* start) {
      b.meas.ui.messages.clear();
      d.BitBtn1Click();
      QVERIFY(!d.accepted);
      QCOMPARE(b.meas.ui.messages.size(), size_t{1});
      const QString text = Q(b.meas.ui.messages[0].text);
      QVERIFY2(text.startsWith(QString::fromUtf8(start)), qPrintable(text));
      QCOMPARE(ReadAll(b.path), QByteArray(kFile));
    };
    d.EditRead->clear();
    refused("Читання показу:");
    d.EditRead->setText(QStringLiteral("VAL?"));
    Retype(d.EditTimeout, QStringLiteral("10"));
    refused("Час очікування відповіді: \"10\"");
    Retype(d.EditTimeout, QStringLiteral("1000"));
    d.CheckController->setChecked(true);
    d.EditSetPoint->setText(QStringLiteral(":SOUR:PRES"));
    d.EditOutputOff->setText(QStringLiteral("OFF"));
    refused("Уставка:");
    d.EditSetPoint->setText(QStringLiteral(":SOUR:PRES {value}"));
    d.EditOutputOff->clear();
    refused("Скинути тиск:");
    d.EditOutputOff->setText(QStringLiteral("OFF"));
    // The sensor's own port.
    d.ComboPort->addItem(QStringLiteral("COM3"), 3);
    d.ComboPort->setCurrentIndex(d.ComboPort->count() - 1);
    refused("Порт: COM3 — порт зв'язку з давачем");
    d.ComboPort->setCurrentIndex(0);  // "немає"
    d.BitBtn1Click();
    QVERIFY(d.accepted);
  }

  void presetsFillTheCommandsAndTheControllerFieldsFollowTheBox() {
    Bench b;
    TFormReference d(b.meas.state);
    QCOMPARE(d.ComboPreset->currentIndex(), 0);  // "A?" alone is no preset's
    QVERIFY(!d.EditSetPoint->isEnabled());
    d.PresetChosen(1);
    QVERIFY(d.CheckController->isChecked());
    QVERIFY(d.EditSetPoint->isEnabled() && d.EditOutputOn->isEnabled());
    QCOMPARE(d.EditRead->text(), QStringLiteral(":SENS:PRES?"));
    QCOMPARE(d.ComboPreset->currentIndex(), 1);
    d.EditRead->setFocus();
    QTest::keyClicks(d.EditRead, QStringLiteral("X"));
    QCOMPARE(d.ComboPreset->currentIndex(), 0);
    d.PresetChosen(2);
    QVERIFY(!d.CheckController->isChecked());
    QVERIFY(!d.EditSetPoint->isEnabled() && !d.EditOutputOff->isEnabled());
    QCOMPARE(d.EditRead->text(), QStringLiteral("VAL?"));
    QVERIFY(d.EditInLimits->text().isEmpty());
    QCOMPARE(d.ComboLineEnd->currentText(), QStringLiteral("CR LF"));
  }

  void theLinkCheckShowsTheIdentificationAndOneReadingOrWhatWentWrong() {
    Bench b;
    TFormReference d(b.meas.state);
    d.PresetChosen(2);
    d.ComboPort->addItem(QStringLiteral("COM9"), 9);
    d.ComboPort->setCurrentIndex(d.ComboPort->count() - 1);
    d.TestClick();
    QCOMPARE(d.LabelTest->text(),
             QStringLiteral("На «*IDN?» відповів «VORLIX-SIM,REFERENCE,0001,1.0».\nПоказ: 101.30 "
                            "кПа"));
    QVERIFY(d.BitBtn1->isEnabled() && d.BtnTest->isEnabled());

    b.reference.wrong_unit = "psi";
    d.TestClick();
    QCOMPARE(d.LabelTest->text(),
             QStringLiteral("Еталон (COM9): на «VAL?» відповів «101.30000 psi»: показ в одиницях "
                            "psi, а очікується kPa"));
    b.reference.wrong_unit.clear();
    b.reference.silence = true;
    d.TestClick();
    QCOMPARE(d.LabelTest->text(), QStringLiteral("Еталон (COM9): не відповідає на «*IDN?»"));
    // Nothing of it went into the file.
    QCOMPARE(ReadAll(b.path), QByteArray(kFile));
  }

  void everyFieldIsReachedByItsLabelAndTabFollowsTheReadingOrder() {
    Bench b;
    TFormReference d(b.meas.state);
    d.PresetChosen(1);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    const QList<QWidget*> fields = {d.EditName,      d.ComboPort,    d.ComboRate,    d.ComboParity,
                                    d.ComboStopBits, d.ComboLineEnd, d.EditTimeout,  d.ComboPreset,
                                    d.EditIdentify,  d.EditRead,     d.ComboUnit,    d.EditInLimits,
                                    d.EditSetPoint,  d.EditOutputOn, d.EditOutputOff};
    for (QWidget* field : fields) {
      bool labelled = false;
      for (QLabel* label : d.findChildren<QLabel*>())
        labelled = labelled || label->buddy() == field;
      QVERIFY2(labelled, qPrintable(field->objectName()));
    }
    const QList<QWidget*> order = {
        d.EditName,     d.ComboPort,     d.ComboRate,    d.ComboParity,     d.ComboStopBits,
        d.ComboLineEnd, d.EditTimeout,   d.ComboPreset,  d.EditIdentify,    d.EditRead,
        d.ComboUnit,    d.CheckUnit,     d.EditInLimits, d.CheckController, d.EditSetPoint,
        d.EditOutputOn, d.EditOutputOff, d.BtnTest,      d.BitBtn1,         d.BitBtn2};
    // Tab pressed from each control lands on the next.
    for (int i = 0; i + 1 < order.size(); ++i) {
      order[i]->setFocus(Qt::TabFocusReason);
      QTest::keyClick(order[i], Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget()->objectName(), order[i + 1]->objectName());
    }
    QVERIFY(d.BitBtn1->isDefault());
  }
};

QTEST_MAIN(ReferenceSetupTest)
#include "reference_setup_test.moc"
