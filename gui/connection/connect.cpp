#include "gui/connection/connect.h"

#include <QApplication>
#include <QColor>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>
#include <tuple>

#include "comm/code_page.h"
#include "comm/comportfunctions.h"
#include "core/number_format.h"
#include "core/suplfunc.h"
#include "gui/connection/access_codes.h"
#include "gui/connection/port_list.h"
#include "gui/dialog_widgets.h"
#include "gui/form_main.h"
#include "gui/key_filters.h"

TFormConnect* FormConnect = nullptr;

const QColor TFormConnect::kActiveCaption = QColor(0x00, 0x00, 0x80);    // navy
const QColor TFormConnect::kInactiveCaption = QColor(0x80, 0x80, 0x80);  // grey

namespace {

constexpr int kLastListedCorrectorAddress = 254;
constexpr int kSearchCorrectorAddress = 255;  // typed only
constexpr int kSearchSensorAddress = 0;       // typed only
constexpr int kLastSensorAddress = 247;
constexpr int kMaxPreambles = 25;
constexpr int kMinWaitTime = 300;
constexpr int kMaxWaitTime = 10000;
constexpr int kMinByteTimeout = 55;
constexpr int kMaxByteTimeout = 2000;

constexpr int kPreamblesMaxLength = 3;
constexpr int kPasswordMaxLength = 12;
constexpr int kUserCodeMaxLength = 4;
constexpr int kButtonWidth = 100;

// The port is opened 8N1 with these queue sizes, DTR on and RTS off; the exchanges raise RTS
// themselves while they send.
constexpr int kDataBits = 8;
constexpr int kNoParity = 0;
constexpr int kOneStopBit = 0;
constexpr uint32_t kQueueSize = 1000;

const char kLinkIncomplete[] = "Параметри зв'язку:\rУведені не всі параметри";
const char kLinkOutOfRange[] = "Параметри зв'язку:\rУведені значення поза діапазону";
const char kCorrectorIncomplete[] = "Параметри ЛУТАР:\rУведені не всі параметри";
const char kUserCodeRequired[] = "Параметри ЛУТАР:\rУведення коду користувача обов'язкове";
const char kCorrectorOutOfRange[] = "Параметри ЛУТАР:\rУведені значення поза діапазону";
const char kSensorIncomplete[] = "Параметри давача:\rУведені не всі параметри";
const char kSensorOutOfRange[] = "Параметри давача:\rУведені значення поза діапазону";
const char kSaveFailedReason[] = "Причина: ";
const char kSaveFailedGoesOn[] =
    "Нові параметри діють до виходу з програми; з'єднання продовжується.";
// The port name is written with Cyrillic letters in this message.
const char kPortUnavailable[] = "Комунікацийний порт СОМ%1 недоступний";

const char kPressureSensorCaption[] = " Параметри  давача тиску ";
const char kTemperatureSensorCaption[] = " Параметри  давача температури ";

// A list that also takes a typed number; what is typed never becomes an item.
QComboBox* MakeEditableList(QWidget* parent, const char* name) {
  QComboBox* list = MakeList(parent, name);
  list->setEditable(true);
  list->setInsertPolicy(QComboBox::NoInsert);
  list->setCompleter(nullptr);
  list->lineEdit()->setObjectName(QLatin1String(name) + QLatin1String("Edit"));
  InstallIntKeyFilter(list);
  return list;
}

QGridLayout* MakeGrid(QGroupBox* group) {
  auto* grid = new QGridLayout(group);
  grid->setColumnStretch(0, 1);
  grid->setColumnMinimumWidth(1, 90);
  grid->setColumnMinimumWidth(2, 30);
  grid->setVerticalSpacing(6);
  return grid;
}

}  // namespace

TFormConnect::TFormConnect(AppState& state, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      state_(state),
      variable_(FormConnect, this) {
  setObjectName(QStringLiteral("FormConnect"));
  setWindowTitle(QStringLiteral("Параметри зв'язку"));
  setWindowModality(Qt::ApplicationModal);

  // Link.
  GroupBox6 = MakeGroupBox(this, "GroupBox6", QStringLiteral(" Параметри зв'язку "));
  ComboBox8 = MakeList(GroupBox6, "ComboBox8");
  ComboBox1 = MakeList(GroupBox6, "ComboBox1");
  MakePortList(ComboBox1);
  ComboBox2 = MakeList(GroupBox6, "ComboBox2");
  Edit1 = MakeEdit(GroupBox6, "Edit1");
  Edit2 = MakeEdit(GroupBox6, "Edit2");
  ComboBox3 = MakeList(GroupBox6, "ComboBox3");
  ComboBox9 = MakeList(GroupBox6, "ComboBox9");
  QGridLayout* link = MakeGrid(GroupBox6);
  AddFieldRow(link, 0, ComboBox8, {{Label1, "Label1", QStringLiteral("&Тип зв'язку")}});
  AddFieldRow(link, 1, ComboBox1, {{Label2, "Label2", QStringLiteral("&Порт підключення")}});
  AddFieldRow(link, 2, ComboBox2, {{Label3, "Label3", QStringLiteral("&Швидкість обміну")}},
              {Label4, "Label4", QStringLiteral("біт/с")});
  AddFieldRow(link, 3, Edit1,
              {{Label5, "Label5", QStringLiteral("&Час очікування першого")},
               {Label7, "Label7", QStringLiteral("байту відповіді (300...10000)")}},
              {Label9, "Label9", QStringLiteral("мс")});
  AddFieldRow(link, 4, Edit2,
              {{Label10, "Label10", QStringLiteral("Час &очікування наст.")},
               {Label11, "Label11", QStringLiteral("байтаі відповіді (55...2000)")}},
              {Label12, "Label12", QStringLiteral("мс")});
  AddFieldRow(link, 5, ComboBox3, {{Label13, "Label13", QStringLiteral("Кільк. &спроб обміну")}});
  AddFieldRow(link, 6, ComboBox9, {{Label19, "Label19", QStringLiteral("&Луна адаптера")}});
  link->setRowStretch(7, 1);

  // Corrector.
  GroupBox1 = MakeGroupBox(this, "GroupBox1", QStringLiteral(" Параметри ЛУТАР "));
  ComboBox4 = MakeEditableList(GroupBox1, "ComboBox4");
  Edit3 = MakeEdit(GroupBox1, "Edit3");
  ComboBox5 = MakeList(GroupBox1, "ComboBox5");
  Edit11 = MakePasswordEdit(GroupBox1, "Edit11", kPasswordMaxLength);
  Edit10 = MakePasswordEdit(GroupBox1, "Edit10", kUserCodeMaxLength);
  QGridLayout* corrector = MakeGrid(GroupBox1);
  AddFieldRow(corrector, 0, ComboBox4,
              {{Label6, "Label6", QStringLiteral("&Адреса  (1...254),")},
               {Label18, "Label18", QStringLiteral("або 255 для пошуку")}});
  AddFieldRow(corrector, 1, Edit3,
              {{Label27, "Label27", QStringLiteral("&Кільк. преамбул у запиті")},
               {Label28, "Label28", QStringLiteral("(0...25 )")}});
  AddFieldRow(corrector, 2, ComboBox5, {{Label8, "Label8", QStringLiteral("&Номер нитки")}});
  AddFieldRow(corrector, 3, Edit11, {{Label40, "Label40", QStringLiteral("Пароль на &запис")}});
  AddFieldRow(corrector, 4, Edit10, {{Label39, "Label39", QStringLiteral("Ко&д користувача")}});

  // Sensor.
  GroupBox2 = MakeGroupBox(this, "GroupBox2", QString::fromUtf8(kPressureSensorCaption));
  ComboBox6 = MakeEditableList(GroupBox2, "ComboBox6");
  Edit4 = MakeEdit(GroupBox2, "Edit4");
  QGridLayout* sensor = MakeGrid(GroupBox2);
  AddFieldRow(sensor, 0, ComboBox6,
              {{Label14, "Label14", QStringLiteral("Ад&реса (1...247),")},
               {Label15, "Label15", QStringLiteral("або 0 для пошуку")}});
  AddFieldRow(sensor, 1, Edit4,
              {{Label16, "Label16", QStringLiteral("Кільк. пр&еамбул у запиті")},
               {Label17, "Label17", QStringLiteral("(0...25 )")}});

  std::tie(BitBtn1, BitBtn2) = MakeAcceptCancelButtons(this, &TFormConnect::BitBtn1Click,
                                                       &TFormConnect::BitBtn2Click, kButtonWidth);

  auto* right = new QVBoxLayout;
  right->addWidget(GroupBox1);
  right->addWidget(GroupBox2);
  auto* groups = new QHBoxLayout;
  groups->addWidget(GroupBox6, 1);
  groups->addLayout(right, 1);
  auto* whole = new QVBoxLayout(this);
  whole->addLayout(groups);
  whole->addLayout(MakeButtonRow({BitBtn1, BitBtn2}, ButtonsAt::kRight));
  whole->setSizeConstraint(QLayout::SetFixedSize);

  Edit3->setMaxLength(kPreamblesMaxLength);
  Edit4->setMaxLength(kPreamblesMaxLength);
  for (QLineEdit* edit : {Edit1, Edit2, Edit3, Edit10, Edit4})
    InstallIntKeyFilter(edit);

  ComboBox8->addItems({QStringLiteral("Безпосередній"), QStringLiteral("Через ЛУТАР")});
  ComboBox3->addItems({QStringLiteral(" 1"), QStringLiteral(" 2"), QStringLiteral(" 3"),
                       QStringLiteral(" 4"), QStringLiteral(" 5")});
  ComboBox5->addItems({QStringLiteral(" 1"), QStringLiteral(" 2"), QStringLiteral(" 3")});
  // In the order of EchoMode.
  ComboBox9->addItems(
      {QStringLiteral("Визначати"), QStringLiteral("Немає"), QStringLiteral("Завжди є")});
  ComboBox9->setToolTip(
      QStringLiteral("Двопровідні адаптери RS-485 повертають надісланий запит перед відповіддю"));

  // The caption colour of the corrector group must not spill over to what is inside it.
  const QPalette normal = QApplication::palette(GroupBox1);
  for (QWidget* child : GroupBox1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    QPalette own = child->palette();
    for (const auto role : {QPalette::WindowText, QPalette::Text}) {
      for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        own.setColor(group, role, normal.color(group, role));
      }
    }
    child->setPalette(own);
  }

  SetTabOrder({ComboBox8, ComboBox1, ComboBox2, Edit1, Edit2, ComboBox3, ComboBox9, ComboBox4,
               Edit3, ComboBox5, Edit11, Edit10, ComboBox6, Edit4, BitBtn1, BitBtn2});
  connect(ComboBox8, &QComboBox::activated, this, &TFormConnect::ComboBox8Click);

  FormCreate();
}

void TFormConnect::FormCreate() {
  accepted = false;
  status_bar = nullptr;
  ComboBox2->clear();
  for (const int32_t rate : BaudRates)
    ComboBox2->addItem(QString::number(rate));
  ComboBox4->clear();
  for (int adr = 1; adr <= kLastListedCorrectorAddress; ++adr)
    ComboBox4->addItem(QString::number(adr));
  ComboBox6->clear();
  for (int adr = 1; adr <= kLastSensorAddress; ++adr)
    ComboBox6->addItem(QString::number(adr));
}

void TFormConnect::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Not when the window system shows it again (restored from the task bar).
  if (!event->spontaneous())
    FormShow();
}

void TFormConnect::FitPortListToEntries() {
  ::FitPortListToEntries(ComboBox1);
}

void TFormConnect::FormShow() {
  working_copy = state_.ConnectSettings;

  SelectEntry(ComboBox8, working_copy.conn_type);
  ComboBox8Click();

  FillPortList(ComboBox1, working_copy.port, false);

  SelectEntry(ComboBox2, RateIndex(working_copy.rate));
  Edit1->setText(QString::number(working_copy.wait_time));
  Edit2->setText(QString::number(working_copy.time_out));
  SelectEntry(ComboBox3, working_copy.repeat - 1);
  SelectEntry(ComboBox9, static_cast<int>(EchoModeOf(working_copy)));

  if (state_.Channel == 1) {
    GroupBox2->setTitle(QString::fromUtf8(kTemperatureSensorCaption));
    SelectEntry(ComboBox6, working_copy.adr_T - 1);
  } else {
    GroupBox2->setTitle(QString::fromUtf8(kPressureSensorCaption));
    SelectEntry(ComboBox6, working_copy.adr_P - 1);
  }
  Edit4->setText(QString::number(working_copy.sens_pream));
}

void TFormConnect::SetCorrectorGroupActive(bool active) {
  QPalette caption = GroupBox1->palette();
  const QColor& colour = active ? kActiveCaption : kInactiveCaption;
  // Styles differ in which of the two they draw a group's title with.
  for (const auto role : {QPalette::WindowText, QPalette::Text}) {
    caption.setColor(QPalette::Active, role, colour);
    caption.setColor(QPalette::Inactive, role, colour);
  }
  GroupBox1->setPalette(caption);
  for (QWidget* control :
       std::initializer_list<QWidget*>{Label6, Label18, ComboBox4, Label27, Label28, Edit3, Label8,
                                       ComboBox5, Label40, Edit11, Label39, Edit10}) {
    control->setEnabled(active);
  }
}

void TFormConnect::ComboBox8Click() {
  Edit11->clear();
  Edit10->clear();
  if (ComboBox8->currentIndex() == 1) {
    SetCorrectorGroupActive(true);
    SelectEntry(ComboBox4, working_copy.adr - 1);
    Edit3->setText(QString::number(working_copy.corr_pream));
    SelectEntry(ComboBox5, working_copy.line_num - 1);
  } else {
    SetCorrectorGroupActive(false);
    SelectEntry(ComboBox4, -1);
    SelectEntry(ComboBox5, -1);
    Edit3->clear();
  }
}

void TFormConnect::Message(const char* text) {
  state_.ui->ShowMessage(text, "");
}

std::optional<int32_t> TFormConnect::ReadNumber(const QString& text) {
  const std::string digits = text.toStdString();
  const std::optional<int32_t> number = ParseInt32(digits);
  if (!number)
    state_.ui->ShowMessage(NotANumberMessage(digits), "");
  return number;
}

void TFormConnect::BitBtn1Click() {
  if (ComboBox8->currentIndex() < 0 || ComboBox1->currentIndex() < 0 ||
      ComboBox2->currentIndex() < 0 || ComboBox3->currentIndex() < 0 || Edit1->text().isEmpty() ||
      Edit2->text().isEmpty()) {
    Message(kLinkIncomplete);
    return;
  }
  std::string typed_user_code;
  std::string typed_write_password;
  working_copy.conn_type = static_cast<uint8_t>(ComboBox8->currentIndex());
  working_copy.port = static_cast<uint8_t>(SelectedPort(ComboBox1));
  working_copy.rate = RateByIndex(ComboBox2->currentIndex());

  const std::optional<int32_t> wait_time = ReadNumber(Edit1->text());
  if (!wait_time)
    return;
  if (*wait_time < kMinWaitTime || *wait_time > kMaxWaitTime) {
    Message(kLinkOutOfRange);
    return;
  }
  working_copy.wait_time = *wait_time;
  const std::optional<int32_t> time_out = ReadNumber(Edit2->text());
  if (!time_out)
    return;
  if (*time_out < kMinByteTimeout || *time_out > kMaxByteTimeout) {
    Message(kLinkOutOfRange);
    return;
  }
  working_copy.time_out = *time_out;
  working_copy.repeat = static_cast<uint8_t>(ComboBox3->currentIndex() + 1);
  working_copy.echo = static_cast<uint8_t>(std::max(0, ComboBox9->currentIndex()));

  if (working_copy.conn_type == 1) {
    if (ComboBox4->currentText().isEmpty() || ComboBox5->currentIndex() < 0 ||
        Edit3->text().isEmpty()) {
      Message(kCorrectorIncomplete);
      return;
    }
    if (Edit10->text().isEmpty()) {
      Message(kUserCodeRequired);
      return;
    }
    const std::optional<int32_t> adr = ReadNumber(ComboBox4->currentText());
    if (!adr)
      return;
    if (*adr < 1 || *adr > kSearchCorrectorAddress) {
      Message(kCorrectorOutOfRange);
      return;
    }
    working_copy.adr = static_cast<uint8_t>(*adr);
    const std::optional<int32_t> pream = ReadNumber(Edit3->text());
    if (!pream)
      return;
    // A negative count can only be pasted; it would wrap to a huge one in the 8-bit field.
    if (*pream < 0 || *pream > kMaxPreambles) {
      Message(kCorrectorOutOfRange);
      return;
    }
    working_copy.corr_pream = static_cast<uint8_t>(*pream);
    working_copy.line_num = static_cast<uint8_t>(ComboBox5->currentIndex() + 1);
    // The corrector compares the password in the DOS Cyrillic code page.
    FillPadded(working_copy.write_password, Edit11->text());
    Cp1251ToCp866(working_copy.write_password.data(),
                  static_cast<uint8_t>(working_copy.write_password.size()));
    FillPadded(working_copy.user_code, Edit10->text());
    typed_user_code = Edit10->text().toStdString();
    typed_write_password = Edit11->text().toStdString();
  }

  if (ComboBox6->currentText().isEmpty() || Edit4->text().isEmpty()) {
    Message(kSensorIncomplete);
    return;
  }
  const std::optional<int32_t> sensor_adr = ReadNumber(ComboBox6->currentText());
  if (!sensor_adr)
    return;
  if (*sensor_adr < kSearchSensorAddress || *sensor_adr > kLastSensorAddress) {
    Message(kSensorOutOfRange);
    return;
  }
  (state_.Channel == 1 ? working_copy.adr_T : working_copy.adr_P) =
      static_cast<uint8_t>(*sensor_adr);
  const std::optional<int32_t> sens_pream = ReadNumber(Edit4->text());
  if (!sens_pream)
    return;
  if (*sens_pream < 0 || *sens_pream > kMaxPreambles) {
    Message(kSensorOutOfRange);
    return;
  }
  working_copy.sens_pream = static_cast<uint8_t>(*sens_pream);

  state_.ConnectSettings = working_copy;
  state_.TypedUserCode = typed_user_code;
  state_.HeldConstPassword.reset();  // a new link: its corrector asks for its own
  state_.TypedWritePassword = typed_write_password;
  state_.ui->SetBusyCursor(true);
  std::string error;
  std::string reason;
  const bool copying = !state_.IniBasePath.empty();
  if (SaveSettings(state_.IniPath, state_.ConnectSettings, state_.SavedSettings, error, &reason,
                   state_.IniBasePath)) {
    if (copying && state_.SavedSettings == state_.ConnectSettings) {
      // From now on the user's copy is the one read.
      state_.IniBasePath.clear();
      if (settings_notice)
        settings_notice->setText(
            QString::fromStdString("Налаштування збережено в " + state_.IniPath));
    }
  } else {
    // The settings are in force for this run whether or not the file took them; the link goes
    // on, and the next acceptance tries the save again.
    state_.ui->SetBusyCursor(false);
    state_.ui->ShowMessage(error + "\r" + kSaveFailedReason + reason + "\r" + kSaveFailedGoesOn,
                           "");
    if (settings_notice)
      settings_notice->setText(
          QString::fromStdString("Налаштування не збережено в " + state_.IniPath + ": " + reason));
    state_.ui->SetBusyCursor(true);
  }
  const int port = working_copy.port;
  if (status_bar)
    status_bar->setText(PortStatusText(port, working_copy.rate));
  state_.ComHandle = OpenComPort(port, working_copy.rate, kDataBits, kNoParity, kOneStopBit,
                                 kQueueSize, kQueueSize, true, false);
  state_.ui->SetBusyCursor(false);

  if (state_.ComHandle == kNoComHandle) {
    std::string text = QString::fromUtf8(kPortUnavailable).arg(port).toStdString();
#ifndef _WIN32
    // Device names and system errors say far more here than the port number alone.
    if (const std::string why = LastComPortError(); !why.empty())
      text += "\r" + why;
#endif
    state_.ui->ShowMessage(text, "");
    return;
  }
  // Reads return at once with what has arrived; the exchanges do their own waiting.
  SetComTimeouts(state_.ComHandle, kComMaxDword, 0, 0);
  SetComDtr(state_.ComHandle, true);
  accepted = true;
  accept();
}

void TFormConnect::BitBtn2Click() {
  reject();
}

void TFormConnect::done(int result) {
  FormClose();
  QDialog::done(result);
}

void TFormConnect::FormClose() {
  if (!accepted && state_.ComHandle != kNoComHandle)
    state_.ClosePort();
}
