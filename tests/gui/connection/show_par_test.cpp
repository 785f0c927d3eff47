#include "gui/connection/show_par.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "core/number_format.h"
#include "tests/support/qt_modal.h"
#include "tests/support/scripted_host.h"

namespace {

const char kIncomplete[] = "Уведені не всі параметри";
const char kOutOfRange[] = "Значення інтервалу запитів поза діапазону";

}  // namespace

class ShowParTest : public QObject {
  Q_OBJECT

  QTemporaryDir folder_;
  std::unique_ptr<ScriptedHost> ui_;
  std::unique_ptr<AppState> state_;
  std::unique_ptr<TFormShow_Par> dialog_;

  TFormShow_Par& Show(uint8_t channel) {
    state_->Channel = channel;
    dialog_ = std::make_unique<TFormShow_Par>(*state_);
    dialog_->show();
    return *dialog_;
  }

  void Accept() { QTest::mouseClick(dialog_->BitBtn1, Qt::LeftButton); }

  void VerifyRefused(const std::string& message, const TConnectSettings& before) {
    QCOMPARE(ui_->messages.size(), 1u);
    QCOMPARE(ui_->messages[0].text, message);
    QCOMPARE(ui_->messages[0].caption, std::string());
    QVERIFY(!dialog_->accepted);
    QVERIFY(dialog_->isVisible());
    QVERIFY(state_->ConnectSettings == before);
  }

 private slots:
  void init() {
    ui_ = std::make_unique<ScriptedHost>();
    state_ = std::make_unique<AppState>();
    state_->ui = ui_.get();
    state_->IniPath = folder_.filePath(QStringLiteral("vorlix.ini")).toStdString();
    state_->SavedSettings = state_->ConnectSettings;
  }

  void cleanup() {
    dialog_.reset();
    // Nothing here ever writes the settings file.
    QVERIFY(!QFile::exists(QString::fromStdString(state_->IniPath)));
  }

  void interval_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("50") << QStringLiteral("50") << QString();
    QTest::newRow("5000") << QStringLiteral("5000") << QString();
    QTest::newRow("49") << QStringLiteral("49") << QString::fromUtf8(kOutOfRange);
    QTest::newRow("5001") << QStringLiteral("5001") << QString::fromUtf8(kOutOfRange);
    // The label reads "(20...5000)", yet 50 ms is the shortest interval taken.
    QTest::newRow("20") << QStringLiteral("20") << QString::fromUtf8(kOutOfRange);
    QTest::newRow("70000") << QStringLiteral("70000") << QString::fromUtf8(kOutOfRange);
    QTest::newRow("empty") << QString() << QString::fromUtf8(kIncomplete);
    QTest::newRow("too long") << QStringLiteral("99999999999")
                              << QString::fromStdString(NotANumberMessage("99999999999"));
  }

  void interval() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    const TConnectSettings before = state_->ConnectSettings;
    TFormShow_Par& d = Show(0);
    QCOMPARE(d.Label6->text(), QStringLiteral("запитами (20...5000)"));
    d.Edit1->clear();
    QTest::keyClicks(d.Edit1, text);
    Accept();
    if (!message.isEmpty()) {
      VerifyRefused(message.toStdString(), before);
      return;
    }
    QVERIFY(ui_->messages.empty());
    QVERIFY(d.accepted);
    QVERIFY(!d.isVisible());
    QCOMPARE(state_->ConnectSettings.interval, text.toInt());
  }

  void pressureStoresUnitDecimalsAndInterval() {
    state_->ConnectSettings.T_format = 4;
    TConnectSettings expected = state_->ConnectSettings;
    TFormShow_Par& d = Show(0);
    QVERIFY(d.ComboBox1->isVisible());
    QVERIFY(!d.Panel9->isVisible());
    QCOMPARE(d.ComboBox1->currentIndex(), 1);  // kPa, as stored
    QCOMPARE(d.ComboBox1->itemText(5), QStringLiteral("мм рт.ст."));
    QCOMPARE(d.Edit1->text(), QStringLiteral("1000"));
    d.ComboBox1->setCurrentIndex(5);
    d.ComboBox2->setCurrentIndex(6);
    d.Edit1->clear();
    QTest::keyClicks(d.Edit1, QStringLiteral("2-5a0"));  // the filter keeps the digits
    Accept();
    QVERIFY(d.accepted);
    // Nothing but the pressure fields and the interval changes.
    expected.P_unit = 5;
    expected.P_format = 6;
    expected.interval = 250;
    QVERIFY(state_->ConnectSettings == expected);
  }

  void temperatureIgnoresTheUnitList() {
    TConnectSettings& s = state_->ConnectSettings;
    s.P_unit = 9;  // would leave the unit list empty
    s.P_format = 3;
    s.T_format = 1;
    TFormShow_Par& d = Show(1);
    QVERIFY(!d.ComboBox1->isVisible());
    QVERIFY(d.Panel9->isVisible());
    QCOMPARE(d.Panel9->text(), QStringLiteral("°С"));
    QCOMPARE(d.ComboBox2->currentIndex(), 1);
    d.ComboBox2->setCurrentIndex(0);
    Accept();
    QVERIFY(ui_->messages.empty());
    QVERIFY(d.accepted);
    QCOMPARE(s.T_format, 0);
    QCOMPARE(s.P_unit, 9);
    QCOMPARE(s.P_format, 3);
  }

  void storedIndexOutOfRangeLeavesTheListUnselected() {
    for (const bool bad_unit : {true, false}) {
      ui_->messages.clear();
      state_->ConnectSettings = state_->SavedSettings;
      (bad_unit ? state_->ConnectSettings.P_unit : state_->ConnectSettings.P_format) = 7;
      const TConnectSettings before = state_->ConnectSettings;
      TFormShow_Par& d = Show(0);
      QCOMPARE((bad_unit ? d.ComboBox1 : d.ComboBox2)->currentIndex(), -1);
      Accept();
      VerifyRefused(kIncomplete, before);
    }
    state_->ConnectSettings.T_format = 200;
    const TConnectSettings before = state_->ConnectSettings;
    ui_->messages.clear();
    Show(1);
    QCOMPARE(dialog_->ComboBox2->currentIndex(), -1);
    Accept();
    VerifyRefused(kIncomplete, before);
  }

  void cancelStoresNothing() {
    const TConnectSettings before = state_->ConnectSettings;
    for (const bool by_escape : {true, false}) {
      TFormShow_Par d(*state_);
      OnNextModal<TFormShow_Par>([by_escape](TFormShow_Par* shown) {
        shown->ComboBox1->setCurrentIndex(3);
        shown->ComboBox2->setCurrentIndex(0);
        shown->Edit1->setText(QStringLiteral("300"));
        Dismiss(shown, shown->BitBtn2, by_escape);
      });
      QCOMPARE(d.exec(), int(QDialog::Rejected));
      QVERIFY(!d.accepted);
      QVERIFY(state_->ConnectSettings == before);
    }
  }
};

QTEST_MAIN(ShowParTest)
#include "show_par_test.moc"
