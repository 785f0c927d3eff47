#include "gui/question.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QtTest>
#include <optional>

#include "tests/support/qt_modal.h"

namespace {

// What the dialog looked like while it was open.
struct Seen {
  QSize outer;
  QString title;
  QString shown_title;
  QString lines[3];
  int label_widths[3] = {};
  bool lines_fit = true;
  QRect yes;
  QRect no;
  QSize client;
  QWidget* focus = nullptr;
  QWidget* yes_button = nullptr;
  Qt::WindowFlags flags;
  Qt::WindowModality modality = Qt::NonModal;
  QString accessible_name;
  QPoint centre;
  bool panel_sunken = false;
};

enum class Reply { kEsc, kEnter, kCloseBox, kClickYes, kClickNo, kTabThenEnter };

// Asks the question, records the dialog while it is shown and answers with `reply`.
std::pair<bool, Seen> Ask(const QString& line1, std::optional<QString> line2,
                          std::optional<QString> line3, Reply reply,
                          DefaultAnswer default_answer = DefaultAnswer::kYes) {
  Seen seen;
  OnNextModal<TFormQues>([&seen, reply](TFormQues* dialog) {
    seen.outer = dialog->frameGeometry().size();
    seen.title = dialog->windowTitle();
    seen.shown_title = dialog->windowHandle()->title();
    const QLabel* labels[3] = {Child<QLabel>(dialog, "Label1"), Child<QLabel>(dialog, "Label2"),
                               Child<QLabel>(dialog, "Label3")};
    for (int i = 0; i < 3; ++i) {
      seen.lines[i] = labels[i]->text();
      seen.label_widths[i] = labels[i]->width();
      if (labels[i]->sizeHint().width() > labels[i]->width())
        seen.lines_fit = false;
    }
    auto* yes = Child<QPushButton>(dialog, "BitBtn1");
    auto* no = Child<QPushButton>(dialog, "BitBtn2");
    seen.yes = yes->geometry();
    seen.no = no->geometry();
    seen.client = dialog->size();
    seen.focus = dialog->focusWidget();
    seen.yes_button = yes;
    seen.flags = dialog->windowFlags();
    seen.modality = dialog->windowModality();
    seen.accessible_name = dialog->accessibleName();
    seen.centre = dialog->frameGeometry().center();
    seen.panel_sunken = Child<QFrame>(dialog, "Panel1")->frameShadow() == QFrame::Sunken;

    switch (reply) {
      case Reply::kEsc:
        QTest::keyClick(dialog, Qt::Key_Escape);
        break;
      case Reply::kEnter:
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        break;
      case Reply::kCloseBox:
        dialog->close();
        break;
      case Reply::kClickYes:
        QTest::mouseClick(yes, Qt::LeftButton);
        break;
      case Reply::kClickNo:
        QTest::mouseClick(no, Qt::LeftButton);
        break;
      case Reply::kTabThenEnter:
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        break;
    }
  });
  const QString* second = line2 ? &*line2 : nullptr;
  const QString* third = line3 ? &*line3 : nullptr;
  const bool answer = AskQuestion(nullptr, line1, second, third, default_answer);
  return {answer, seen};
}

const QString kInService = QStringLiteral("Коректор в режимі обслуговування.");
const QString kTakeOut = QStringLiteral("Зняти з обслуговування?");

}  // namespace

class QuestionTest : public QObject {
  Q_OBJECT

 private slots:
  void shutDownQuestionIs284By153WithTheLinesInPlace() {
    const auto [answer, seen] = Ask(kInService, kTakeOut, std::nullopt, Reply::kEsc);
    QVERIFY(!answer);
    QCOMPARE(seen.outer, QSize(284, 153));
    QCOMPARE(seen.lines[0], kInService);
    QCOMPARE(seen.lines[1], kTakeOut);
    QCOMPARE(seen.lines[2], QString());
    for (int width : seen.label_widths)
      QCOMPARE(width, 284 - 14);
    QVERIFY(seen.lines_fit);
    QVERIFY(seen.panel_sunken);
  }

  void heightFollowsWhichLinesHaveText_data() {
    QTest::addColumn<QString>("line1");
    QTest::addColumn<std::optional<QString>>("line2");
    QTest::addColumn<std::optional<QString>>("line3");
    QTest::addColumn<QSize>("outer");
    // "Запит на читання параметрів ідентифікації:" has 42 characters: 42 * 8 + 20.
    const QString request = QStringLiteral("Запит на читання параметрів ідентифікації:");
    const QString retry = QStringLiteral("Повторити спробу?");
    QTest::newRow("first line only")
        << kInService << std::optional<QString>() << std::optional<QString>() << QSize(284, 131);
    QTest::newRow("empty texts count as absent")
        << kInService << std::optional<QString>(QString()) << std::optional<QString>(QString())
        << QSize(284, 131);
    QTest::newRow("first and third, middle empty")
        << kInService << std::optional<QString>() << std::optional<QString>(retry)
        << QSize(284, 183);
    QTest::newRow("retry question, widest line first")
        << request << std::optional<QString>(QStringLiteral("Немає відповіді"))
        << std::optional<QString>(retry) << QSize(356, 183);
    QTest::newRow("widest line last")
        << retry << std::optional<QString>() << std::optional<QString>(request) << QSize(356, 183);
  }
  void heightFollowsWhichLinesHaveText() {
    QFETCH(QString, line1);
    QFETCH(std::optional<QString>, line2);
    QFETCH(std::optional<QString>, line3);
    QFETCH(QSize, outer);
    const auto [answer, seen] = Ask(line1, line2, line3, Reply::kEsc);
    QCOMPARE(seen.outer, outer);
    QCOMPARE(seen.lines[1], line2.value_or(QString()));
    QCOMPARE(seen.lines[2], line3.value_or(QString()));
  }

  void shortTextStillLeavesRoomForBothButtons() {
    const auto [answer, seen] =
        Ask(QStringLiteral("Так?"), std::nullopt, std::nullopt, Reply::kEsc);
    QCOMPARE(seen.outer, QSize(2 * TFormQues::kButtonWidth + 60, 131));
    QVERIFY(seen.no.left() > 0);
    QVERIFY(seen.yes.right() < seen.client.width());
  }

  void noStandsLeftOfYesAtTheComputedGap() {
    const auto [answer, seen] = Ask(kInService, kTakeOut, std::nullopt, Reply::kEsc);
    const int gap = (284 - 2 * 75) / 3 - 3;  // 41
    QCOMPARE(seen.no.left(), gap);
    QCOMPARE(seen.yes.left(), gap + 75 + gap);
    QCOMPARE(seen.no.size(), QSize(75, 25));
    QCOMPARE(seen.yes.top(), seen.no.top());
    // Anchored to the lower edge, below the last line of text.
    QCOMPARE(seen.client.height() - seen.yes.bottom() - 1, 12);
  }

  void buttonsMoveWithTheLowerEdge() {
    const auto [a1, one] = Ask(kInService, std::nullopt, std::nullopt, Reply::kEsc);
    const auto [a3, three] =
        Ask(kInService, kTakeOut, QStringLiteral("Повторити спробу?"), Reply::kEsc);
    QCOMPARE(three.yes.top() - one.yes.top(), 183 - 131);
  }

  void answers_data() {
    QTest::addColumn<int>("reply");
    QTest::addColumn<bool>("expected");
    QTest::addColumn<bool>("cautious");
    QTest::newRow("Esc") << int(Reply::kEsc) << false << false;
    QTest::newRow("close box") << int(Reply::kCloseBox) << false << false;
    QTest::newRow("Enter right after opening") << int(Reply::kEnter) << true << false;
    QTest::newRow("click yes") << int(Reply::kClickYes) << true << false;
    QTest::newRow("click no") << int(Reply::kClickNo) << false << false;
    QTest::newRow("Tab to no, then Enter") << int(Reply::kTabThenEnter) << false << false;
    QTest::newRow("cautious: Enter right after opening") << int(Reply::kEnter) << false << true;
    QTest::newRow("cautious: click yes") << int(Reply::kClickYes) << true << true;
  }
  void answers() {
    QFETCH(int, reply);
    QFETCH(bool, expected);
    QFETCH(bool, cautious);
    const auto [answer, seen] = Ask(kInService, kTakeOut, std::nullopt, Reply(reply),
                                    cautious ? DefaultAnswer::kNo : DefaultAnswer::kYes);
    QCOMPARE(answer, expected);
    QVERIFY(!FormQues);
  }

  void focusOnYesAndAWindowWithOnlyACloseBox() {
    const auto [answer, seen] = Ask(kInService, kTakeOut, std::nullopt, Reply::kEsc);
    QCOMPARE(seen.focus, seen.yes_button);
    QCOMPARE(seen.title, QString());
    // Qt would put the program's name into an empty title bar.
    QCOMPARE(seen.shown_title.trimmed(), QString());
    QVERIFY(!seen.shown_title.isEmpty());
    QVERIFY(seen.flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!seen.flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!seen.flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!seen.flags.testFlag(Qt::WindowContextHelpButtonHint));
    QCOMPARE(seen.modality, Qt::ApplicationModal);
  }

  void centredOnTheScreen() {
    const auto [answer, seen] = Ask(kInService, kTakeOut, std::nullopt, Reply::kEsc);
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    QVERIFY2((seen.centre - centre).manhattanLength() <= 2,
             qPrintable(
                 QStringLiteral("dialog centre %1,%2").arg(seen.centre.x()).arg(seen.centre.y())));
  }

  void theQuestionIsReadableByAssistiveTools() {
    const auto [answer, seen] = Ask(kInService, kTakeOut, std::nullopt, Reply::kEsc);
    QCOMPARE(seen.accessible_name, kInService + QLatin1Char(' ') + kTakeOut);
    TFormQues dialog;
    QCOMPARE(dialog.BitBtn1->accessibleName(), QStringLiteral("Так"));
    QCOMPARE(dialog.BitBtn2->accessibleName(), QStringLiteral("Ні"));
    QCOMPARE(dialog.Label1->buddy(), dialog.BitBtn1);
    QCOMPARE(dialog.answer, 0);
    QCOMPARE(FormQues, &dialog);
  }

  void eachLineStaysOneLine() {
    const auto [answer, seen] =
        Ask(QStringLiteral("Помилка\rкоду"), QStringLiteral("a\r\nb"), std::nullopt, Reply::kEsc);
    QCOMPARE(seen.lines[0], QStringLiteral("Помилка коду"));
    QCOMPARE(seen.lines[1], QStringLiteral("a b"));
  }

  void aLineTooWideForTheCharacterRuleWidensTheWindow() {
    // Wide capitals overrun 8 pixels a character in any usual font.
    const QString wide(40, QChar(0x0428));  // Ш
    const auto [answer, seen] = Ask(wide, std::nullopt, std::nullopt, Reply::kEsc);
    QVERIFY(seen.lines_fit);
    QVERIFY(seen.outer.width() >= 40 * 8 + 20);
  }

  void theDialogGoesWhenItsParentGoesWhileItIsOpen() {
    auto* parent = new QWidget;
    OnNextModal<TFormQues>([parent](TFormQues*) { delete parent; });
    QVERIFY(!AskQuestion(parent, kInService));
    QVERIFY(!FormQues);
  }
};

QTEST_MAIN(QuestionTest)
#include "question_test.moc"
