#include "gui/measurement/check_val.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <string>
#include <utility>

#include "comm/modbusbox.h"
#include "core/app_state.h"
#include "core/calibration.h"
#include "core/number_format.h"
#include "core/suplfunc.h"
#include "gui/dialog_widgets.h"

TFormCheck_Val* FormCheck_Val = nullptr;

namespace {

constexpr int kPanelMinWidth = 120;

}  // namespace

TFormCheck_Val::TFormCheck_Val(AppState& state, QWidget* parent)
    : ValuePollingDialog(state, parent, QStringLiteral("Кількість вимірювань")),
      variable_(FormCheck_Val, this) {
  setObjectName(QStringLiteral("FormCheck_Val"));

  GroupBox1 = MakeGroupBox(this, "GroupBox1", QStringLiteral(" Поточні значення у давачі "));
  GroupBox2 = MakeGroupBox(this, "GroupBox2", QStringLiteral(" За налаштуванням виробника "));

  Panel3 = MakeValuePanel(GroupBox1, "Panel3", QStringLiteral("Нахил у давачі"), kPanelMinWidth);
  Panel4 = MakeValuePanel(GroupBox1, "Panel4", QStringLiteral("Зміщення у давачі"), kPanelMinWidth);
  Panel5 = MakeValuePanel(GroupBox1, "Panel5", QStringLiteral("Значення у давачі"), kPanelMinWidth);
  Label15 = MakePlainLabel(GroupBox1, "Label15");
  Label16 = MakePlainLabel(GroupBox1, "Label16");

  Panel1 = MakeValuePanel(GroupBox2, "Panel1", QStringLiteral("Нахил виробника"), kPanelMinWidth);
  Panel2 =
      MakeValuePanel(GroupBox2, "Panel2", QStringLiteral("Зміщення виробника"), kPanelMinWidth);
  Panel6 = MakeValuePanel(GroupBox2, "Panel6",
                          QStringLiteral("Значення за налаштуванням виробника"), kPanelMinWidth);
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

  BitBtn5 = MakeDialogButton(this, "BitBtn5", QStringLiteral("Выход"), QStyle::SP_DialogCloseButton,
                             EnterKey::kPresses);
  BitBtn5->setMinimumWidth(90);

  auto* body = new QVBoxLayout;
  auto* groups_row = new QHBoxLayout;
  groups_row->addWidget(GroupBox1);
  groups_row->addWidget(GroupBox2);
  body->addLayout(groups_row);
  body->addLayout(MakeButtonRow({BitBtn5}, ButtonsAt::kCentre));
  body->setContentsMargins(10, 10, 10, 6);
  LayOutOverStatusBar(this, body, StatusBar1);

  connect(BitBtn5, &QPushButton::clicked, this, &TFormCheck_Val::BitBtn5Click);
}

void TFormCheck_Val::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!std::exchange(shown_, true))
    FormShow();
}

void TFormCheck_Val::FormShow() {
  const TConnectSettings& settings = state_.ConnectSettings;
  if (state_.Channel == 1) {
    setWindowTitle(QStringLiteral(" Поточні значення температури"));
    factor_ = 1.0;
    digits_ = settings.T_format;
  } else {
    setWindowTitle(QStringLiteral(" Поточні значення тиску"));
    // The display settings dialog only lets a listed unit through; an unlisted index shows
    // the values in kPa, as their unit's name says.
    factor_ = PressureUnits[static_cast<size_t>(ListedPressureUnit(settings.P_unit))].factor;
    digits_ = settings.P_format;
  }
  const QString unit = QString::fromStdString(ChannelUnitName(state_.Channel, settings.P_unit));
  const double offset = static_cast<double>(state_.SensorOffset) * factor_;
  Panel4->setText(Fixed(offset, kCalibrationDecimals));
  for (QLabel* label : {Label15, Label16, Label12, Label18})
    label->setText(unit);
  Panel3->setText(Fixed(state_.SensorSlope, kCalibrationDecimals));

  StartPolling();
}

void TFormCheck_Val::Timer1Timer() {
  float reading = 0.0f;
  const ReadOutcome outcome = ReadValue(reading);
  if (outcome == ReadOutcome::kSkipped || outcome == ReadOutcome::kGone)
    return;
  if (outcome == ReadOutcome::kValue) {
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
      state_.LastValue = value_;
      ++count_;
      StatusBar1Panel1->setText(QStringLiteral(" %1").arg(count_));
    }
  }
  FinishDeferredClose();
}

void TFormCheck_Val::SetValuesStale(bool stale) {
  for (QLabel* panel : {Panel5, Panel6})
    panel->setEnabled(!stale);
}

void TFormCheck_Val::BitBtn5Click() {
  close();
}
