#include "gui/question.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <utility>

#include "gui/dialog_widgets.h"

TFormQues* FormQues = nullptr;

namespace {

// Each label is one text line; they keep their places whatever the height of the window.
constexpr int kLabelTop[3] = {14, 36, 58};
constexpr int kLabelHeight = 20;
// The buttons stand on the lower edge of the client area at this distance.
constexpr int kButtonBottomMargin = 12;
// Width in pixels per character of the longest line, plus a fixed allowance.
constexpr int kPixelsPerCharacter = 8;
constexpr int kWidthAllowance = 20;
// Room beside the two buttons in the narrowest window.
constexpr int kButtonsAllowance = 60;
// The labels leave this much of the window's width free.
constexpr int kLabelInset = 14;

}  // namespace

TFormQues::TFormQues(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      variable_(FormQues, this) {
  setObjectName(QStringLiteral("FormQues"));
  setWindowModality(Qt::ApplicationModal);
  setWindowTitle(QString());
  setSizeGripEnabled(false);

  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  // A raised panel with a lowered bevel inside it: the sunken box draws both edges.
  Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Panel1->setLineWidth(1);
  Panel1->setMidLineWidth(0);

  Label1 = MakeLabel(Panel1, "Label1");
  Label2 = MakeLabel(Panel1, "Label2");
  Label3 = MakeLabel(Panel1, "Label3");

  BitBtn1 = MakeDialogButton(Panel1, "BitBtn1", QStringLiteral("Так"), QStyle::SP_DialogYesButton,
                             EnterKey::kPresses);
  BitBtn2 = MakeDialogButton(Panel1, "BitBtn2", QStringLiteral("Ні"), QStyle::SP_DialogNoButton,
                             EnterKey::kWhenFocused);
  for (QPushButton* button : {BitBtn1, BitBtn2}) {
    button->setFixedSize(kButtonWidth, kButtonHeight);
  }
  // The focus lands on "Так", so a screen reader reads the question with it.
  for (QLabel* label : {Label1, Label2, Label3}) {
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    label->setBuddy(BitBtn1);
  }
  setTabOrder(BitBtn1, BitBtn2);

  geometry_ = new OuterGeometry(this, true);

  connect(BitBtn1, &QPushButton::clicked, this, &TFormQues::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TFormQues::BitBtn2Click);
}

void TFormQues::MakeNoTheDefault() {
  BitBtn1->setDefault(false);
  BitBtn1->setAutoDefault(false);
  BitBtn2->setDefault(true);
  no_is_default_ = true;
}

void TFormQues::BitBtn1Click() {
  answer = 1;
  accept();
}

void TFormQues::BitBtn2Click() {
  answer = 0;
  reject();
}

QSize TFormQues::ComputeOuterSize() const {
  const bool second = !Label2->text().isEmpty();
  const bool third = !Label3->text().isEmpty();
  int height = kHeightThreeLines;
  if (!second && !third) {
    height = kHeightOneLine;
  } else if (second && !third) {
    height = kHeightTwoLines;
  }

  const qsizetype longest = std::max(
      {windowTitle().size(), Label1->text().size(), Label2->text().size(), Label3->text().size()});
  int width = static_cast<int>(longest) * kPixelsPerCharacter + kWidthAllowance;
  width = std::max(width, 2 * kButtonWidth + kButtonsAllowance);
  // The character rule assumes a small system font. With a larger one a line would be cut
  // off, so the window grows until every line fits.
  for (const QLabel* label : {Label1, Label2, Label3}) {
    width = std::max(width, label->sizeHint().width() + kLabelInset);
  }
  return {width, height};
}

void TFormQues::PlaceControls() {
  Panel1->setGeometry(rect());
  if (!outer_size_.isValid())
    return;

  const int outer_width = outer_size_.width();
  const int label_width = outer_width - kLabelInset;
  const int label_left = (width() - label_width) / 2;
  const int label_height = std::max(kLabelHeight, Label1->fontMetrics().height());
  QLabel* labels[3] = {Label1, Label2, Label3};
  for (int i = 0; i < 3; ++i) {
    labels[i]->setGeometry(label_left, kLabelTop[i], label_width, label_height);
  }

  const int gap = (outer_width - 2 * kButtonWidth) / 3 - 3;
  const int top = height() - kButtonBottomMargin - kButtonHeight;
  BitBtn2->move(gap, top);
  BitBtn1->move(BitBtn2->x() + kButtonWidth + gap, top);
}

void TFormQues::FormShow() {
  outer_size_ = ComputeOuterSize();
  geometry_->Apply(outer_size_);
  PlaceControls();
  ShowBlankCaption(this);
  (no_is_default_ ? BitBtn2 : BitBtn1)->setFocus(Qt::OtherFocusReason);
}

void TFormQues::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!std::exchange(shown_, true))
    FormShow();
}

void TFormQues::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  PlaceControls();
}

bool AskQuestion(QWidget* parent, const QString& line1, const QString* line2, const QString* line3,
                 DefaultAnswer default_answer) {
  // On the heap and guarded: a parent destroyed during the modal loop takes the dialog along.
  QPointer<TFormQues> dialog = new TFormQues(parent);
  dialog->setWindowTitle(QString());
  dialog->Label1->setText(OneLine(line1));
  dialog->Label2->setText(line2 ? OneLine(*line2) : QString());
  dialog->Label3->setText(line3 ? OneLine(*line3) : QString());

  QStringList spoken;
  for (const QLabel* label : {dialog->Label1, dialog->Label2, dialog->Label3}) {
    if (!label->text().isEmpty())
      spoken << label->text();
  }
  dialog->setAccessibleName(spoken.join(QLatin1Char(' ')));
  if (default_answer == DefaultAnswer::kNo)
    dialog->MakeNoTheDefault();

  dialog->exec();
  if (!dialog)
    return false;
  const bool yes = dialog->answer == 1;
  delete dialog;
  return yes;
}

QMargins WindowFrame(const QWidget* window) {
  const QRect frame = window->frameGeometry();
  const QRect client = window->geometry();
  return {std::max(0, client.left() - frame.left()), std::max(0, client.top() - frame.top()),
          std::max(0, frame.right() - client.right()),
          std::max(0, frame.bottom() - client.bottom())};
}

OuterGeometry::OuterGeometry(QWidget* window, bool fixed_size)
    : QObject(window), window_(window), fixed_size_(fixed_size) {}

void OuterGeometry::Apply(QSize outer) {
  outer_ = outer;
  Unwatch();
  window_->installEventFilter(this);
  handle_ = window_->windowHandle();
  if (handle_)
    handle_->installEventFilter(this);
  Fit();
}

void OuterGeometry::Unwatch() {
  window_->removeEventFilter(this);
  if (handle_)
    handle_->removeEventFilter(this);
  handle_ = nullptr;
}

void OuterGeometry::Fit() {
  frame_ = WindowFrame(window_);
  const QSize client(std::max(1, outer_.width() - frame_.left() - frame_.right()),
                     std::max(1, outer_.height() - frame_.top() - frame_.bottom()));
  if (fixed_size_) {
    window_->setFixedSize(client);
  } else {
    window_->resize(client);
  }

  const QScreen* screen = window_->screen();
  if (!screen)
    screen = QGuiApplication::primaryScreen();
  if (!screen)
    return;
  const QRect area = screen->availableGeometry();
  window_->move(area.x() + (area.width() - outer_.width()) / 2,
                area.y() + (area.height() - outer_.height()) / 2);
}

bool OuterGeometry::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Expose:
    case QEvent::Move:
    case QEvent::WindowActivate:
    case QEvent::Paint:
      // Once: later changes of the frame (a maximised window, another theme) are the
      // user's or the window manager's business.
      if (outer_.isValid() && WindowFrame(window_) != frame_) {
        Fit();
        Unwatch();
      }
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

void ShowBlankCaption(QWidget* window) {
  if (window->windowTitle().isEmpty() && window->windowHandle()) {
    window->windowHandle()->setTitle(QStringLiteral(" "));
  }
}
