#include "gui/measurement/ask_val.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <string>
#include <tuple>
#include <utility>

#include "comm/modbusbox.h"
#include "core/app_state.h"
#include "core/number_format.h"
#include "core/suplfunc.h"
#include "gui/dialog_widgets.h"

TFormAsk_Val* FormAsk_Val = nullptr;

namespace {
constexpr int kPanelMinWidth = 150;
constexpr int kButtonWidth = 100;
}  // namespace

TFormAsk_Val::TFormAsk_Val(AppState& state, QWidget* parent)
    : ValuePollingDialog(state, parent, QStringLiteral("Позиція вимірювання")),
      variable_(FormAsk_Val, this) {
  setObjectName(QStringLiteral("FormAsk_Val"));

  Label1 = MakePlainLabel(this, "Label1", QStringLiteral("Поточне значення"));
  Panel2 = MakeValuePanel(this, "Panel2", QStringLiteral("Поточне значення"), kPanelMinWidth);
  Label2 = MakePlainLabel(this, "Label2");
  Label3 = MakePlainLabel(this, "Label3", QStringLiteral("Середнє значення"));
  Label5 = MakePlainLabel(this, "Label5", QStringLiteral("(з 10 останніх вимірювань)"));
  Panel3 = MakeValuePanel(
      this, "Panel3", QStringLiteral("Середнє значення з 10 останніх вимірювань"), kPanelMinWidth);
  Label4 = MakePlainLabel(this, "Label4");
  Label1->setBuddy(Panel2);
  QFont value_font = Panel2->font();
  value_font.setBold(true);
  Panel2->setFont(value_font);
  Panel3->setFont(value_font);

  std::tie(BitBtn1, BitBtn2) = MakeAcceptCancelButtons(this, &TFormAsk_Val::BitBtn1Click,
                                                       &TFormAsk_Val::BitBtn2Click, kButtonWidth);
  setTabOrder(BitBtn1, BitBtn2);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(12);
  grid->setColumnMinimumWidth(2, 70);
  grid->addWidget(Label1, 0, 0);
  grid->addWidget(Panel2, 0, 1);
  grid->addWidget(Label2, 0, 2);
  grid->addLayout(MakeCaptionLines({Label3, Label5}, Panel3), 1, 0);
  grid->addWidget(Panel3, 1, 1);
  grid->addWidget(Label4, 1, 2);
  // The values keep their size in the middle of a dialog as wide as its status bar.
  auto* values = new QHBoxLayout;
  values->addStretch(1);
  values->addLayout(grid);
  values->addStretch(1);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(12, 12, 12, 8);
  body->addLayout(values);
  body->addSpacing(10);
  body->addLayout(MakeButtonRow({BitBtn1, BitBtn2}, ButtonsAt::kCentre, 20));
  LayOutOverStatusBar(this, body, StatusBar1);
}

void TFormAsk_Val::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!std::exchange(shown_, true))
    FormShow();
}

void TFormAsk_Val::FormShow() {
  setWindowTitle(state_.Channel == 1 ? QStringLiteral(" Опитування поточного значення температури")
                                     : QStringLiteral(" Опитування поточного значення тиску"));
  // The values come converted by the record's factor.
  const QString unit =
      QString::fromStdString(ChannelUnitName(state_.Channel, state_.ConnectSettings.P_unit));
  Label2->setText(unit);
  Label4->setText(unit);
  BitBtn1->setEnabled(false);

  StartPolling();
}

void TFormAsk_Val::Timer1Timer() {
  if (record == nullptr)
    return;
  float reading = 0.0f;
  const ReadOutcome outcome = ReadValue(reading);
  if (outcome == ReadOutcome::kSkipped || outcome == ReadOutcome::kGone)
    return;
  if (outcome == ReadOutcome::kValue) {
    if (record->factor != 1.0 && !IsBadFloat(&reading))
      reading = ToDisplayUnit(reading, record->factor);
    // A reading at the edge of the float range can overflow in the display unit; it would
    // spoil the next ten averages, so it is refused like a reading that is not a number.
    if (IsBadFloat(&reading)) {
      Panel2->setText(QStringLiteral("NAN"));
    } else {
      Panel2->setText(Fixed(reading, record->digits));
      ring_.Add(reading);
      StatusBar1Panel1->setText(QStringLiteral(" %1").arg(ring_.pos()));
      BitBtn1->setEnabled(true);
      Panel3->setText(Fixed(ring_.average(), record->digits));
    }
  }
  FinishDeferredClose();
}

void TFormAsk_Val::SetValuesStale(bool stale) {
  Panel2->setEnabled(!stale);
  Panel3->setEnabled(!stale);
  // An average over readings from before the loss would pass for a fresh one.
  BitBtn1->setEnabled(!stale && ring_.has_average());
}

void TFormAsk_Val::BitBtn1Click() {
  if (closing() || record == nullptr || !ring_.has_average() ||
      record->point >= record->received.size())
    return;
  record->received[record->point] = ring_.average();
  accepted = true;
  accept();
}

void TFormAsk_Val::BitBtn2Click() {
  reject();
}
