// The connection parameters dialog over the real serial layer: ports are pseudo-terminals
// linked into a ports folder as COMn, the settings file lives in a temporary folder.
#include "dialogs/connection/connect.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/number_format.h"
#include "comm/clock.h"
#include "comm/comportfunctions.h"
#include "tests/support/qt_modal.h"
#include "tests/support/scripted_ui.h"

namespace {

const char kMsg1[] = "Параметри зв'язку:\rУведені не всі параметри";
const char kMsg2[] = "Параметри зв'язку:\rУведені значення поза діапазону";
const char kMsg3[] = "Параметри ЛУТАР:\rУведені не всі параметри";
const char kMsg4[] = "Параметри ЛУТАР:\rУведення коду користувача обов'язкове";
const char kMsg5[] = "Параметри ЛУТАР:\rУведені значення поза діапазону";
const char kMsg6[] = "Параметри давача:\rУведені не всі параметри";
const char kMsg7[] = "Параметри давача:\rУведені значення поза діапазону";

// Types `text` into a field key by key, as the user would (the key filters see every key).
void Type(QWidget* field, const QString& text) {
  for (const QChar c : text) {
    QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
}

void Retype(QLineEdit* edit, const QString& text) {
  edit->clear();
  Type(edit, text);
}

void Retype(QComboBox* list, const QString& text) {
  Retype(list->lineEdit(), text);
}

bool IsOpenDescriptor(int fd) {
  return fd >= 0 && fcntl(fd, F_GETFD) != -1;
}

}  // namespace

class ConnectTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> folder_;
  std::vector<int> masters_;
  std::unique_ptr<ScriptedUi> ui_;
  VirtualClock clock_;
  std::unique_ptr<AppState> state_;
  std::unique_ptr<TFormConnect> dialog_;
  QLabel panel_;

  QString PortsFolder() const { return folder_->filePath(QStringLiteral("ports")); }
  QString IniPath() const { return QString::fromStdString(state_->IniPath); }

  // A pseudo-terminal reachable as COM<n>.
  void LinkPort(int n) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    masters_.push_back(master);
    std::filesystem::create_symlink(ptsname(master),
                                    PortsFolder().toStdString() + "/COM" + std::to_string(n));
    QVERIFY(ComPortExists(n));
  }

  void UnlinkPort(int n) {
    QVERIFY(QFile::remove(PortsFolder() + QStringLiteral("/COM%1").arg(n)));
  }

  TFormConnect& Show() {
    dialog_ = std::make_unique<TFormConnect>(*state_);
    dialog_->status_bar = &panel_;
    dialog_->show();
    return *dialog_;
  }

  void Accept() { QTest::mouseClick(dialog_->BitBtn1, Qt::LeftButton); }

  // Shows the dialog through the corrector with every field valid and a user code typed.
  TFormConnect& ShowValidThroughCorrector() {
    state_->ConnectSettings.conn_type = 1;
    TFormConnect& d = Show();
    Type(d.Edit10, QStringLiteral("1234"));
    return d;
  }

  QStringList Messages() const {
    QStringList texts;
    for (const auto& m : ui_->messages) {
      texts << QString::fromStdString(m.text);
      if (!m.caption.empty())
        texts << QStringLiteral("(caption %1)").arg(QString::fromStdString(m.caption));
    }
    return texts;
  }

  // A refused acceptance leaves the settings, the file and the port as they were.
  void VerifyRefused(const char* message, const TConnectSettings& before) {
    QCOMPARE(Messages(), QStringList{QString::fromUtf8(message)});
    QVERIFY(!dialog_->accepted);
    QVERIFY(dialog_->isVisible());
    QVERIFY(state_->ConnectSettings == before);
    QVERIFY(!QFile::exists(IniPath()));
    QCOMPARE(state_->ComHandle, kNoComHandle);
    QVERIFY(panel_.text().isEmpty());
  }

  void VerifyAccepted() {
    QCOMPARE(Messages(), QStringList{});
    QVERIFY(dialog_->accepted);
    QVERIFY(!dialog_->isVisible());
    QVERIFY(IsOpenDescriptor(state_->ComHandle));
    QVERIFY(state_->ConnectSettings == dialog_->working_copy);
    QVERIFY(state_->SavedSettings == state_->ConnectSettings);
  }

  QString IniText() const {
    QFile file(IniPath());
    if (!file.open(QIODevice::ReadOnly))
      return {};
    // Line ends as the platform writes them.
    return QString::fromUtf8(file.readAll()).remove(QLatin1Char('\r'));
  }

 private slots:
  void init() {
    folder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(folder_->isValid());
    QVERIFY(QDir(folder_->path()).mkdir(QStringLiteral("ports")));
    SetComPortsFolder(PortsFolder().toStdString());
    ui_ = std::make_unique<ScriptedUi>();
    state_ = std::make_unique<AppState>();
    state_->ui = ui_.get();
    state_->clock = &clock_;
    state_->IniPath = folder_->filePath(QStringLiteral("vorlix.ini")).toStdString();
    LinkPort(12);
    state_->ConnectSettings.port = 12;
    state_->SavedSettings = state_->ConnectSettings;
    panel_.clear();
  }

  void cleanup() {
    dialog_.reset();
    state_->ClosePort();
    for (const int master : masters_)
      close(master);
    masters_.clear();
    SetComPortsFolder("");
    folder_.reset();
  }

  void listsLimitsFiltersAndBuddies() {
    TFormConnect& d = Show();
    QCOMPARE(FormConnect, &d);
    QCOMPARE(d.ComboBox2->count(), 8);
    QCOMPARE(d.ComboBox2->itemText(0), QStringLiteral("1200"));
    QCOMPARE(d.ComboBox2->itemText(7), QStringLiteral("115200"));
    QCOMPARE(d.ComboBox4->count(), 254);
    QCOMPARE(d.ComboBox4->itemText(253), QStringLiteral("254"));
    QCOMPARE(d.ComboBox6->count(), 247);
    QCOMPARE(d.ComboBox3->itemText(4), QStringLiteral(" 5"));
    QCOMPARE(d.ComboBox5->count(), 3);
    const int com12 = d.ComboBox1->findText(QStringLiteral("COM12"));
    QVERIFY(com12 >= 0);
    QCOMPARE(d.ComboBox1->itemData(com12, Qt::ToolTipRole).toString(),
             QString::fromStdString(ComPortDevicePath(12)));
    QCOMPARE(d.Edit3->maxLength(), 3);
    QCOMPARE(d.Edit4->maxLength(), 3);
    QCOMPARE(d.Edit11->maxLength(), 12);
    QCOMPARE(d.Edit10->maxLength(), 4);
    QCOMPARE(d.Edit11->echoMode(), QLineEdit::Password);
    QCOMPARE(d.Edit10->echoMode(), QLineEdit::Password);
    QVERIFY(d.BitBtn1->isDefault());
    QCOMPARE(d.Label6->buddy(), d.ComboBox4);
    QCOMPARE(d.Label18->buddy(), d.ComboBox4);
    QCOMPARE(d.Label28->buddy(), d.Edit3);
    QCOMPARE(d.Label8->buddy(), d.ComboBox5);
    QCOMPARE(d.Label40->buddy(), d.Edit11);
    QCOMPARE(d.Label39->buddy(), d.Edit10);
    QCOMPARE(d.Label15->buddy(), d.ComboBox6);

    // Numeric fields take digits only; the password takes anything.
    for (QLineEdit* edit : {d.Edit1, d.Edit2, d.Edit3, d.Edit10, d.Edit4, d.ComboBox4->lineEdit(),
                            d.ComboBox6->lineEdit()}) {
      Retype(edit, QStringLiteral("a-1. 2"));
      QCOMPARE(edit->text(), QStringLiteral("12"));
    }
    Retype(d.Edit11, QStringLiteral("a-1."));
    QCOMPARE(d.Edit11->text(), QStringLiteral("a-1."));
    // A typed address that is not in the list stays typed and adds no item.
    Retype(d.ComboBox4, QStringLiteral("255"));
    QTest::keyClick(d.ComboBox4->lineEdit(), Qt::Key_Return);
    QCOMPARE(d.ComboBox4->count(), 254);
  }

  void showSelectsTheStoredValues() {
    TConnectSettings& s = state_->ConnectSettings;
    s.rate = 9600;
    s.wait_time = 1500;
    s.time_out = 77;
    s.repeat = 3;
    s.adr = 9;
    s.corr_pream = 4;
    s.line_num = 2;
    s.adr_P = 17;
    s.adr_T = 18;
    s.sens_pream = 6;
    TFormConnect& d = Show();
    QCOMPARE(d.ComboBox8->currentIndex(), 1);
    QCOMPARE(d.ComboBox1->currentText(), QStringLiteral("COM12"));
    QCOMPARE(d.ComboBox2->currentText(), QStringLiteral("9600"));
    QCOMPARE(d.Edit1->text(), QStringLiteral("1500"));
    QCOMPARE(d.Edit2->text(), QStringLiteral("77"));
    QCOMPARE(d.ComboBox3->currentIndex(), 2);
    QCOMPARE(d.ComboBox4->currentText(), QStringLiteral("9"));
    QCOMPARE(d.Edit3->text(), QStringLiteral("4"));
    QCOMPARE(d.ComboBox5->currentIndex(), 1);
    QCOMPARE(d.GroupBox1->palette().color(QPalette::WindowText), TFormConnect::kActiveCaption);
    QVERIFY(d.ComboBox4->isEnabled() && d.Edit10->isEnabled() && d.Label39->isEnabled());
    QCOMPARE(d.GroupBox2->title(), QStringLiteral(" Параметри  давача тиску "));
    QCOMPARE(d.ComboBox6->currentText(), QStringLiteral("17"));
    QCOMPARE(d.Edit4->text(), QStringLiteral("6"));

    state_->Channel = 1;
    Show();
    QCOMPARE(dialog_->GroupBox2->title(), QStringLiteral(" Параметри  давача температури "));
    QCOMPARE(dialog_->ComboBox6->currentText(), QStringLiteral("18"));
  }

  void valuesOutsideTheListsLeaveFieldsEmptyAndAcceptRefuses() {
    const TConnectSettings before = state_->ConnectSettings;
    state_->ConnectSettings.adr = 255;
    ShowValidThroughCorrector();
    QCOMPARE(dialog_->ComboBox4->currentIndex(), -1);
    QVERIFY(dialog_->ComboBox4->currentText().isEmpty());
    Accept();
    QCOMPARE(Messages(), QStringList{QString::fromUtf8(kMsg3)});

    ui_->messages.clear();
    state_->ConnectSettings = before;
    state_->ConnectSettings.adr_P = 0;
    state_->ConnectSettings.adr_T = 248;
    ShowValidThroughCorrector();
    QVERIFY(dialog_->ComboBox6->currentText().isEmpty());
    Accept();
    QCOMPARE(Messages(), QStringList{QString::fromUtf8(kMsg6)});

    for (auto spoil :
         {+[](TConnectSettings& s) { s.rate = 14400; }, +[](TConnectSettings& s) { s.repeat = 0; },
          +[](TConnectSettings& s) { s.conn_type = 2; }}) {
      ui_->messages.clear();
      state_->ConnectSettings = before;
      spoil(state_->ConnectSettings);
      const TConnectSettings stored = state_->ConnectSettings;
      Show();
      Accept();
      VerifyRefused(kMsg1, stored);
    }
    ui_->messages.clear();
    state_->ConnectSettings = before;
    state_->ConnectSettings.line_num = 4;
    ShowValidThroughCorrector();
    QCOMPARE(dialog_->ComboBox5->currentIndex(), -1);
    Accept();
    VerifyRefused(kMsg3, state_->ConnectSettings);
  }

  void storedPortNoLongerPresentSelectsTheFirstPresentOne() {
    LinkPort(200);
    state_->ConnectSettings.port = 150;
    TFormConnect& d = Show();
    int first = 1;
    while (!ComPortExists(first))
      ++first;
    QCOMPARE(d.ComboBox1->currentIndex(), 0);
    QCOMPARE(d.ComboBox1->currentText(), QStringLiteral("COM%1").arg(first));
    QVERIFY(d.ComboBox1->findText(QStringLiteral("COM12")) <
            d.ComboBox1->findText(QStringLiteral("COM200")));
    QCOMPARE(d.ComboBox1->findText(QStringLiteral("COM150")), -1);
  }

  void linkTimes_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("next");
    QTest::addColumn<QString>("message");
    QTest::newRow("300") << "300"
                         << "300"
                         << "";
    QTest::newRow("10000") << "10000"
                           << "300"
                           << "";
    QTest::newRow("299") << "299"
                         << "300" << kMsg2;
    QTest::newRow("10001") << "10001"
                           << "300" << kMsg2;
    QTest::newRow("55") << "1000"
                        << "55"
                        << "";
    QTest::newRow("2000") << "1000"
                          << "2000"
                          << "";
    QTest::newRow("54") << "1000"
                        << "54" << kMsg2;
    QTest::newRow("2001") << "1000"
                          << "2001" << kMsg2;
    // The next-byte time is not even read while the first one is out of range.
    QTest::newRow("next unread") << "10001"
                                 << "99999999999" << kMsg2;
    QTest::newRow("first empty") << ""
                                 << "300" << kMsg1;
    QTest::newRow("next empty") << "1000"
                                << "" << kMsg1;
  }

  void linkTimes() {
    QFETCH(QString, first);
    QFETCH(QString, next);
    QFETCH(QString, message);
    state_->ConnectSettings.conn_type = 0;
    const TConnectSettings before = state_->ConnectSettings;
    TFormConnect& d = Show();
    Retype(d.Edit1, first);
    Retype(d.Edit2, next);
    Accept();
    if (!message.isEmpty()) {
      VerifyRefused(message.toUtf8().constData(), before);
      return;
    }
    VerifyAccepted();
    QCOMPARE(state_->ConnectSettings.wait_time, first.toInt());
    QCOMPARE(state_->ConnectSettings.time_out, next.toInt());
  }

  void correctorFields_data() {
    QTest::addColumn<QString>("adr");
    QTest::addColumn<QString>("pream");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("search address") << "255"
                                    << "0"
                                    << "1"
                                    << "";
    QTest::newRow("25 preambles") << "1"
                                  << "25"
                                  << "9999"
                                  << "";
    QTest::newRow("address 256") << "256"
                                 << "3"
                                 << "1" << kMsg5;
    QTest::newRow("address 0") << "0"
                               << "3"
                               << "1" << kMsg5;
    QTest::newRow("26 preambles") << "1"
                                  << "26"
                                  << "1" << kMsg5;
    QTest::newRow("no address") << ""
                                << "3"
                                << "1" << kMsg3;
    QTest::newRow("no preambles") << "256"
                                  << ""
                                  << "1" << kMsg3;
    QTest::newRow("no user code") << "256"
                                  << "3"
                                  << "" << kMsg4;
  }

  void correctorFields() {
    QFETCH(QString, adr);
    QFETCH(QString, pream);
    QFETCH(QString, code);
    QFETCH(QString, message);
    const TConnectSettings before = state_->ConnectSettings;
    TFormConnect& d = Show();
    Retype(d.ComboBox4, adr);
    Retype(d.Edit3, pream);
    Retype(d.Edit10, code);
    Accept();
    if (!message.isEmpty()) {
      VerifyRefused(message.toUtf8().constData(), before);
      return;
    }
    VerifyAccepted();
    QCOMPARE(state_->ConnectSettings.adr, adr.toInt());
    QCOMPARE(state_->ConnectSettings.corr_pream, pream.toInt());
  }

  void sensorFields_data() {
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("adr");
    QTest::addColumn<QString>("pream");
    QTest::addColumn<QString>("message");
    QTest::newRow("search pressure") << 0 << "0"
                                     << "25"
                                     << "";
    QTest::newRow("247 temperature") << 1 << "247"
                                     << "0"
                                     << "";
    QTest::newRow("address 248") << 0 << "248"
                                 << "3" << kMsg7;
    QTest::newRow("26 preambles") << 1 << "5"
                                  << "26" << kMsg7;
    QTest::newRow("no address") << 0 << ""
                                << "3" << kMsg6;
    QTest::newRow("no preambles") << 1 << "248"
                                  << "" << kMsg6;
  }

  void sensorFields() {
    QFETCH(int, channel);
    QFETCH(QString, adr);
    QFETCH(QString, pream);
    QFETCH(QString, message);
    state_->Channel = static_cast<uint8_t>(channel);
    const TConnectSettings before = state_->ConnectSettings;
    TFormConnect& d = ShowValidThroughCorrector();
    Retype(d.ComboBox6, adr);
    Retype(d.Edit4, pream);
    Accept();
    if (!message.isEmpty()) {
      VerifyRefused(message.toUtf8().constData(), before);
      return;
    }
    VerifyAccepted();
    // Only the serviced channel's address changes.
    const TConnectSettings& now = state_->ConnectSettings;
    QCOMPARE(channel == 1 ? now.adr_T : now.adr_P, adr.toInt());
    QCOMPARE(channel == 1 ? now.adr_P : now.adr_T, channel == 1 ? before.adr_P : before.adr_T);
    QCOMPARE(now.sens_pream, pream.toInt());
  }

  void passwordIsPaddedThenConvertedAndNeverSaved() {
    TFormConnect& d = ShowValidThroughCorrector();
    Type(d.Edit11, QStringLiteral("Тиск"));
    QCOMPARE(d.Edit11->text(), QStringLiteral("Тиск"));
    Accept();
    VerifyAccepted();
    const std::array<char, 12> expected = {'\x92', '\xA8', '\xE1', '\xAA', ' ', ' ',
                                           ' ',    ' ',    ' ',    ' ',    ' ', ' '};
    QVERIFY(state_->ConnectSettings.write_password == expected);
    QVERIFY((state_->ConnectSettings.user_code == std::array<char, 4>{'1', '2', '3', '4'}));
    // Only the corrector group changed (by its password fields), and those are not written.
    QCOMPARE(IniText(), QStringLiteral("[LUTAR_CONNECT_PAR]\nadr=1\npream=3\nline_num=1\n"));
  }

  void emptyPasswordStaysBlankAndUserCodeIsPadded() {
    state_->ConnectSettings.write_password.fill('x');
    TFormConnect& d = Show();
    Type(d.Edit10, QStringLiteral("7"));
    Accept();
    VerifyAccepted();
    QVERIFY(state_->ConnectSettings.write_password == detail::Blanks<12>());
    QVERIFY((state_->ConnectSettings.user_code == std::array<char, 4>{'7', ' ', ' ', ' '}));
  }

  void directLinkGreysTheCorrectorGroupAndKeepsItsValues() {
    TConnectSettings& s = state_->ConnectSettings;
    s.adr = 7;
    s.corr_pream = 5;
    s.line_num = 2;
    s.write_password.fill('p');
    s.user_code = {'4', '3', '2', '1'};
    const TConnectSettings before = s;
    TFormConnect& d = Show();
    QTest::keyClick(d.ComboBox8, Qt::Key_Up);  // "Безпосередній"
    QCOMPARE(d.ComboBox8->currentIndex(), 0);
    QCOMPARE(d.GroupBox1->palette().color(QPalette::WindowText), TFormConnect::kInactiveCaption);
    // The caption colour is the group's alone.
    QVERIFY(d.Label27->palette().color(QPalette::WindowText) != TFormConnect::kInactiveCaption);
    for (QWidget* w : std::initializer_list<QWidget*>{d.Label6, d.Label18, d.ComboBox4, d.Label27,
                                                      d.Label28, d.Edit3, d.Label8, d.ComboBox5,
                                                      d.Label40, d.Edit11, d.Label39, d.Edit10})
      QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    QVERIFY(d.ComboBox4->currentText().isEmpty());
    QCOMPARE(d.ComboBox5->currentIndex(), -1);
    QVERIFY(d.Edit3->text().isEmpty());

    Accept();
    VerifyAccepted();
    TConnectSettings expected = before;
    expected.conn_type = 0;
    QVERIFY(state_->ConnectSettings == expected);
  }

  void typeSelectionAndShowEmptyPasswordAndUserCode() {
    TFormConnect& d = Show();
    for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Down}) {
      Type(d.Edit11, QStringLiteral("pw"));
      Type(d.Edit10, QStringLiteral("12"));
      QTest::keyClick(d.ComboBox8, key);
      QVERIFY(d.Edit11->text().isEmpty());
      QVERIFY(d.Edit10->text().isEmpty());
    }
    // Choosing the entry already selected counts as a selection too.
    Type(d.Edit10, QStringLiteral("12"));
    emit d.ComboBox8->activated(1);
    QVERIFY(d.Edit10->text().isEmpty());
    Type(d.Edit11, QStringLiteral("pw"));
    d.hide();
    d.show();
    QVERIFY(d.Edit11->text().isEmpty());
  }

  void refusedAcceptKeepsTypedCorrectorValuesInTheWorkingCopy() {
    const TConnectSettings before = state_->ConnectSettings;
    TFormConnect& d = ShowValidThroughCorrector();
    Retype(d.ComboBox4, QStringLiteral("200"));
    Retype(d.Edit3, QStringLiteral("9"));
    d.ComboBox5->setCurrentIndex(2);
    Retype(d.ComboBox6, QString());
    Accept();
    VerifyRefused(kMsg6, before);
    QTest::keyClick(d.ComboBox8, Qt::Key_Up);
    QTest::keyClick(d.ComboBox8, Qt::Key_Down);
    QCOMPARE(d.ComboBox4->currentText(), QStringLiteral("200"));
    QCOMPARE(d.Edit3->text(), QStringLiteral("9"));
    QCOMPARE(d.ComboBox5->currentIndex(), 2);
  }

  void acceptSavesChangedGroupsOpensThePortAndShowsIt() {
    LinkPort(150);
    state_->ConnectSettings.conn_type = 0;
    TFormConnect& d = Show();
    d.ComboBox1->setCurrentIndex(d.ComboBox1->findText(QStringLiteral("COM150")));
    d.ComboBox2->setCurrentIndex(7);
    Accept();
    VerifyAccepted();
    QCOMPARE(state_->ConnectSettings.port, 150);
    QCOMPARE(state_->ConnectSettings.rate, 115200);
    QCOMPARE(panel_.text(), QStringLiteral(" COM150 115200 бит/с"));
    QCOMPARE(ui_->cursor_changes, (std::vector<bool>{true, false}));
    // Only the link group differs from what was read.
    QCOMPARE(IniText(), QStringLiteral("[CURR_CONNECT_PAR]\nconn_type=0\nport=150\nrate=115200\n"
                                       "repeat=1\nwait_time=1000\ntime_out=300\n"));
    // The port is set up 8N1 at the chosen rate.
    termios t{};
    QCOMPARE(tcgetattr(state_->ComHandle, &t), 0);
    QCOMPARE(cfgetospeed(&t), static_cast<speed_t>(B115200));
    QCOMPARE(t.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    // What the far end sends is read at once, without waiting.
    QCOMPARE(write(masters_.back(), "\x55", 1), 1);
    pollfd arrived{state_->ComHandle, POLLIN, 0};
    QCOMPARE(poll(&arrived, 1, 5000), 1);
    uint8_t byte = 0;
    QCOMPARE(read(state_->ComHandle, &byte, 1), 1);
    QCOMPARE(byte, 0x55);
    QVERIFY(read(state_->ComHandle, &byte, 1) <= 0);
  }

  void portThatCannotBeOpenedLeavesTheSettingsSaved() {
    LinkPort(200);
    state_->ConnectSettings.port = 200;
    state_->ConnectSettings.conn_type = 0;
    TFormConnect& d = Show();
    QCOMPARE(d.ComboBox1->currentText(), QStringLiteral("COM200"));
    UnlinkPort(200);
    Accept();
    QCOMPARE(ui_->messages.size(), 1u);
    const QString text = QString::fromStdString(ui_->messages[0].text);
    QVERIFY2(text.startsWith(QStringLiteral("Комунікацийний порт СОМ200 недоступний\r")),
             qPrintable(text));
    QVERIFY(text.size() > 40);  // the system's reason on the second line
    QVERIFY(!d.accepted);
    QVERIFY(d.isVisible());
    QCOMPARE(state_->ComHandle, kNoComHandle);
    QCOMPARE(state_->ConnectSettings.port, 200);
    QVERIFY(state_->SavedSettings == state_->ConnectSettings);
    QVERIFY(IniText().contains(QStringLiteral("port=200")));
    QCOMPARE(panel_.text(), QStringLiteral(" COM200 19200 бит/с"));
    QCOMPARE(ui_->cursor_changes, (std::vector<bool>{true, false}));

    // Another port, another try.
    ui_->messages.clear();
    d.ComboBox1->setCurrentIndex(d.ComboBox1->findText(QStringLiteral("COM12")));
    Accept();
    VerifyAccepted();
  }

  void settingsFileThatCannotBeWrittenStopsBeforeThePort() {
    QFile blocker(folder_->filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    state_->IniPath = folder_->filePath(QStringLiteral("file/vorlix.ini")).toStdString();
    state_->ConnectSettings.conn_type = 0;
    TFormConnect& d = Show();
    Retype(d.Edit1, QStringLiteral("2000"));
    Accept();
    QCOMPARE(Messages(), QStringList{QStringLiteral("Unable to write to ") + IniPath()});
    QVERIFY(!d.accepted);
    QVERIFY(d.isVisible());
    QCOMPARE(state_->ComHandle, kNoComHandle);
    QCOMPARE(state_->ConnectSettings.wait_time, 2000);  // already in force
    QCOMPARE(state_->SavedSettings.wait_time, 1000);    // so the next acceptance writes it
    QVERIFY(panel_.text().isEmpty());
    QCOMPARE(ui_->cursor_changes, (std::vector<bool>{true, false}));
  }

  void numberTooLongStopsWithNothingStored_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::newRow("Edit1") << "Edit1"
                           << "99999999999";
    QTest::newRow("Edit2") << "Edit2"
                           << "2147483648";
    QTest::newRow("ComboBox4") << "ComboBox4"
                               << "4294967297";
    QTest::newRow("Edit3") << "Edit3"
                           << "1%";  // the filter lets these two through
    QTest::newRow("ComboBox6") << "ComboBox6"
                               << "99999999999";
    QTest::newRow("Edit4") << "Edit4"
                           << "'";
  }

  void numberTooLongStopsWithNothingStored() {
    QFETCH(QString, field);
    QFETCH(QString, text);
    const TConnectSettings before = state_->ConnectSettings;
    TFormConnect& d = ShowValidThroughCorrector();
    QLineEdit* edit = d.findChild<QLineEdit*>(field);
    if (!edit)
      edit = d.findChild<QComboBox*>(field)->lineEdit();
    Retype(edit, text);
    QCOMPARE(edit->text(), text);
    Accept();
    VerifyRefused(NotANumberMessage(text.toStdString()).c_str(), before);
  }

  void cancelClosesAPortOpenedForTheDialog() {
    for (const bool by_escape : {true, false}) {
      state_->ComHandle = OpenComPort(12, 19200, 8, 0, 0, 1000, 1000, true, false);
      const int fd = state_->ComHandle;
      QVERIFY(IsOpenDescriptor(fd));
      TFormConnect d(*state_);
      OnNextModal<TFormConnect>([by_escape](TFormConnect* shown) {
        if (by_escape) {
          QTest::keyClick(shown, Qt::Key_Escape);
        } else {
          QTest::mouseClick(shown->BitBtn2, Qt::LeftButton);
        }
      });
      QCOMPARE(d.exec(), int(QDialog::Rejected));
      QVERIFY(!d.accepted);
      QCOMPARE(state_->ComHandle, kNoComHandle);
      QVERIFY(!IsOpenDescriptor(fd));
    }
    QVERIFY(!QFile::exists(IniPath()));
  }
};

QTEST_MAIN(ConnectTest)
#include "connect_test.moc"
