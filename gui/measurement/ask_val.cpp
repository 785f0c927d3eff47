#include "gui/measurement/ask_val.h"

#include <QColor>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <utility>

#include "comm/modbusbox.h"
#include "core/app_state.h"
#include "core/calibration_checks.h"
#include "core/number_format.h"
#include "core/suplfunc.h"
#include "gui/dialog_widgets.h"
#include "gui/measurement/reference_readout.h"
#include "gui/measurement/trend_view.h"

TFormAsk_Val* FormAsk_Val = nullptr;

namespace {
constexpr int kPanelMinWidth = 150;
constexpr int kButtonWidth = 100;
constexpr double kRefreshSeconds = 0.5;
constexpr size_t kDrawnPoints = 600;
// The drift is taken over this much of the latest readings; at the fastest polling (50 ms)
// that is every one of them.
constexpr double kDriftSeconds = 60.0;
constexpr size_t kDriftPoints = 2000;

// One unit of the last decimal shown: a spread below it cannot be seen on screen.
double DisplayStep(int digits) {
  return std::pow(10.0, -digits);
}

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

  struct SpreadRow {
    QLabel*& panel;
    const char* panel_name;
    const char* label_name;
    const char* caption;
    bool with_unit;
  };
  const SpreadRow spread_rows[] = {
      {Panel4, "Panel4", "Label6", "Вимірювань у середньому", false},
      {Panel5, "Panel5", "Label7", "Стандартне відхилення", true},
      {Panel6, "Panel6", "Label8", "Мінімум", true},
      {Panel7, "Panel7", "Label9", "Максимум", true},
      {Panel8, "Panel8", "Label10", "Дрейф за хвилину", true},
      {Panel9, "Panel9", "Label11", "Стабільність", false},
  };

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
  int row = 2;
  for (const SpreadRow& r : spread_rows) {
    const QString caption = QString::fromUtf8(r.caption);
    r.panel = MakeValuePanel(this, r.panel_name, caption, kPanelMinWidth);
    QLabel* label = MakePlainLabel(this, r.label_name, caption);
    label->setBuddy(r.panel);
    grid->addWidget(label, row, 0);
    grid->addWidget(r.panel, row, 1);
    if (r.with_unit)
      spread_units_.push_back(MakePlainLabel(this, nullptr));
    if (r.with_unit)
      grid->addWidget(spread_units_.back(), row, 2);
    ++row;
  }
  // The values keep their size in the middle of a dialog as wide as its status bar.
  RefBox1 = new ReferenceReadout(state_, this);
  auto* sensor_and_reference = new QVBoxLayout;
  sensor_and_reference->addLayout(grid);
  sensor_and_reference->addSpacing(10);
  sensor_and_reference->addWidget(RefBox1);
  sensor_and_reference->addStretch(1);
  auto* values = new QHBoxLayout;
  values->addStretch(1);
  values->addLayout(sensor_and_reference);
  values->addStretch(1);

  Chart1 = new TrendView(this, "Chart1", {QStringLiteral("Вимірювання"), QStringLiteral("Середнє")},
                         true);
  Chart1->setMinimumSize(480, 300);
  auto* top = new QHBoxLayout;
  top->addLayout(values);
  top->addWidget(Chart1, 1);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(12, 12, 12, 8);
  body->addLayout(top);
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
  Chart1->SetUnit(unit);
  for (QLabel* label : spread_units_)
    label->setText(unit);
  Panel8->setAccessibleName(Panel8->accessibleName() + QStringLiteral(", ") + unit);
  const QString drift_note =
      QStringLiteral("Дрейф показується, коли вимірювання охоплюють щонайменше %1 с")
          .arg(kDriftMinSpanMs / 1000.0);
  Panel8->setToolTip(drift_note);
  Panel8->setAccessibleDescription(drift_note);
  BitBtn1->setEnabled(false);
  stability_share_ = LoadCalibrationLimits(state_.IniPath).stability_share;
  if (record != nullptr && with_reference) {
    RefBox1->Start(record->digits, unit, stability_share_);
    // The box was hidden when the dialog took its size.
    if (RefBox1->active() && layout() != nullptr) {
      layout()->activate();
      adjustSize();
    }
  }

  StartPolling();
}

void TFormAsk_Val::Timer1Timer() {
  // Both instruments are read in one tick, one after the other; a tick due inside the
  // reference's exchange is skipped like one due inside the sensor's.
  if (record == nullptr || RefBox1->busy())
    return;
  float reading = 0.0f;
  const ReadOutcome outcome = ReadValue(reading);
  if (outcome == ReadOutcome::kSkipped || outcome == ReadOutcome::kGone)
    return;
  // The reference is read straight after the sensor, before anything is drawn: a slow repaint
  // between the two would let the next tick fall due inside the reference's exchange and be
  // lost.
  if (!closing() && !RefBox1->Tick(state_.clock->TickCount()))
    return;
  if (outcome != ReadOutcome::kValue) {
    series_.Break();  // failed or the link lost: no reading for this tick
  } else {
    if (record->factor != 1.0 && !IsBadFloat(&reading))
      reading = ToDisplayUnit(reading, record->factor);
    // A reading at the edge of the float range can overflow in the display unit; it would
    // spoil the next ten averages, so it is refused like a reading that is not a number.
    if (IsBadFloat(&reading)) {
      Panel2->setText(QStringLiteral("NAN"));
      series_.Break();
    } else {
      Panel2->setText(Fixed(reading, record->digits));
      // Times from the first reading; the tick count wraps, its differences do not.
      const uint32_t now = state_.clock->TickCount();
      if (!ring_.has_average())
        first_tick_ = now;
      ring_.Add(reading, static_cast<double>(now - first_tick_));
      ++readings_taken_;
      StatusBar1Panel1->setText(QStringLiteral(" %1").arg(ring_.pos()));
      BitBtn1->setEnabled(true);
      Panel3->setText(Fixed(ring_.average(), record->digits));
      series_.Add({static_cast<double>(now - first_tick_) / 1000.0, reading, ring_.average()});
      ShowSpread();
      if (last_refresh_ < 0.0 || series_.last_time() - last_refresh_ >= kRefreshSeconds)
        RefreshChart();
    }
  }
  FinishDeferredClose();
}

void TFormAsk_Val::done(int result) {
  RefBox1->Abort();
  ValuePollingDialog::done(result);
}

std::string TFormAsk_Val::NotSettled() const {
  const std::string unit = ChannelUnitName(state_.Channel, state_.ConnectSettings.P_unit);
  const int digits = record->digits;
  std::string why;
  if (!settled_) {
    if (!spread_.full) {
      why = "Середнє взято лише з " + std::to_string(spread_.count) + " вимірювань з " +
            std::to_string(StatisticsRing::kSize) + ".";
    } else {
      const double limit = StabilityLimit(spread_.mean, DisplayStep(digits), stability_share_);
      if (spread_.stable && drift_) {
        why = "Дрейф " + FormatFixed(std::fabs(*drift_), digits + 1) + " " + unit +
              " за хвилину більший за " + FormatFixed(limit, digits + 1) + " " + unit + ".";
      } else {
        why = "Розкид " + FormatFixed(spread_.maximum - spread_.minimum, digits) + " " + unit +
              " більший за " + FormatFixed(limit, digits + 1) + " " + unit + ".";
      }
    }
  }
  if (RefBox1->active() && !RefBox1->settled()) {
    const ReadingSpread& r = RefBox1->spread();
    why += why.empty() ? "" : "\r";
    why += !r.full ? "Еталон: середнє взято лише з " + std::to_string(r.count) + " вимірювань з " +
                         std::to_string(StatisticsRing::kSize) + "."
                   : std::string("Еталон ще не усталився.");
  }
  return why;
}

void TFormAsk_Val::ShowSpread() {
  std::vector<double> values;
  std::vector<double> times;
  ring_.Ordered(values, times);
  spread_ =
      SpreadOf(values, times, StatisticsRing::kSize, DisplayStep(record->digits), stability_share_);
  // The drift comes from the last minute of readings, however many the ring holds.
  values.clear();
  times.clear();
  for (const SeriesPoint& p : series_.Window(kDriftSeconds, kDriftPoints)) {
    values.push_back(p.reported);
    times.push_back(p.t * 1000.0);
  }
  drift_ = DriftPerMinute(values, times);
  const double limit = StabilityLimit(spread_.mean, DisplayStep(record->digits), stability_share_);
  // A point that moves by more than its band in a minute has not settled, however close its
  // last ten readings lie.
  settled_ = spread_.stable && (!drift_ || std::fabs(*drift_) <= limit * (1.0 + 1e-9));

  const int digits = record->digits;
  Panel4->setText(QStringLiteral("%1 з %2").arg(spread_.count).arg(StatisticsRing::kSize));
  Panel5->setText(Fixed(spread_.deviation, digits + 1));
  Panel6->setText(Fixed(spread_.minimum, digits));
  Panel7->setText(Fixed(spread_.maximum, digits));
  Panel8->setText(drift_ ? Fixed(*drift_, digits + 1) : QStringLiteral("—"));
  QPalette palette = Panel9->palette();
  if (settled_) {
    Panel9->setText(QStringLiteral("усталився"));
    palette.setColor(QPalette::WindowText, QColor(0, 120, 0));
  } else {
    Panel9->setText(spread_.full ? QStringLiteral("змінюється") : QStringLiteral("накопичення"));
    palette.setColor(QPalette::WindowText, QColor(170, 80, 0));
  }
  Panel9->setPalette(palette);
}

void TFormAsk_Val::RefreshChart() {
  last_refresh_ = series_.last_time();
  // The readings as line 0, the running mean (kept as the factory value) as line 1.
  Chart1->SetValueLines(series_.Window(series_.last_time() + 1.0, kDrawnPoints));
  // The band spans the time of the readings the average is taken over.
  std::vector<double> values;
  std::vector<double> times;
  ring_.Ordered(values, times);
  if (!values.empty()) {
    const double from = times.front() / 1000.0;
    const double to = times.back() / 1000.0;
    Chart1->SetBand({QPointF(from, spread_.maximum), QPointF(to, spread_.maximum)},
                    {QPointF(from, spread_.minimum), QPointF(to, spread_.minimum)});
  }
  Chart1->ShowSpan(0.0, std::max(series_.last_time(), 10.0));
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
  // A reference that is set but not answering gives no applied value: taking its older mean
  // would record a value it no longer vouches for.
  if (RefBox1->active() && (RefBox1->failing() || !RefBox1->has_mean())) {
    const std::string why =
        RefBox1->failing() ? RefBox1->last_error() : std::string("Еталон ще не дав показу.");
    state_.ui->ShowMessage(why + "\rТочку не прийнято.", "");
    return;
  }
  if (!NotSettled().empty()) {
    // The question names the readings as they stand and its "Так" takes exactly those: no
    // reading is added while it is open (the reference is polled in the same tick). Going on
    // collecting is its default.
    const bool polling = Timer1->isActive();
    Timer1->stop();
    bool take = false;
    uint64_t asked_about = 0;
    do {
      asked_about = readings_taken_;
      take = AskToTakeUnsettled();
      if (closing())
        return;
    } while (take && asked_about != readings_taken_);
    if (!take) {
      if (polling)
        StartPolling();
      return;
    }
  }
  const size_t i = record->point;
  record->received[i] = ring_.average();
  record->readings[i] = spread_.count;
  record->deviation[i] = static_cast<float>(spread_.deviation);
  if (RefBox1->active()) {
    record->applied[i] = RefBox1->mean();
    record->applied_readings[i] = RefBox1->spread().count;
    record->applied_deviation[i] = static_cast<float>(RefBox1->spread().deviation);
  }
  accepted = true;
  accept();
}

bool TFormAsk_Val::AskToTakeUnsettled() {
  const bool sensor = !settled_;
  const std::string what = sensor && !spread_.full ? "Набрано замало вимірювань."
                           : sensor ? "Показ давача ще не усталився."
                                    : "Еталон ще не усталився.";
  return state_.ui->AskCautiously(what, NotSettled(), std::string("Прийняти це середнє значення?"));
}

void TFormAsk_Val::BitBtn2Click() {
  reject();
}
