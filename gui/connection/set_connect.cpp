#include "gui/connection/set_connect.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>
#include <optional>
#include <string>

#include "core/app_state.h"
#include "core/link_session.h"
#include "gui/connection/constpass.h"
#include "gui/dialog_widgets.h"

TFormSet_Connect* FormSet_Connect = nullptr;

namespace {

const char* const kCaptions[TFormSet_Connect::kSteps] = {
    " Встановлення зв'язку з ЛУТАР",
    "Визначення режиму роботи ЛУТАР",
    "Запис режиму обслуговуваня ЛУТАР",
    "Встановлення зв'язку з давачем",
    "Визначення К наклону і зміщення парам. калібровки",
};

const char kRunning[] = "Виконується";
const char kDone[] = "Виконано";

// Steps that talk to the corrector; a direct link skips them.
constexpr int kFirstSensorStep = 3;

// Corrector models and software this program knows how to service.
constexpr uint8_t kPlates[] = {26, 28, 29};
constexpr uint8_t kSoftwareVersion = 37;

void SetColour(QLabel* label, Qt::GlobalColor colour) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
}

}  // namespace

TFormSet_Connect::TFormSet_Connect(AppState& state, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      state_(state),
      variable_(FormSet_Connect, this) {
  setObjectName(QStringLiteral("FormSet_Connect"));
  setWindowTitle(QStringLiteral(" Встановлення зв'язку з давачем"));
  setWindowModality(Qt::ApplicationModal);

  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(4);
  QFrame** panels[kSteps] = {&pn1, &pn2, &pn3, &pn4, &pn5};
  QLabel** captions[kSteps] = {&l1, &l2, &l3, &l4, &l5};
  QLabel** states[kSteps] = {&v1, &v2, &v3, &v4, &v5};
  for (int k = 0; k < kSteps; ++k) {
    const QString number = QString::number(k + 1);
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("pn") + number);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* caption = new QLabel(QString::fromUtf8(kCaptions[k]), panel);
    caption->setObjectName(QStringLiteral("l") + number);
    auto* step_state = new QLabel(panel);
    step_state->setObjectName(QStringLiteral("v") + number);
    step_state->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    step_state->setAccessibleName(caption->text().trimmed());
    // Room for the longer of the two state texts, kept while the state is hidden.
    step_state->setMinimumWidth(step_state->fontMetrics().horizontalAdvance(kRunning) + 8);
    QSizePolicy keep = step_state->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    step_state->setSizePolicy(keep);
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(8, 5, 8, 5);
    row->addWidget(caption, 1);
    row->addWidget(step_state);
    layout->addWidget(panel);
    *panels[k] = panel;
    *captions[k] = caption;
    *states[k] = step_state;
  }

  Label1 = MakeLabel(this, "Label1", QStringLiteral("Очікуйте виконання"));
  // Nothing here is accepted by Enter: the only button cancels, and only on purpose.
  BitBtn2 = MakeDialogButton(this, "BitBtn2", QStringLiteral("Відмінити"),
                             QStyle::SP_DialogCancelButton, EnterKey::kNever);
  auto* bottom = new QHBoxLayout;
  bottom->setContentsMargins(0, 8, 0, 0);
  bottom->addWidget(Label1);
  bottom->addStretch();
  bottom->addWidget(BitBtn2);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  TimerStart = new QTimer(this);
  TimerStart->setObjectName(QStringLiteral("TimerStart"));
  TimerStart->setInterval(kStartDelayMs);
  TimerStart->setSingleShot(true);

  connect(TimerStart, &QTimer::timeout, this, &TFormSet_Connect::TimerStartTimer);
  connect(BitBtn2, &QPushButton::clicked, this, &TFormSet_Connect::BitBtn2Click);

  FormCreate();
}

void TFormSet_Connect::FormCreate() {
  connected = false;
  for (int k = 0; k < kSteps; ++k) {
    const QString number = QString::number(k + 1);
    captions_[k] = findChild<QLabel*>(QStringLiteral("l") + number);
    states_[k] = findChild<QLabel*>(QStringLiteral("v") + number);
    panels_[k] = findChild<QFrame*>(QStringLiteral("pn") + number);
    SetColour(captions_[k], Qt::black);
    SetColour(states_[k], Qt::red);
    states_[k]->setText(kRunning);
    states_[k]->hide();
  }
}

void TFormSet_Connect::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!running_ && !finished_)
    FormShow();
}

void TFormSet_Connect::FormShow() {
  TimerStart->start();
}

void TFormSet_Connect::closeEvent(QCloseEvent* event) {
  if (running_) {
    // The steps leave the corrector in a known state only when they run to their end; the
    // dialog closes by itself when they are done.
    event->ignore();
    return;
  }
  TimerStart->stop();
  QDialog::closeEvent(event);
}

void TFormSet_Connect::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    BitBtn2Click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TFormSet_Connect::BitBtn2Click() {
  if (!state_.ui->AskQuestion("Ви впевнені, що хочете",
                              std::string("відмінити встановлення зв'язку?"), std::nullopt)) {
    return;
  }
  // The running exchange, or the next one, stops as aborted; the sequence then fails there.
  RequestAbort(state_);
}

void TFormSet_Connect::MarkRunning(int step) {
  SetColour(captions_[step], Qt::red);
  SetColour(states_[step], Qt::red);
  states_[step]->setText(kRunning);
  states_[step]->show();
  panels_[step]->repaint();
}

void TFormSet_Connect::MarkEnded(int step, bool ok) {
  SetColour(captions_[step], Qt::black);
  SetColour(states_[step], Qt::black);
  states_[step]->setText(QString());
  panels_[step]->repaint();
  if (ok) {
    states_[step]->setText(kDone);
    states_[step]->repaint();
  }
}

void TFormSet_Connect::TimerStartTimer() {
  TimerStart->stop();
  if (running_ || finished_)
    return;
  running_ = true;

  int step = 0;
  if (state_.ConnectSettings.conn_type == 0) {
    for (int k = 0; k < kFirstSensorStep; ++k) {
      SetColour(captions_[k], Qt::gray);
    }
    step = kFirstSensorStep;
  }
  bool ok = false;
  for (; step < kSteps; ++step) {
    // A cancel clicked between two steps takes effect here.
    state_.ui->ProcessMessages();
    MarkRunning(step);
    ok = RunStep(step);
    MarkEnded(step, ok);
    if (!ok)
      break;
  }

  state_.ui->ShowMessage(ok ? "Зв'язок з давачем встановлено" : "Зв'язок з давачем не встановлено",
                         "");
  connected = ok;
  running_ = false;
  finished_ = true;
  done(connected ? QDialog::Accepted : QDialog::Rejected);
}

bool TFormSet_Connect::RunStep(int step) {
  modbusbox* sensor = state_.ActiveModbusBox.get();
  switch (step) {
    case 0:
      return IdentifyCorrector();
    case 1:
      return FreeLine();
    case 2:
      return EnterService();
    case 3:
      return sensor != nullptr && sensor->ReadUnit(state_.Channel);
    case 4:
      return sensor != nullptr && sensor->ReadCalibration(state_.SensorOffset, state_.SensorSlope);
    default:
      return false;
  }
}

bool TFormSet_Connect::IdentifyCorrector() {
  calcbox* box = state_.ActiveCalcBox.get();
  if (box == nullptr || !box->ReadIdentification())
    return false;
  const bool known_plate =
      std::find(std::begin(kPlates), std::end(kPlates), box->plate) != std::end(kPlates);
  if (known_plate && box->sw_version == kSoftwareVersion)
    return true;
  text_buffer_ = "Коректор: Plate = " + std::to_string(box->plate) +
                 "; Версія ПО = " + std::to_string(box->sw_version) +
                 ".\rЦе не відповідає умовам: Plate = 26, 28, 29; ПО = 37";
  state_.ui->ShowMessage(text_buffer_, "");
  return false;
}

bool TFormSet_Connect::FreeLine() {
  calcbox* box = state_.ActiveCalcBox.get();
  const uint8_t line = state_.ConnectSettings.line_num;
  if (box == nullptr || !box->ReadImitation(line))
    return false;
  if (box->service_state != calcbox::kStateService)
    return true;
  if (!state_.ui->AskQuestion("Коректор в режимі обслуговування.",
                              std::string("Зняти з обслуговування?"), std::nullopt)) {
    return false;
  }
  return box->LeaveService(line);
}

bool TFormSet_Connect::EnterService() {
  calcbox* box = state_.ActiveCalcBox.get();
  if (box == nullptr)
    return false;
  const bool held = box->const_password_required && state_.HeldConstPassword.has_value();
  if (held) {
    // A reconnection in this run: the password accepted before goes again.
    box->const_password = *state_.HeldConstPassword;
  } else if (box->const_password_required) {
    TFormConstPass password(*box, *state_.ui, this);
    password.exec();
    if (!password.accepted)
      return false;
  }
  const bool entered = box->EnterService(state_.ConnectSettings.line_num, state_.Channel, 0);
  if (box->const_password_required) {
    if (entered)
      state_.HeldConstPassword = box->const_password;
    else if (box->CodesRefused())
      state_.HeldConstPassword.reset();
  }
  return entered;
}
