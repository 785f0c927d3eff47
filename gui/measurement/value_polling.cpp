#include "gui/measurement/value_polling.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include "comm/comportfunctions.h"
#include "comm/modbusbox.h"
#include "core/app_state.h"
#include "gui/dialog_widgets.h"

namespace {

constexpr int kCounterPanelWidth = 60;
// Room on the error panel for this many average characters: every exchange error but the
// two long exception texts fits on it whole; those keep their first sentence in view and show
// all of it as the panel's tool tip.
constexpr int kErrorPanelCharacters = 75;

}  // namespace

ValuePollingDialog::ValuePollingDialog(AppState& state, QWidget* parent,
                                       const QString& counter_name)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      state_(state) {
  setWindowModality(Qt::ApplicationModal);

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
  StatusBar1Panel1->setAccessibleName(counter_name);
  StatusBar1->addWidget(StatusBar1Panel0, 1);
  StatusBar1->addWidget(StatusBar1Panel1, 0);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  connect(Timer1, &QTimer::timeout, this, &ValuePollingDialog::Timer1Timer);

  ReconnectButton =
      MakeDialogButton(StatusBar1, "ReconnectButton", QStringLiteral("&Перепідключити"),
                       QStyle::SP_BrowserReload, EnterKey::kWhenFocused);
  ReconnectButton->hide();
  StatusBar1->addPermanentWidget(ReconnectButton);
  connect(ReconnectButton, &QPushButton::clicked, this, &ValuePollingDialog::ReconnectClick);
  WatchTimer = new QTimer(this);
  WatchTimer->setObjectName(QStringLiteral("WatchTimer"));
  WatchTimer->setInterval(kWatchMs);
  connect(WatchTimer, &QTimer::timeout, this, &ValuePollingDialog::WatchForDevice);
}

void ValuePollingDialog::LinkLost() {
  // Polling a port that is gone only fails again; the timer that looks for its device costs
  // a file lookup twice a second.
  Timer1->stop();
  SetValuesStale(true);
  ReconnectButton->setEnabled(false);
  ReconnectButton->show();
  WatchTimer->start();
  WatchForDevice();
}

void ValuePollingDialog::WatchForDevice() {
  const bool back = ComPortPresent(state_.ConnectSettings.port);
  ReconnectButton->setEnabled(back);
  const QString text = back ? QStringLiteral(
                                  "Зв'язок втрачено; пристрій знову на місці: "
                                  "натисніть «Перепідключити»")
                            : QStringLiteral(
                                  "Зв'язок втрачено (порт зник): значення застарілі, "
                                  "очікую на пристрій");
  StatusBar1Panel0->setText(text);
  StatusBar1Panel0->setToolTip(text);
  if (back && !ReconnectButton->hasFocus())
    ReconnectButton->setFocus();
}

void ValuePollingDialog::ReconnectClick() {
  if (busy_ || closing_ || !state_.reconnect)
    return;
  WatchTimer->stop();
  ReconnectButton->setEnabled(false);
  QPointer<ValuePollingDialog> alive(this);
  busy_ = true;
  const bool up = state_.reconnect();
  if (!alive)
    return;
  busy_ = false;
  if (!up) {
    WatchTimer->start();
    FinishDeferredClose();
    return;
  }
  ReconnectButton->hide();
  StatusBar1Panel0->clear();
  SetValuesStale(false);
  FinishDeferredClose();
  if (!closing_)
    StartPolling();
}

void ValuePollingDialog::StartPolling() {
  Timer1->setInterval(state_.ConnectSettings.interval);
  Timer1->start();
  QTimer::singleShot(0, this, &ValuePollingDialog::Timer1Timer);
}

ValuePollingDialog::ReadOutcome ValuePollingDialog::ReadValue(float& reading) {
  // The link carries one exchange at a time; this tick fell due inside the previous one.
  if (busy_ || closing_)
    return ReadOutcome::kSkipped;
  modbusbox* box = state_.ActiveModbusBox.get();
  if (box == nullptr)
    return ReadOutcome::kSkipped;

  StatusBar1Panel0->setText(QString());
  StatusBar1Panel0->setToolTip(QString());
  QPointer<ValuePollingDialog> alive(this);
  busy_ = true;
  const bool read = box->ReadValue(reading);
  if (!alive)
    return ReadOutcome::kGone;
  busy_ = false;

  if (!read) {
    const QString error = OneLine(box->ErrorText());
    StatusBar1Panel0->setText(error);
    StatusBar1Panel0->setToolTip(error);
    if (box->error_code == modbusbox::kErrorLinkLost) {
      LinkLost();
      return ReadOutcome::kLinkLost;
    }
    return ReadOutcome::kFailed;
  }
  return ReadOutcome::kValue;
}

void ValuePollingDialog::FinishDeferredClose() {
  if (close_pending_) {
    close_pending_ = false;
    QDialog::done(pending_result_);
  }
}

void ValuePollingDialog::done(int result) {
  Timer1->stop();
  WatchTimer->stop();
  closing_ = true;
  if (busy_) {
    close_pending_ = true;
    pending_result_ = result;
    return;
  }
  QDialog::done(result);
}
