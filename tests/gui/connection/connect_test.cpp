// The connection parameters dialog over the real serial layer: ports are pseudo-terminals
// linked into a ports folder as COMn, the settings file lives in a temporary folder.
#include "gui/connection/connect.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "comm/clock.h"
#include "comm/comportfunctions.h"
#include "core/number_format.h"
#include "tests/support/qt_modal.h"
#include "tests/support/scripted_host.h"

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

// Data-driven rows of texts.
void Columns(std::initializer_list<const char*> names) {
  for (const char* name : names)
    QTest::addColumn<QString>(name);
}

void Row(const char* name, std::initializer_list<const char*> texts) {
  QTestData& row = QTest::newRow(name);
  for (const char* text : texts)
    row << QString::fromUtf8(text);
}

bool IsOpenDescriptor(int fd) {
  return fd >= 0 && fcntl(fd, F_GETFD) != -1;
}

}  // namespace

class ConnectTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> folder_;
  std::vector<int> masters_;
  std::unique_ptr<ScriptedHost> ui_;
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
    ui_ = std::make_unique<ScriptedHost>();
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

  void numericFieldsTakeDigitsOnly() {
    TFormConnect& d = Show();
    for (QLineEdit* edit : {d.Edit1, d.Edit2, d.Edit3, d.Edit10, d.Edit4, d.ComboBox4->lineEdit(),
                            d.ComboBox6->lineEdit()}) {
      Retype(edit, QStringLiteral("a-1. 2"));
      QCOMPARE(edit->text(), QStringLiteral("12"));
    }
    Retype(d.Edit11, QStringLiteral("a-1."));
    QCOMPARE(d.Edit11->text(), QStringLiteral("a-1."));
    // A typed address stays typed and never becomes an item.
    Retype(d.ComboBox4, QStringLiteral("255"));
    QTest::keyClick(d.ComboBox4->lineEdit(), Qt::Key_Return);
    QCOMPARE(d.ComboBox4->count(), 254);
    QCOMPARE(d.ComboBox4->currentText(), QStringLiteral("255"));
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

  // A stored value that no list holds leaves its field empty, and Accept refuses it.
  void storedValuesOutsideTheLists_data() {
    Columns({"field", "message"});
    Row("corrector address 255", {"adr", kMsg3});
    Row("sensor address 0", {"adr_P", kMsg6});
    Row("line 0", {"line_num", kMsg3});
    Row("rate 14400", {"rate", kMsg1});
    Row("no attempts", {"repeat", kMsg1});
    Row("type 2", {"conn_type", kMsg1});
  }

  void storedValuesOutsideTheLists() {
    QFETCH(QString, field);
    QFETCH(QString, message);
    TConnectSettings& s = state_->ConnectSettings;
    const std::map<QString, std::function<void()>> spoil = {
        {"adr", [&] { s.adr = 255; }},         {"adr_P", [&] { s.adr_P = 0; }},
        {"line_num", [&] { s.line_num = 0; }}, {"rate", [&] { s.rate = 14400; }},
        {"repeat", [&] { s.repeat = 0; }},     {"conn_type", [&] { s.conn_type = 2; }}};
    spoil.at(field)();
    const TConnectSettings stored = s;
    ShowValidThroughCorrector();
    for (const QComboBox* list : dialog_->findChildren<QComboBox*>()) {
      if (list->currentIndex() < 0)
        QVERIFY(list->currentText().isEmpty());
    }
    Accept();
    VerifyRefused(message.toUtf8().constData(), stored);
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

  void portEntriesShowTheirDeviceAndTheAdapterByIdName() {
    LinkPort(200);
    const std::string device = ComPortDevicePath(200);
    TFormConnect& d = Show();
    const int entry = d.ComboBox1->findText(QStringLiteral("COM200"));
    QVERIFY(entry >= 0);
    QCOMPARE(d.ComboBox1->itemData(entry, Qt::UserRole + 1).toString(),
             QString::fromStdString(device));
    // The popup shows the number and then the device.
    QStyleOptionViewItem option;
    option.initFrom(d.ComboBox1->view());
    const QSize plain = d.ComboBox1->view()->fontMetrics().size(0, QStringLiteral("COM200"));
    QVERIFY(d.ComboBox1->itemDelegate()
                ->sizeHint(option, d.ComboBox1->model()->index(entry, 0))
                .width() > plain.width() + d.ComboBox1->fontMetrics().horizontalAdvance(
                                               QString::fromStdString(device)));

    // A by-id name that leads to the same device names the adapter.
    QTemporaryDir by_id;
    std::filesystem::create_symlink(
        device, by_id.filePath("usb-FTDI_FT232R_A1B2-if00-port0").toStdString());
    std::filesystem::create_symlink("/dev/null", by_id.filePath("usb-other").toStdString());
    QCOMPARE(ComPortAdapterName(200, by_id.path().toStdString()),
             std::string("usb-FTDI_FT232R_A1B2-if00-port0"));
    QCOMPARE(ComPortAdapterName(201, by_id.path().toStdString()), std::string());
  }

  void portListShowsEachEntryWhole() {
    LinkPort(200);
    LinkPort(201);
    TFormConnect& d = Show();
    d.ComboBox1->showPopup();
    QAbstractItemView* view = d.ComboBox1->view();
    QTRY_VERIFY(view->isVisible());
    QStyleOptionViewItem option;
    option.initFrom(view);
    for (int i = 0; i < d.ComboBox1->count(); ++i) {
      const int needed =
          d.ComboBox1->itemDelegate()->sizeHint(option, d.ComboBox1->model()->index(i, 0)).width();
      QVERIFY2(view->viewport()->width() >= needed,
               qPrintable(QStringLiteral("%1 < %2").arg(view->viewport()->width()).arg(needed)));
    }
    d.ComboBox1->hidePopup();
  }

  void linkTimes_data() {
    Columns({"first", "next", "message"});
    Row("300", {"300", "300", ""});
    Row("10000", {"10000", "300", ""});
    Row("299", {"299", "300", kMsg2});
    Row("10001", {"10001", "300", kMsg2});
    Row("55", {"1000", "55", ""});
    Row("2000", {"1000", "2000", ""});
    Row("54", {"1000", "54", kMsg2});
    Row("2001", {"1000", "2001", kMsg2});
    // The next-byte time is not even read while the first one is out of range.
    Row("next unread", {"10001", "99999999999", kMsg2});
    Row("first empty", {"", "300", kMsg1});
    Row("next empty", {"1000", "", kMsg1});
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
    Columns({"adr", "pream", "code", "message"});
    Row("search address", {"255", "0", "1", ""});
    Row("25 preambles", {"1", "25", "9999", ""});
    Row("address 256", {"256", "3", "1", kMsg5});
    Row("address 0", {"0", "3", "1", kMsg5});
    Row("26 preambles", {"1", "26", "1", kMsg5});
    Row("no address", {"", "3", "1", kMsg3});
    Row("no preambles", {"256", "", "1", kMsg3});
    Row("no user code", {"256", "3", "", kMsg4});
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
    Columns({"channel", "adr", "pream", "message"});
    Row("search pressure", {"0", "0", "25", ""});
    Row("247 temperature", {"1", "247", "0", ""});
    Row("address 248", {"0", "248", "3", kMsg7});
    Row("26 preambles", {"1", "5", "26", kMsg7});
    Row("no address", {"0", "", "3", kMsg6});
    Row("no preambles", {"1", "248", "", kMsg6});
  }

  void sensorFields() {
    QFETCH(QString, channel);
    QFETCH(QString, adr);
    QFETCH(QString, pream);
    QFETCH(QString, message);
    state_->Channel = static_cast<uint8_t>(channel.toInt());
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
    const bool temperature = state_->Channel == 1;
    QCOMPARE(temperature ? now.adr_T : now.adr_P, adr.toInt());
    QCOMPARE(temperature ? now.adr_P : now.adr_T, temperature ? before.adr_P : before.adr_T);
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

    // No password: twelve blanks, whatever was there before.
    state_->ClosePort();
    state_->ConnectSettings.write_password.fill('x');
    Type(Show().Edit10, QStringLiteral("7"));
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

  void settingsFileThatCannotBeWrittenStillConnects() {
    QFile blocker(folder_->filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    state_->IniPath = folder_->filePath(QStringLiteral("file/vorlix.ini")).toStdString();
    state_->ConnectSettings.conn_type = 0;
    TFormConnect& d = Show();
    QLabel notice;
    d.settings_notice = &notice;
    Retype(d.Edit1, QStringLiteral("2000"));
    Accept();
    // What failed, where, why in the user's language, and that the work goes on.
    QCOMPARE(ui_->messages.size(), 1u);
    const QStringList lines =
        QString::fromStdString(ui_->messages[0].text).split(QLatin1Char('\r'));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("Unable to write to ") + IniPath());
    QCOMPARE(lines[1], QStringLiteral("Причина: на шляху до файлу стоїть файл, а не тека"));
    QVERIFY(notice.text().contains(IniPath()));
    QVERIFY(d.accepted);
    QVERIFY(IsOpenDescriptor(state_->ComHandle));
    QCOMPARE(state_->ConnectSettings.wait_time, 2000);  // in force
    QCOMPARE(state_->SavedSettings.wait_time, 1000);    // so the next acceptance writes it
    QCOMPARE(ui_->cursor_changes, (std::vector<bool>{true, false, true, false}));
  }

  void echoSettingIsShownChosenAndSavedOnItsOwn() {
    state_->ConnectSettings.conn_type = 0;
    state_->ConnectSettings.echo = 7;  // not one of the three: shown as detect
    state_->SavedSettings = state_->ConnectSettings;
    TFormConnect& d = Show();
    QCOMPARE(d.ComboBox9->currentText(), QStringLiteral("Визначати"));
    QCOMPARE(d.Label19->buddy(), d.ComboBox9);
    d.ComboBox9->setCurrentIndex(2);
    Accept();
    VerifyAccepted();
    QCOMPARE(state_->ConnectSettings.echo, 2);
    QCOMPARE(IniText(), QStringLiteral("[CURR_CONNECT_PAR]\necho=2\n"));
  }

  void firstSaveAwayFromAReadOnlyFileKeepsWhatItHeld() {
    // Read from a file that cannot be written; the user's copy starts from it.
    const QString base = folder_->filePath(QStringLiteral("beside.ini"));
    QFile file(base);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[SHOW_TASK]\r\ninterval=700\r\n[TOOLS]\r\nkeep=1\r\n");
    file.close();
    state_->IniBasePath = base.toStdString();
    state_->ConnectSettings.conn_type = 0;
    state_->ConnectSettings.interval = 700;
    state_->SavedSettings = state_->ConnectSettings;
    TFormConnect& d = Show();
    QLabel notice;
    d.settings_notice = &notice;
    Retype(d.Edit1, QStringLiteral("2000"));
    Accept();
    VerifyAccepted();
    QVERIFY(IniText().contains(QStringLiteral("interval=700")));
    QVERIFY(IniText().contains(QStringLiteral("keep=1")));
    QVERIFY(IniText().contains(QStringLiteral("wait_time=2000")));
    QCOMPARE(notice.text(), QStringLiteral("Налаштування збережено в ") + IniPath());
    QVERIFY(state_->IniBasePath.empty());
  }

  void numberTooLongStopsWithNothingStored_data() {
    Columns({"field", "text"});
    Row("Edit1", {"Edit1", "99999999999"});
    Row("Edit2", {"Edit2", "2147483648"});
    Row("ComboBox4", {"ComboBox4", "4294967297"});
    Row("Edit3", {"Edit3", "1%"});  // the key filter lets '%' and the apostrophe through
    Row("ComboBox6", {"ComboBox6", "99999999999"});
    Row("Edit4", {"Edit4", "'"});
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
      OnNextModal<TFormConnect>(
          [by_escape](TFormConnect* shown) { Dismiss(shown, shown->BitBtn2, by_escape); });
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
