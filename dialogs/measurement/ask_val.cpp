#include "dialogs/measurement/ask_val.h"

#include <QGridLayout>
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
#include "app/number_format.h"
#include "app/suplfunc.h"
#include "comm/modbusbox.h"
#include "dialogs/dialog_widgets.h"

TFormAsk_Val* FormAsk_Val = nullptr;

namespace {

// The measured value: one float in two registers.
constexpr uint16_t kValueRegister = 400;
constexpr uint16_t kValueRegisterCount = 2;
constexpr int kPanelMinWidth = 150;
constexpr int kCounterPanelWidth = 60;
// Room on the error panel for this many average characters: every exchange error but the
// two long exception texts fits on it whole; those keep their first sentence in view and show
// all of it as the panel's tool tip.
constexpr int kErrorPanelCharacters = 75;

}  // namespace

TFormAsk_Val::TFormAsk_Val(AppState& state, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      state_(state) {
  FormAsk_Val = this;
  setObjectName(QStringLiteral("FormAsk_Val"));
  setWindowModality(Qt::ApplicationModal);

  Label1 = MakePlainLabel(this, "Label1", QStringLiteral("Поточне значення"));
  Panel2 = MakeValuePanel(this, "Panel2", "Поточне значення", kPanelMinWidth);
  Label2 = MakePlainLabel(this, "Label2");
  Label3 = MakePlainLabel(this, "Label3", QStringLiteral("Середнє значення"));
  Label5 = MakePlainLabel(this, "Label5", QStringLiteral("(з 10 останніх вимірювань)"));
  Panel3 =
      MakeValuePanel(this, "Panel3", "Середнє значення з 10 останніх вимірювань", kPanelMinWidth);
  Label4 = MakePlainLabel(this, "Label4");
  Label1->setBuddy(Panel2);
  Label3->setBuddy(Panel3);
  Label5->setBuddy(Panel3);
  QFont value_font = Panel2->font();
  value_font.setBold(true);
  Panel2->setFont(value_font);
  Panel3->setFont(value_font);

  BitBtn1 = MakeDialogButton(this, "BitBtn1", QStringLiteral("Прийняти"), QStyle::SP_DialogOkButton,
                             true);
  BitBtn2 = MakeDialogButton(this, "BitBtn2", QStringLiteral("Відмінити"),
                             QStyle::SP_DialogCancelButton, false);
  for (QPushButton* button : {BitBtn1, BitBtn2})
    button->setMinimumWidth(100);
  setTabOrder(BitBtn1, BitBtn2);

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
  StatusBar1Panel1->setAccessibleName(QStringLiteral("Позиція вимірювання"));
  StatusBar1->addWidget(StatusBar1Panel0, 1);
  StatusBar1->addWidget(StatusBar1Panel1, 0);

  auto* average_caption = new QVBoxLayout;
  average_caption->setSpacing(0);
  average_caption->addWidget(Label3);
  average_caption->addWidget(Label5);
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(12);
  grid->setColumnMinimumWidth(2, 70);
  grid->addWidget(Label1, 0, 0);
  grid->addWidget(Panel2, 0, 1);
  grid->addWidget(Label2, 0, 2);
  grid->addLayout(average_caption, 1, 0);
  grid->addWidget(Panel3, 1, 1);
  grid->addWidget(Label4, 1, 2);
  // The values keep their size in the middle of a dialog as wide as its status bar.
  auto* values = new QHBoxLayout;
  values->addStretch(1);
  values->addLayout(grid);
  values->addStretch(1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(BitBtn1);
  buttons->addSpacing(20);
  buttons->addWidget(BitBtn2);
  buttons->addStretch(1);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(12, 12, 12, 8);
  body->addLayout(values);
  body->addSpacing(10);
  body->addLayout(buttons);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  outer->addLayout(body);
  outer->addWidget(StatusBar1);
  outer->setSizeConstraint(QLayout::SetFixedSize);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));

  connect(Timer1, &QTimer::timeout, this, &TFormAsk_Val::Timer1Timer);
  connect(BitBtn1, &QPushButton::clicked, this, &TFormAsk_Val::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TFormAsk_Val::BitBtn2Click);
}

TFormAsk_Val::~TFormAsk_Val() {
  if (FormAsk_Val == this)
    FormAsk_Val = nullptr;
}

void TFormAsk_Val::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void TFormAsk_Val::FormShow() {
  QString unit;
  if (state_.Channel == 1) {
    setWindowTitle(QStringLiteral(" Опитування поточного значення температури"));
    unit = QString::fromUtf8(kTemperatureUnitName);
  } else {
    setWindowTitle(QStringLiteral(" Опитування поточного значення тиску"));
    // The values come converted by the record's factor; a unit index from nowhere names the
    // sensor's own unit rather than indexing past the table.
    double factor = 0.0;
    const int index = state_.ConnectSettings.P_unit;
    unit = QString::fromUtf8(
        PressureUnits[static_cast<size_t>(PressureFactor(index, factor) ? index : kKilopascalUnit)]
            .name);
  }
  Label2->setText(unit);
  Label4->setText(unit);
  BitBtn1->setEnabled(false);

  Timer1->setInterval(state_.ConnectSettings.interval);
  Timer1->start();
  // The first reading is taken as soon as the dialog's event loop runs, not inside the show:
  // a close asked for during that exchange must find a loop to end.
  QTimer::singleShot(0, this, &TFormAsk_Val::Timer1Timer);
}

void TFormAsk_Val::Timer1Timer() {
  // The link carries one exchange at a time; this tick fell due inside the previous one.
  if (busy_ || closing_ || record == nullptr)
    return;
  modbusbox* box = state_.ActiveModbusBox.get();
  if (box == nullptr)
    return;

  StatusBar1Panel0->setText(QString());
  StatusBar1Panel0->setToolTip(QString());
  QPointer<TFormAsk_Val> alive(this);
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
    float reading = RegistersToFloat(box->values[0], box->values[1]);
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

  if (close_pending_) {
    close_pending_ = false;
    QDialog::done(pending_result_);
  }
}

void TFormAsk_Val::BitBtn1Click() {
  if (closing_ || record == nullptr || !ring_.has_average() ||
      record->point >= record->received.size())
    return;
  record->received[record->point] = ring_.average();
  accepted = true;
  accept();
}

void TFormAsk_Val::BitBtn2Click() {
  reject();
}

void TFormAsk_Val::FormClose() {
  Timer1->stop();
  closing_ = true;
}

void TFormAsk_Val::done(int result) {
  FormClose();
  if (busy_) {
    close_pending_ = true;
    pending_result_ = result;
    return;
  }
  QDialog::done(result);
}
