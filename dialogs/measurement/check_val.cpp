#include "dialogs/measurement/check_val.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <string>

#include "app/app_state.h"
#include "app/calibration.h"
#include "app/number_format.h"
#include "app/suplfunc.h"
#include "comm/modbusbox.h"
#include "dialogs/dialog_widgets.h"

TFormCheck_Val* FormCheck_Val = nullptr;

namespace {

// The measured value: one float in two registers.
constexpr uint16_t kValueRegister = 400;
constexpr uint16_t kValueRegisterCount = 2;
// Slopes and offsets are always shown with this many decimals.
constexpr int kCalibrationDecimals = 5;
constexpr int kPanelMinWidth = 120;
constexpr int kCounterPanelWidth = 60;
// Room on the error panel for this many average characters: every exchange error but the
// two long exception texts fits on it whole; those keep their first sentence in view and show
// all of it as the panel's tool tip.
constexpr int kErrorPanelCharacters = 75;

}  // namespace

TFormCheck_Val::TFormCheck_Val(AppState& state, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      state_(state) {
  FormCheck_Val = this;
  setObjectName(QStringLiteral("FormCheck_Val"));
  setWindowModality(Qt::ApplicationModal);

  GroupBox1 = new QGroupBox(QStringLiteral(" Поточні значення у давачі "), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox2 = new QGroupBox(QStringLiteral(" За налаштуванням виробника "), this);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));

  Panel3 = MakeValuePanel(GroupBox1, "Panel3", "Нахил у давачі", kPanelMinWidth);
  Panel4 = MakeValuePanel(GroupBox1, "Panel4", "Зміщення у давачі", kPanelMinWidth);
  Panel5 = MakeValuePanel(GroupBox1, "Panel5", "Значення у давачі", kPanelMinWidth);
  Label15 = MakePlainLabel(GroupBox1, "Label15");
  Label16 = MakePlainLabel(GroupBox1, "Label16");

  Panel1 = MakeValuePanel(GroupBox2, "Panel1", "Нахил виробника", kPanelMinWidth);
  Panel2 = MakeValuePanel(GroupBox2, "Panel2", "Зміщення виробника", kPanelMinWidth);
  Panel6 =
      MakeValuePanel(GroupBox2, "Panel6", "Значення за налаштуванням виробника", kPanelMinWidth);
  Label12 = MakePlainLabel(GroupBox2, "Label12");
  Label18 = MakePlainLabel(GroupBox2, "Label18");
  Panel1->setText(QStringLiteral("1"));
  Panel2->setText(QStringLiteral("0"));

  struct Row {
    const char* name;
    const char* text;
  };
  const Row kRows[2][3] = {
      {{"Label1", "Нахил"}, {"Label2", "Зміщення"}, {"Label3", "Значення"}},
      {{"Label4", "Нахил"}, {"Label5", "Зміщення"}, {"Label6", "Значення"}},
  };
  QGroupBox* groups[2] = {GroupBox1, GroupBox2};
  QLabel* panels[2][3] = {{Panel3, Panel4, Panel5}, {Panel1, Panel2, Panel6}};
  QLabel* units[2][3] = {{nullptr, Label15, Label16}, {nullptr, Label12, Label18}};
  for (int g = 0; g < 2; ++g) {
    auto* grid = new QGridLayout(groups[g]);
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(2, 70);
    for (int r = 0; r < 3; ++r) {
      QLabel* caption =
          MakePlainLabel(groups[g], kRows[g][r].name, QString::fromUtf8(kRows[g][r].text));
      caption->setBuddy(panels[g][r]);
      grid->addWidget(caption, r, 0);
      grid->addWidget(panels[g][r], r, 1);
      if (units[g][r])
        grid->addWidget(units[g][r], r, 2);
    }
  }

  BitBtn5 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton),
                            QStringLiteral("Выход"), this);
  BitBtn5->setObjectName(QStringLiteral("BitBtn5"));
  BitBtn5->setAccessibleName(QStringLiteral("Выход"));
  BitBtn5->setDefault(true);
  BitBtn5->setMinimumWidth(90);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1Panel0 = MakePlainLabel(StatusBar1, "StatusBar1Panel0");
  StatusBar1Panel0->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  StatusBar1Panel0->setAccessibleName(QStringLiteral("Помилка обміну"));
  StatusBar1Panel0->setMinimumWidth(StatusBar1Panel0->fontMetrics().averageCharWidth() *
                                    kErrorPanelCharacters);
  // A long text is cut at the panel's edge rather than widening the dialog under the user.
  StatusBar1Panel0->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  StatusBar1Panel1 = MakePlainLabel(StatusBar1, "StatusBar1Panel1");
  StatusBar1Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  StatusBar1Panel1->setFixedWidth(kCounterPanelWidth);
  StatusBar1Panel1->setAccessibleName(QStringLiteral("Кількість вимірювань"));
  StatusBar1->addWidget(StatusBar1Panel0, 1);
  StatusBar1->addWidget(StatusBar1Panel1, 0);

  auto* body = new QVBoxLayout;
  auto* groups_row = new QHBoxLayout;
  groups_row->addWidget(GroupBox1);
  groups_row->addWidget(GroupBox2);
  body->addLayout(groups_row);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(BitBtn5);
  buttons->addStretch(1);
  body->addLayout(buttons);
  body->setContentsMargins(10, 10, 10, 6);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  outer->addLayout(body);
  outer->addWidget(StatusBar1);
  outer->setSizeConstraint(QLayout::SetFixedSize);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));

  connect(Timer1, &QTimer::timeout, this, &TFormCheck_Val::Timer1Timer);
  connect(BitBtn5, &QPushButton::clicked, this, &TFormCheck_Val::BitBtn5Click);
}

TFormCheck_Val::~TFormCheck_Val() {
  if (FormCheck_Val == this)
    FormCheck_Val = nullptr;
}

void TFormCheck_Val::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void TFormCheck_Val::FormShow() {
  const TConnectSettings& settings = state_.ConnectSettings;
  QString unit;
  if (state_.Channel == 1) {
    setWindowTitle(QStringLiteral(" Поточні значення температури"));
    factor_ = 1.0;
    digits_ = settings.T_format;
    unit = QString::fromUtf8(kTemperatureUnitName);
  } else {
    setWindowTitle(QStringLiteral(" Поточні значення тиску"));
    // The display settings dialog only lets a listed unit through; an index from nowhere
    // shows the values as the sensor reports them, in its own unit, rather than indexing
    // past the table.
    int unit_index = settings.P_unit;
    if (!PressureFactor(unit_index, factor_)) {
      unit_index = kKilopascalUnit;
      factor_ = PressureUnits[kKilopascalUnit].factor;
    }
    digits_ = settings.P_format;
    unit = QString::fromUtf8(PressureUnits[static_cast<size_t>(unit_index)].name);
  }
  const double offset = static_cast<double>(state_.SensorOffset) * factor_;
  Panel4->setText(Fixed(offset, kCalibrationDecimals));
  for (QLabel* label : {Label15, Label16, Label12, Label18})
    label->setText(unit);
  Panel3->setText(Fixed(state_.SensorSlope, kCalibrationDecimals));

  Timer1->setInterval(state_.ConnectSettings.interval);
  Timer1->start();
  // The first reading is taken as soon as the dialog's event loop runs, not inside the show:
  // a close asked for during that exchange must find a loop to end.
  QTimer::singleShot(0, this, &TFormCheck_Val::Timer1Timer);
}

void TFormCheck_Val::Timer1Timer() {
  // The link carries one exchange at a time; this tick fell due inside the previous one.
  if (busy_ || closing_)
    return;
  modbusbox* box = state_.ActiveModbusBox.get();
  if (box == nullptr)
    return;

  StatusBar1Panel0->setText(QString());
  StatusBar1Panel0->setToolTip(QString());
  QPointer<TFormCheck_Val> alive(this);
  busy_ = true;
  const bool read = box->ReadRegisters(kValueRegister, kValueRegisterCount);
  if (!alive)
    return;
  busy_ = false;

  if (!read) {
    const QString error = OneLine(box->ErrorText());
    StatusBar1Panel0->setText(error);
    StatusBar1Panel0->setToolTip(error);
  } else {
    const float reading = RegistersToFloat(box->values[0], box->values[1]);
    if (IsBadFloat(&reading)) {
      Panel5->setText(QStringLiteral("NAN"));
      Panel6->setText(QStringLiteral("NAN"));
    } else {
      const MonitorValues shown =
          ConvertReading(reading, state_.SensorOffset, state_.SensorSlope, factor_);
      value_ = shown.value;
      factory_value_ = shown.factory_value;
      Panel5->setText(Fixed(value_, digits_));
      Panel6->setText(Fixed(factory_value_, digits_));
      ++count_;
      StatusBar1Panel1->setText(QStringLiteral(" %1").arg(count_));
    }
  }

  if (close_pending_) {
    close_pending_ = false;
    QDialog::done(pending_result_);
  }
}

void TFormCheck_Val::BitBtn5Click() {
  close();
}

void TFormCheck_Val::FormClose() {
  Timer1->stop();
  closing_ = true;
}

void TFormCheck_Val::done(int result) {
  FormClose();
  if (busy_) {
    close_pending_ = true;
    pending_result_ = result;
    return;
  }
  QDialog::done(result);
}
