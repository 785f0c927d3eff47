#include "gui/connection/reference_setup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <tuple>

#include "core/app_state.h"
#include "core/calibration.h"
#include "core/number_format.h"
#include "core/reference_reading.h"
#include "core/reference_session.h"
#include "core/suplfunc.h"
#include "gui/connection/port_list.h"
#include "gui/dialog_widgets.h"
#include "gui/key_filters.h"

namespace {

constexpr int kMinTimeout = 50;
constexpr int kMaxTimeout = 60000;
constexpr int kButtonWidth = 100;
constexpr int kFieldMinWidth = 220;
// The parity and stop-bit codes the port is opened with, in the order of their lists.
constexpr uint8_t kParityCodes[] = {0, 1, 2};
constexpr uint8_t kStopBitCodes[] = {0, 2};
const char kValueMark[] = "{value}";

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

std::string Text(const QLineEdit* edit) {
  return edit->text().toStdString();
}

template <size_t N>
int IndexOf(const uint8_t (&codes)[N], uint8_t code) {
  for (size_t i = 0; i < N; ++i) {
    if (codes[i] == code)
      return static_cast<int>(i);
  }
  return 0;
}

// The preset whose commands `s` has, counted from 1; 0 when they are the engineer's own.
int MatchingPreset(const ReferenceSettings& s) {
  const auto& presets = ReferencePresets();
  for (size_t i = 0; i < presets.size(); ++i) {
    ReferenceSettings applied = s;
    ApplyReferencePreset(presets[i], applied);
    if (applied == s)
      return static_cast<int>(i) + 1;
  }
  return 0;
}

}  // namespace

TFormReference::TFormReference(AppState& state, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      state_(state) {
  setObjectName(QStringLiteral("FormReference"));
  setWindowTitle(QStringLiteral("Еталонний прилад"));

  const auto add_row = [](QGridLayout* grid, int row, const QString& caption, QWidget* field,
                          const QString& unit = {}) {
    QLabel* label = MakeLabel(field->parentWidget(), nullptr, caption);
    label->setBuddy(field);
    grid->addWidget(label, row, 0);
    grid->addWidget(field, row, 1);
    if (!unit.isEmpty())
      grid->addWidget(MakeLabel(field->parentWidget(), nullptr, unit), row, 2);
    return label;
  };

  // Link.
  QGroupBox* link = MakeGroupBox(this, "GroupLink", QStringLiteral(" Зв'язок з приладом "));
  auto* lgrid = new QGridLayout(link);
  EditName = MakeEdit(link, "EditName");
  EditName->setPlaceholderText(QStringLiteral("Еталон"));
  ComboPort = MakeList(link, "ComboPort");
  MakePortList(ComboPort);
  ComboRate = MakeList(link, "ComboRate");
  ComboParity = MakeList(link, "ComboParity");
  ComboParity->addItems(
      {QStringLiteral("немає"), QStringLiteral("парна"), QStringLiteral("непарна")});
  ComboStopBits = MakeList(link, "ComboStopBits");
  ComboStopBits->addItems({QStringLiteral("1"), QStringLiteral("2")});
  ComboLineEnd = MakeList(link, "ComboLineEnd");
  ComboLineEnd->addItems({QStringLiteral("CR"), QStringLiteral("LF"), QStringLiteral("CR LF")});
  EditTimeout = MakeEdit(link, "EditTimeout");
  InstallIntKeyFilter(EditTimeout);
  add_row(lgrid, 0, QStringLiteral("Н&азва (у повідомленнях)"), EditName);
  add_row(lgrid, 1, QStringLiteral("&Порт"), ComboPort);
  add_row(lgrid, 2, QStringLiteral("&Швидкість"), ComboRate, QStringLiteral("біт/с"));
  add_row(lgrid, 3, QStringLiteral("Па&рність"), ComboParity);
  add_row(lgrid, 4, QStringLiteral("&Стоп-біти"), ComboStopBits);
  add_row(lgrid, 5, QStringLiteral("&Кінець рядка команди"), ComboLineEnd);
  add_row(lgrid, 6, QStringLiteral("Час очікування &відповіді"), EditTimeout, QStringLiteral("мс"));
  lgrid->setRowStretch(7, 1);

  // Commands.
  QGroupBox* commands = MakeGroupBox(this, "GroupCommands", QStringLiteral(" Команди приладу "));
  auto* cgrid = new QGridLayout(commands);
  ComboPreset = MakeList(commands, "ComboPreset");
  ComboPreset->addItem(QStringLiteral("(власні команди)"));
  for (const ReferencePreset& p : ReferencePresets())
    ComboPreset->addItem(QString::fromUtf8(p.name));
  EditIdentify = MakeEdit(commands, "EditIdentify");
  EditRead = MakeEdit(commands, "EditRead");
  ComboUnit = MakeList(commands, "ComboUnit");
  for (const ReferenceUnit& unit : ReferenceUnits())
    ComboUnit->addItem(QString::fromUtf8(unit.word));
  CheckUnit = new QCheckBox(QStringLiteral("Перевіряти о&диницю у відповіді"), commands);
  CheckUnit->setObjectName(QStringLiteral("CheckUnit"));
  EditInLimits = MakeEdit(commands, "EditInLimits");
  EditInLimits->setPlaceholderText(QStringLiteral("(не питати)"));
  CheckController =
      new QCheckBox(QStringLiteral("&Еталон — контролер тиску (задає тиск сам)"), commands);
  CheckController->setObjectName(QStringLiteral("CheckController"));
  EditSetPoint = MakeEdit(commands, "EditSetPoint");
  EditSetPoint->setToolTip(QStringLiteral("{value} замінюється значенням уставки"));
  EditOutputOn = MakeEdit(commands, "EditOutputOn");
  EditOutputOff = MakeEdit(commands, "EditOutputOff");
  for (QLineEdit* edit :
       {EditIdentify, EditRead, EditInLimits, EditSetPoint, EditOutputOn, EditOutputOff})
    edit->setMinimumWidth(kFieldMinWidth);
  add_row(cgrid, 0, QStringLiteral("&Набір команд"), ComboPreset);
  add_row(cgrid, 1, QStringLiteral("&Ідентифікація"), EditIdentify);
  add_row(cgrid, 2, QStringLiteral("&Читання показу"), EditRead);
  add_row(cgrid, 3, QStringLiteral("&Одиниця показу"), ComboUnit);
  cgrid->addWidget(CheckUnit, 4, 1);
  add_row(cgrid, 5, QStringLiteral("&Запит «у допуску»"), EditInLimits);
  cgrid->addWidget(CheckController, 6, 0, 1, 2);
  QLabel* set_point =
      add_row(cgrid, 7, QStringLiteral("&Уставка (команда з {value})"), EditSetPoint);
  QLabel* on = add_row(cgrid, 8, QStringLiteral("Увімкнути ви&хід"), EditOutputOn);
  QLabel* off = add_row(cgrid, 9, QStringLiteral("Скинути тиск (ви&мкнути вихід)"), EditOutputOff);

  // The check of the link.
  BtnTest = MakeDialogButton(this, "BtnTest", QStringLiteral("Перевірити з'&єднання"),
                             EnterKey::kWhenFocused);
  LabelTest = MakeLabel(this, "LabelTest");
  LabelTest->setWordWrap(true);
  LabelTest->setTextInteractionFlags(Qt::TextSelectableByMouse);
  LabelTest->setAccessibleName(QStringLiteral("Відповідь приладу"));
  LabelTest->setMinimumHeight(LabelTest->fontMetrics().lineSpacing() * 3);
  auto* test = new QHBoxLayout;
  test->addWidget(BtnTest, 0, Qt::AlignTop);
  test->addWidget(LabelTest, 1);

  std::tie(BitBtn1, BitBtn2) = MakeAcceptCancelButtons(this, &TFormReference::BitBtn1Click,
                                                       &TFormReference::reject, kButtonWidth);

  auto* groups = new QHBoxLayout;
  groups->addWidget(link);
  groups->addWidget(commands, 1);
  auto* whole = new QVBoxLayout(this);
  whole->addLayout(groups);
  whole->addLayout(test);
  whole->addLayout(MakeButtonRow({BitBtn1, BitBtn2}, ButtonsAt::kRight));
  whole->setSizeConstraint(QLayout::SetFixedSize);

  SetTabOrder({EditName,     ComboPort,     ComboRate,    ComboParity,     ComboStopBits,
               ComboLineEnd, EditTimeout,   ComboPreset,  EditIdentify,    EditRead,
               ComboUnit,    CheckUnit,     EditInLimits, CheckController, EditSetPoint,
               EditOutputOn, EditOutputOff, BtnTest,      BitBtn1,         BitBtn2});

  const auto controller_fields = [this, set_point, on, off] {
    const bool controller = CheckController->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{set_point, EditSetPoint, on, EditOutputOn,
                                                      off, EditOutputOff})
      w->setEnabled(controller);
  };
  connect(CheckController, &QCheckBox::toggled, this, controller_fields);
  connect(CheckController, &QCheckBox::clicked, this,
          [this] { ComboPreset->setCurrentIndex(MatchingPreset(Gather())); });
  connect(ComboPreset, &QComboBox::activated, this, &TFormReference::PresetChosen);
  connect(BtnTest, &QPushButton::clicked, this, &TFormReference::TestClick);
  // A command edited by hand is no longer the preset's.
  for (QLineEdit* edit :
       {EditIdentify, EditRead, EditInLimits, EditSetPoint, EditOutputOn, EditOutputOff}) {
    connect(edit, &QLineEdit::textEdited, this,
            [this] { ComboPreset->setCurrentIndex(MatchingPreset(Gather())); });
  }

  loaded_ = LoadReferenceSettings(state_.IniPath);
  Fill(loaded_);
  controller_fields();
}

void TFormReference::Fill(const ReferenceSettings& s) {
  EditName->setText(Q(s.name));
  FillPortList(ComboPort, s.port, true);
  ComboRate->clear();
  for (const int32_t rate : BaudRates)
    ComboRate->addItem(QString::number(rate), rate);
  if (RateIndex(s.rate) < 0)
    ComboRate->addItem(QString::number(s.rate), s.rate);  // kept as the file has it
  ComboRate->setCurrentIndex(ComboRate->findData(s.rate));
  ComboParity->setCurrentIndex(IndexOf(kParityCodes, s.parity));
  ComboStopBits->setCurrentIndex(IndexOf(kStopBitCodes, s.stop_bits));
  ComboLineEnd->setCurrentIndex(s.line_end);
  EditTimeout->setText(QString::number(s.timeout));
  EditIdentify->setText(Q(s.identify));
  EditRead->setText(Q(s.read));
  const ReferenceUnit* unit = FindReferenceUnit(s.unit);
  int index = unit ? ComboUnit->findText(QString::fromUtf8(unit->word)) : -1;
  if (index < 0) {
    ComboUnit->addItem(Q(s.unit));  // refused on acceptance, but shown as it is
    index = ComboUnit->count() - 1;
  }
  ComboUnit->setCurrentIndex(index);
  CheckUnit->setChecked(s.check_unit);
  EditInLimits->setText(Q(s.in_limits));
  CheckController->setChecked(s.controller);
  EditSetPoint->setText(Q(s.set_point));
  EditOutputOn->setText(Q(s.output_on));
  EditOutputOff->setText(Q(s.output_off));
  ComboPreset->setCurrentIndex(MatchingPreset(s));
}

ReferenceSettings TFormReference::Gather() const {
  ReferenceSettings s = loaded_;
  s.name = EditName->text().trimmed().toStdString();
  s.port = static_cast<uint8_t>(SelectedPort(ComboPort));
  s.rate = ComboRate->currentData().toInt();
  s.parity = kParityCodes[std::max(0, ComboParity->currentIndex())];
  s.stop_bits = kStopBitCodes[std::max(0, ComboStopBits->currentIndex())];
  s.line_end = static_cast<uint8_t>(std::max(0, ComboLineEnd->currentIndex()));
  s.identify = Text(EditIdentify);
  s.read = Text(EditRead);
  s.unit = ComboUnit->currentText().toStdString();
  s.check_unit = CheckUnit->isChecked();
  s.in_limits = Text(EditInLimits);
  s.controller = CheckController->isChecked();
  s.set_point = Text(EditSetPoint);
  s.output_on = Text(EditOutputOn);
  s.output_off = Text(EditOutputOff);
  return s;
}

void TFormReference::PresetChosen(int index) {
  if (index < 1 || static_cast<size_t>(index) > ReferencePresets().size())
    return;
  ReferenceSettings s = Gather();
  ApplyReferencePreset(ReferencePresets()[static_cast<size_t>(index) - 1], s);
  const std::string timeout = Text(EditTimeout);
  Fill(s);
  EditTimeout->setText(Q(timeout));  // typed, perhaps not yet a number: kept as typed
}

bool TFormReference::Refuse(const std::string& message) {
  state_.ui->ShowMessage(message, "");
  return false;
}

std::optional<ReferenceSettings> TFormReference::Read(bool for_test) {
  ReferenceSettings s = Gather();
  const std::string timeout = EditTimeout->text().trimmed().toStdString();
  const std::optional<int32_t> ms = ParseInt32(timeout);
  if (!ms || *ms < kMinTimeout || *ms > kMaxTimeout) {
    Refuse("Час очікування відповіді: \"" + timeout + "\" — має бути ціле число мілісекунд від " +
           std::to_string(kMinTimeout) + " до " + std::to_string(kMaxTimeout) + ".");
    return std::nullopt;
  }
  s.timeout = *ms;
  if (for_test && s.port == 0) {
    Refuse("Порт: оберіть порт, до якого під'єднано еталонний прилад.");
    return std::nullopt;
  }
  // Both links open their port exclusively: one of them would find it taken.
  if (s.port != 0 && s.port == state_.ConnectSettings.port) {
    Refuse("Порт: COM" + std::to_string(s.port) +
           " — порт зв'язку з давачем. Еталонному приладу потрібен інший порт.");
    return std::nullopt;
  }
  if (s.read.find_first_not_of(' ') == std::string::npos) {
    Refuse("Читання показу: запит не задано — без нього прилад нічого не покаже.");
    return std::nullopt;
  }
  if (FindReferenceUnit(s.unit) == nullptr) {
    Refuse("Одиниця показу: \"" + s.unit + "\" — невідома одиниця.");
    return std::nullopt;
  }
  if (s.controller) {
    if (s.set_point.find(kValueMark) == std::string::npos) {
      Refuse("Уставка: у команді немає {value} — місця, куди стає значення уставки.");
      return std::nullopt;
    }
    // The run vents the controller whenever it ends; without the command it could not.
    if (s.output_off.find_first_not_of(' ') == std::string::npos) {
      Refuse(
          "Скинути тиск: для контролера команду потрібно задати — нею тиск скидається, коли "
          "перевірку завершено або перервано.");
      return std::nullopt;
    }
  }
  return s;
}

void TFormReference::BitBtn1Click() {
  if (testing_)
    return;
  const std::optional<ReferenceSettings> s = Read(false);
  if (!s)
    return;
  std::string reason;
  if (!SaveReferenceSettings(state_.IniPath, *s, reason)) {
    Refuse("Налаштування еталонного приладу не збережено: " + reason);
    return;
  }
  accepted = true;
  accept();
}

void TFormReference::TestClick() {
  if (testing_)
    return;
  const std::optional<ReferenceSettings> s = Read(true);
  if (!s)
    return;
  // The port is opened exclusively: a link the program holds on it steps aside.
  if (state_.Reference && state_.Reference->settings().port == s->port)
    CloseReference(state_);
  ReferenceLink link(*s, *state_.clock, *state_.ui, state_.Tap.get());
  if (state_.make_reference_line)
    link.set_line_maker(state_.make_reference_line);
  testing_ = true;
  test_link_ = &link;
  LabelTest->setText(QStringLiteral("Перевірка з'єднання..."));
  for (QWidget* w : std::initializer_list<QWidget*>{BtnTest, BitBtn1})
    w->setEnabled(false);
  state_.ui->SetBusyCursor(true);
  QPointer<TFormReference> alive(this);
  std::string id;
  std::string error;
  double value = 0.0;
  const ReferenceUnit* unit = FindReferenceUnit(s->unit);
  const int channel = unit->temperature() ? 1 : 0;
  bool ok = link.Open(error) &&
            (s->identify.empty() || link.Identify(id, error) == ReferenceLink::Result::kOk);
  ok = ok && link.Read(channel, state_.ConnectSettings.P_unit, value, error) ==
                 ReferenceLink::Result::kOk;
  link.Close();
  state_.ui->SetBusyCursor(false);
  if (!alive)
    return;
  testing_ = false;
  test_link_ = nullptr;
  for (QWidget* w : std::initializer_list<QWidget*>{BtnTest, BitBtn1})
    w->setEnabled(true);
  if (pending_result_) {
    QDialog::done(*pending_result_);
    return;
  }
  if (!ok) {
    LabelTest->setText(Q(error));
    return;
  }
  const int digits =
      channel == 1 ? state_.ConnectSettings.T_format : state_.ConnectSettings.P_format;
  LabelTest->setText(
      (s->identify.empty()
           ? QString()
           : QStringLiteral("На «%1» відповів «%2».\n").arg(Q(s->identify), Q(id))) +
      QStringLiteral("Показ: %1 %2")
          .arg(Fixed(value, digits), Q(ChannelUnitName(channel, state_.ConnectSettings.P_unit))));
}

void TFormReference::done(int result) {
  // Not under a running check: it stops first, then the dialog closes.
  if (testing_) {
    pending_result_ = result;
    if (test_link_ != nullptr)
      test_link_->RequestAbort();
    return;
  }
  QDialog::done(result);
}

bool ShowReferenceSettings(AppState& state, QWidget* parent) {
  TFormReference dialog(state, parent);
  dialog.exec();
  return dialog.accepted;
}
