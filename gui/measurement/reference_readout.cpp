#include "gui/measurement/reference_readout.h"

#include <QGridLayout>
#include <QLabel>
#include <QPalette>
#include <QPointer>
#include <cmath>
#include <vector>

#include "core/app_state.h"
#include "core/reference_session.h"
#include "core/suplfunc.h"
#include "gui/dialog_widgets.h"

namespace {
constexpr int kPanelMinWidth = 150;
}  // namespace

ReferenceReadout::ReferenceReadout(AppState& state, QWidget* parent)
    : QGroupBox(QStringLiteral("Еталон"), parent), state_(state) {
  setObjectName(QStringLiteral("ReferenceBox"));
  auto* grid = new QGridLayout(this);
  struct Row {
    QLabel*& panel;
    const char* name;
    const char* caption;
  };
  const Row rows[] = {
      {RefPanel1, "RefPanel1", "Показ еталона"},
      {RefPanel2, "RefPanel2", "Середнє еталона"},
      {RefPanel3, "RefPanel3", "Відхилення еталона"},
      {RefPanel4, "RefPanel4", "Стан еталона"},
  };
  int row = 0;
  for (const Row& r : rows) {
    const QString caption = QString::fromUtf8(r.caption);
    r.panel = MakeValuePanel(this, r.name, caption, kPanelMinWidth);
    QLabel* label = MakePlainLabel(this, nullptr, caption);
    label->setBuddy(r.panel);
    grid->addWidget(label, row, 0);
    grid->addWidget(r.panel, row++, 1);
  }
  RefStatus = MakePlainLabel(this, "RefStatus");
  RefStatus->setWordWrap(true);
  RefStatus->setAccessibleName(QStringLiteral("Помилка еталона"));
  grid->addWidget(RefStatus, row, 0, 1, 2);
  hide();
}

bool ReferenceReadout::Start(int digits, const QString& unit, double stability_share) {
  digits_ = digits;
  stability_share_ = stability_share;
  if (!ReferenceConfigured(state_))
    return false;
  active_ = true;
  setTitle(QStringLiteral("Еталон, ") + unit);
  show();
  std::string error;
  if (!OpenReference(state_, error)) {
    ShowFailure(error);
    return false;
  }
  setTitle(QString::fromStdString(state_.Reference->Title()) + QStringLiteral(", ") + unit);
  return true;
}

bool ReferenceReadout::Tick(uint32_t now_ms) {
  if (!active_ || busy_)
    return true;
  if (!state_.Reference || !state_.Reference->is_open()) {
    // A lost port (or one that would not open) is tried again once its device is there.
    const bool back = state_.Reference ? state_.Reference->DeviceBack() : true;
    std::string error;
    if (!back || !OpenReference(state_, error))
      return true;
    RefPanel1->setEnabled(true);
  }
  ReferenceLink& link = *state_.Reference;
  QPointer<ReferenceReadout> alive(this);
  busy_ = true;
  std::string error;
  double value = 0.0;
  bool in_limits = true;
  ReferenceLink::Result result = link.InLimits(in_limits, error);
  if (!alive)
    return false;
  if (result == ReferenceLink::Result::kOk) {
    result = link.Read(state_.Channel, state_.ConnectSettings.P_unit, value, error);
    if (!alive)
      return false;
  }
  busy_ = false;
  if (result != ReferenceLink::Result::kOk) {
    ShowFailure(error);
    return true;
  }
  const float reading = static_cast<float>(value);
  if (IsBadFloat(&reading)) {
    ShowFailure(link.Title() + ": показ поза межами чисел");
    return true;
  }
  last_error_.clear();
  RefStatus->clear();
  in_limits_ = in_limits;
  if (!ring_.has_average())
    first_ms_ = now_ms;
  ring_.Add(reading, static_cast<double>(now_ms - first_ms_));
  RefPanel1->setText(Fixed(reading, digits_));
  RefPanel2->setText(Fixed(ring_.average(), digits_));
  ShowSpread();
  return true;
}

void ReferenceReadout::Abort() {
  if (busy_ && state_.Reference)
    state_.Reference->RequestAbort();
}

void ReferenceReadout::ShowFailure(const std::string& error) {
  last_error_ = error;
  RefStatus->setText(QString::fromStdString(error));
  RefPanel1->setText(QStringLiteral("—"));
}

void ReferenceReadout::ShowSpread() {
  std::vector<double> values;
  std::vector<double> times;
  ring_.Ordered(values, times);
  spread_ =
      SpreadOf(values, times, StatisticsRing::kSize, std::pow(10.0, -digits_), stability_share_);
  RefPanel3->setText(Fixed(spread_.deviation, digits_ + 1));
  QPalette palette = RefPanel4->palette();
  if (settled()) {
    RefPanel4->setText(QStringLiteral("усталився"));
    palette.setColor(QPalette::WindowText, QColor(0, 120, 0));
  } else {
    RefPanel4->setText(!in_limits_    ? QStringLiteral("не в допуску")
                       : spread_.full ? QStringLiteral("змінюється")
                                      : QStringLiteral("накопичення"));
    palette.setColor(QPalette::WindowText, QColor(170, 80, 0));
  }
  RefPanel4->setPalette(palette);
}
