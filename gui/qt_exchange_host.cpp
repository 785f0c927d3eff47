#include "gui/qt_exchange_host.h"

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMessageBox>

#include "gui/question.h"

class QtExchangeHost::NormalCursorWhileAsking {
 public:
  explicit NormalCursorWhileAsking(QtExchangeHost& ui) : ui_(ui) {
    ++ui_.open_dialogs_;
    ui_.SyncCursor();
  }
  ~NormalCursorWhileAsking() {
    --ui_.open_dialogs_;
    ui_.SyncCursor();
  }
  NormalCursorWhileAsking(const NormalCursorWhileAsking&) = delete;
  NormalCursorWhileAsking& operator=(const NormalCursorWhileAsking&) = delete;

 private:
  QtExchangeHost& ui_;
};

QtExchangeHost::QtExchangeHost(QWidget* dialog_parent) : parent_(dialog_parent) {}

QtExchangeHost::~QtExchangeHost() {
  busy_ = false;
  SyncCursor();
}

void QtExchangeHost::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool QtExchangeHost::AskQuestion(const std::string& line1, const std::optional<std::string>& line2,
                                 const std::optional<std::string>& line3) {
  const QString text1 = QString::fromStdString(line1);
  const QString text2 = line2 ? QString::fromStdString(*line2) : QString();
  const QString text3 = line3 ? QString::fromStdString(*line3) : QString();
  NormalCursorWhileAsking normal(*this);
  return ::AskQuestion(parent_, text1, line2 ? &text2 : nullptr, line3 ? &text3 : nullptr);
}

bool QtExchangeHost::AskCautiously(const std::string& line1,
                                   const std::optional<std::string>& line2,
                                   const std::optional<std::string>& line3) {
  const QString text1 = QString::fromStdString(line1);
  const QString text2 = line2 ? QString::fromStdString(*line2) : QString();
  const QString text3 = line3 ? QString::fromStdString(*line3) : QString();
  NormalCursorWhileAsking normal(*this);
  return ::AskQuestion(parent_, text1, line2 ? &text2 : nullptr, line3 ? &text3 : nullptr,
                       DefaultAnswer::kNo);
}

void QtExchangeHost::ShowMessage(const std::string& text, const std::string& caption) {
  NormalCursorWhileAsking normal(*this);
  QPointer<QMessageBox> box = new QMessageBox(parent_);
  box->setObjectName(QStringLiteral("MessageBox"));
  box->setIcon(QMessageBox::NoIcon);
  box->setWindowTitle(QString::fromStdString(caption));
  box->setTextFormat(Qt::PlainText);
  box->setText(MessageBoxText(text));
  box->setStandardButtons(QMessageBox::Ok);
  box->setDefaultButton(QMessageBox::Ok);
  box->winId();
  ShowBlankCaption(box);
  box->exec();
  delete box;
}

void QtExchangeHost::SetBusyCursor(bool busy) {
  busy_ = busy;
  SyncCursor();
}

void QtExchangeHost::SyncCursor() {
  const bool wanted = busy_ && open_dialogs_ == 0;
  if (wanted == cursor_pushed_)
    return;
  cursor_pushed_ = wanted;
  if (wanted) {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QGuiApplication::restoreOverrideCursor();
  }
}

QString MessageBoxText(const std::string& text) {
  QString result = QString::fromStdString(text);
  result.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return result;
}

QtStatusPanel::QtStatusPanel(QLabel* label) : label_(label) {}

void QtStatusPanel::SetText(const std::string& text) {
  if (label_)
    label_->setText(QString::fromStdString(text));
}
