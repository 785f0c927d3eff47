#include "gui/qt_exchange_host.h"

#include <QCursor>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QWindow>
#include <QtTest>

#include "gui/question.h"
#include "tests/support/qt_modal.h"

namespace {

bool OverrideIsWait() {
  return QGuiApplication::overrideCursor() &&
         QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
}

}  // namespace

class QtExchangeHostTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    while (QGuiApplication::overrideCursor())
      QGuiApplication::restoreOverrideCursor();
  }

  void messageShowsACarriageReturnAsANewLineUnderAnEmptyTitle() {
    QtExchangeHost ui;
    QString text;
    QString title;
    QString shown_title;
    int buttons = 0;
    Qt::TextFormat format = Qt::AutoText;
    OnNextModal<QMessageBox>([&](QMessageBox* box) {
      text = box->text();
      title = box->windowTitle();
      shown_title = box->windowHandle()->title();
      buttons = static_cast<int>(box->buttons().size());
      format = box->textFormat();
      QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    ui.ShowMessage("Порт COM3 не знайдено.\rПеревірте підключення <кабелю>.", "");
    QCOMPARE(text, QStringLiteral("Порт COM3 не знайдено.\nПеревірте підключення <кабелю>."));
    QCOMPARE(title, QString());
    QCOMPARE(shown_title, QStringLiteral(" "));
    QCOMPARE(buttons, 1);
    // Angle brackets in a device text are text, not markup.
    QCOMPARE(format, Qt::PlainText);
  }

  void messageKeepsAGivenCaptionAndClosesOnEnter() {
    QtExchangeHost ui;
    QString title;
    OnNextModal<QMessageBox>([&](QMessageBox* box) {
      title = box->windowTitle();
      QTest::keyClick(box, Qt::Key_Return);
    });
    ui.ShowMessage("Параметри записані", "Увага");
    QCOMPARE(title, QStringLiteral("Увага"));
  }

  void messageTextTurnsEveryKindOfLineEndIntoOne() {
    QCOMPARE(MessageBoxText("a\r\nb\rc\nd"), QStringLiteral("a\nb\nc\nd"));
  }

  void questionTakesUtf8LinesAndAnAbsentLineIsEmpty() {
    QtExchangeHost ui;
    QString lines[3];
    OnNextModal<TFormQues>([&](TFormQues* dialog) {
      lines[0] = dialog->Label1->text();
      lines[1] = dialog->Label2->text();
      lines[2] = dialog->Label3->text();
      QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
    });
    QVERIFY(ui.AskQuestion("Спроба зняти з обслуговування:", std::nullopt, "Повторити спробу?"));
    QCOMPARE(lines[0], QStringLiteral("Спроба зняти з обслуговування:"));
    QCOMPARE(lines[1], QString());
    QCOMPARE(lines[2], QStringLiteral("Повторити спробу?"));
  }

  void busyCursorIsOnOrOffNeverStacked() {
    QtExchangeHost ui;
    ui.SetBusyCursor(true);
    ui.SetBusyCursor(true);
    QVERIFY(OverrideIsWait());
    ui.SetBusyCursor(false);
    QVERIFY(!QGuiApplication::overrideCursor());
    ui.SetBusyCursor(false);
    QVERIFY(!QGuiApplication::overrideCursor());
  }

  void turningTheBusyCursorOffWhenItIsNotOnLeavesOtherCursorsAlone() {
    QGuiApplication::setOverrideCursor(Qt::CrossCursor);
    {
      QtExchangeHost ui;
      ui.SetBusyCursor(false);
      QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
      ui.SetBusyCursor(true);
      ui.SetBusyCursor(false);
      QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
    }
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
  }

  void servicesGoneWhileBusyLeaveNoHourglass() {
    {
      QtExchangeHost ui;
      ui.SetBusyCursor(true);
    }
    QVERIFY(!QGuiApplication::overrideCursor());
  }

  void questionsAndMessagesAreAnsweredWithTheNormalCursor() {
    QtExchangeHost ui;
    ui.SetBusyCursor(true);
    bool busy_during_question = true;
    OnNextModal<TFormQues>([&](TFormQues* dialog) {
      busy_during_question = QGuiApplication::overrideCursor() != nullptr;
      QTest::keyClick(dialog, Qt::Key_Escape);
    });
    QVERIFY(!ui.AskQuestion("Коректор в режимі обслуговування.", "Зняти з обслуговування?",
                            std::nullopt));
    QVERIFY(!busy_during_question);
    QVERIFY(OverrideIsWait());

    bool busy_during_message = true;
    OnNextModal<QMessageBox>([&](QMessageBox* box) {
      busy_during_message = QGuiApplication::overrideCursor() != nullptr;
      box->accept();
    });
    ui.ShowMessage("Параметри записані", "");
    QVERIFY(!busy_during_message);
    QVERIFY(OverrideIsWait());
    ui.SetBusyCursor(false);
    QVERIFY(!QGuiApplication::overrideCursor());
  }

  void processMessagesRunsWhatIsPending() {
    QtExchangeHost ui;
    bool ran = false;
    QMetaObject::invokeMethod(
        qApp, [&ran] { ran = true; }, Qt::QueuedConnection);
    QVERIFY(!ran);
    ui.ProcessMessages();
    QVERIFY(ran);
  }

  void statusPanelWritesItsLabelAndOutlivesIt() {
    auto* label = new QLabel;
    QtStatusPanel panel(label);
    panel.SetText("Обмін: запит 3");
    QCOMPARE(label->text(), QStringLiteral("Обмін: запит 3"));
    delete label;
    panel.SetText("після");  // must not touch the deleted label
  }
};

QTEST_MAIN(QtExchangeHostTest)
#include "qt_exchange_host_test.moc"
