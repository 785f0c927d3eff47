#include "gui/connection/show_par.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>
#include <initializer_list>
#include <optional>
#include <string>

#include "core/calibration.h"
#include "core/number_format.h"
#include "gui/dialog_widgets.h"
#include "gui/key_filters.h"

TFormShow_Par* FormShow_Par = nullptr;

namespace {

constexpr int kMinInterval = 50;
constexpr int kMaxInterval = 5000;
constexpr int kMaxDecimals = 6;

const char kIncomplete[] = "Уведені не всі параметри";
const char kIntervalOutOfRange[] = "Значення інтервалу запитів поза діапазону";

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setObjectName(QLatin1String(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

QVBoxLayout* Lines(std::initializer_list<QLabel*> labels, QWidget* field) {
  auto* lines = new QVBoxLayout;
  lines->setSpacing(0);
  for (QLabel* label : labels) {
    label->setBuddy(field);
    lines->addWidget(label);
  }
  return lines;
}

void SelectEntry(QComboBox* list, int index) {
  list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

}  // namespace

TFormShow_Par::TFormShow_Par(AppState& state, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      state_(state) {
  FormShow_Par = this;
  setObjectName(QStringLiteral("FormShow_Par"));
  setWindowTitle(QStringLiteral(" Умови показу даних"));
  setWindowModality(Qt::ApplicationModal);

  ComboBox1 = new QComboBox(this);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  Panel9 = new QLabel(QString::fromUtf8(kTemperatureUnitName), this);
  Panel9->setObjectName(QStringLiteral("Panel9"));
  Panel9->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel9->setAlignment(Qt::AlignCenter);
  Panel9->setTextFormat(Qt::PlainText);
  Panel9->setAccessibleName(QString::fromUtf8(kTemperatureUnitName));
  ComboBox2 = new QComboBox(this);
  ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  InstallIntKeyFilter(Edit1);

  Label1 = MakeLabel(this, "Label1", "&Одиниця виміру");
  Label2 = MakeLabel(this, "Label2", "показу даних");
  Label3 = MakeLabel(this, "Label3", "&Кількисть знаків показу");
  Label4 = MakeLabel(this, "Label4", "значень параметру");
  Label5 = MakeLabel(this, "Label5", "&Інтервал часу між");
  // The lowest interval accepted is 50 ms all the same.
  Label6 = MakeLabel(this, "Label6", "запитами (20...5000)");
  Label7 = MakeLabel(this, "Label7", "мс");
  Label7->setBuddy(Edit1);

  BitBtn1 = MakeDialogButton(this, "BitBtn1", QStringLiteral("Прийняти"), QStyle::SP_DialogOkButton,
                             true);
  BitBtn2 = MakeDialogButton(this, "BitBtn2", QStringLiteral("Відмінити"),
                             QStyle::SP_DialogCancelButton, false);
  for (QPushButton* button : {BitBtn1, BitBtn2})
    button->setMinimumWidth(100);

  auto* grid = new QGridLayout;
  grid->setColumnStretch(0, 1);
  grid->setColumnMinimumWidth(1, 110);
  grid->setColumnMinimumWidth(2, 24);
  grid->setVerticalSpacing(8);
  grid->addLayout(Lines({Label1, Label2}, ComboBox1), 0, 0, Qt::AlignVCenter);
  // The unit list and the temperature unit share one place; only one of them is ever shown.
  grid->addWidget(ComboBox1, 0, 1, Qt::AlignVCenter);
  grid->addWidget(Panel9, 0, 1);
  grid->addLayout(Lines({Label3, Label4}, ComboBox2), 1, 0, Qt::AlignVCenter);
  grid->addWidget(ComboBox2, 1, 1, Qt::AlignVCenter);
  grid->addLayout(Lines({Label5, Label6}, Edit1), 2, 0, Qt::AlignVCenter);
  grid->addWidget(Edit1, 2, 1, Qt::AlignVCenter);
  grid->addWidget(Label7, 2, 2, Qt::AlignVCenter);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);
  buttons->addStretch(1);
  auto* whole = new QVBoxLayout(this);
  whole->addLayout(grid);
  whole->addSpacing(8);
  whole->addLayout(buttons);
  whole->setSizeConstraint(QLayout::SetFixedSize);

  setTabOrder(ComboBox1, ComboBox2);
  setTabOrder(ComboBox2, Edit1);
  setTabOrder(Edit1, BitBtn1);
  setTabOrder(BitBtn1, BitBtn2);

  connect(BitBtn1, &QPushButton::clicked, this, &TFormShow_Par::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TFormShow_Par::BitBtn2Click);

  FormCreate();
}

TFormShow_Par::~TFormShow_Par() {
  if (FormShow_Par == this)
    FormShow_Par = nullptr;
}

void TFormShow_Par::FormCreate() {
  accepted = false;
  ComboBox1->clear();
  for (const PressureUnit& unit : PressureUnits)
    ComboBox1->addItem(QString::fromUtf8(unit.name));
  ComboBox2->clear();
  for (int decimals = 0; decimals <= kMaxDecimals; ++decimals)
    ComboBox2->addItem(QString::number(decimals));
}

void TFormShow_Par::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TFormShow_Par::FormShow() {
  const TConnectSettings& settings = state_.ConnectSettings;
  const bool pressure = state_.Channel == 0;
  if (pressure) {
    SelectEntry(ComboBox1, settings.P_unit);
    SelectEntry(ComboBox2, settings.P_format);
  } else {
    SelectEntry(ComboBox2, settings.T_format);
  }
  ComboBox1->setVisible(pressure);
  Panel9->setVisible(!pressure);
  Edit1->setText(QString::number(settings.interval));
  (pressure ? static_cast<QWidget*>(ComboBox1) : ComboBox2)->setFocus(Qt::OtherFocusReason);
}

void TFormShow_Par::BitBtn1Click() {
  const bool pressure = state_.Channel == 0;
  if ((pressure && ComboBox1->currentIndex() < 0) || ComboBox2->currentIndex() < 0 ||
      Edit1->text().isEmpty()) {
    state_.ui->ShowMessage(kIncomplete, "");
    return;
  }
  const std::string text = Edit1->text().toStdString();
  const std::optional<int32_t> interval = ParseInt32(text);
  if (!interval) {
    state_.ui->ShowMessage(NotANumberMessage(text), "");
    return;
  }
  if (*interval < kMinInterval || *interval > kMaxInterval) {
    state_.ui->ShowMessage(kIntervalOutOfRange, "");
    return;
  }
  TConnectSettings& settings = state_.ConnectSettings;
  settings.interval = static_cast<uint16_t>(*interval);
  if (pressure) {
    settings.P_unit = static_cast<uint8_t>(ComboBox1->currentIndex());
    settings.P_format = static_cast<uint8_t>(ComboBox2->currentIndex());
  } else {
    settings.T_format = static_cast<uint8_t>(ComboBox2->currentIndex());
  }
  accepted = true;
  accept();
}

void TFormShow_Par::BitBtn2Click() {
  reject();
}
