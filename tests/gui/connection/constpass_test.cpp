#include "gui/connection/constpass.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <array>

#include "comm/calcbox.h"
#include "tests/support/qt_modal.h"
#include "tests/support/scripted_host.h"

namespace {

const char kMismatch[] = "Неспівпадання уведених паролів\r,Повторіть процес спочатку";

std::array<uint8_t, 16> Bytes(const char (&text)[17]) {
  std::array<uint8_t, 16> bytes;
  std::copy(text, text + 16, bytes.begin());
  return bytes;
}

// Types `text` key by key, any characters (QTest::keyClicks takes Latin-1 only).
void TypeText(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    QTest::sendKeyEvent(QTest::Click, widget, static_cast<Qt::Key>(c.toUpper().unicode()),
                        QString(c), Qt::NoModifier);
  }
}

// The password dialog shown over nothing, for a test to type into and press.
struct Bench {
  Bench() : dialog(box, ui) {
    dialog.show();
    active = QTest::qWaitForWindowActive(&dialog);
  }

  // Types both entries and presses "Прийняти".
  void Enter(const QString& first, const QString& second) {
    TypeText(dialog.Edit1, first);
    TypeText(dialog.Edit2, second);
    QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
  }

  calcbox box{1};
  ScriptedHost ui;
  TFormConstPass dialog;
  bool active = false;
};

}  // namespace

class ConstpassTest : public QObject {
  Q_OBJECT

 private slots:
  void controlsCarryTheirNamesAndLimits() {
    calcbox box(1);
    ScriptedHost ui;
    TFormConstPass dialog(box, ui);
    QCOMPARE(FormConstPass, &dialog);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Пароль на запис констант"));
    QCOMPARE(Child<QLabel>(&dialog, "Label1")->text().remove('&'),
             QStringLiteral("Уведіть пароль"));
    QCOMPARE(Child<QLabel>(&dialog, "Label2")->text(), QStringLiteral("(до 16 символів)"));
    QCOMPARE(Child<QLabel>(&dialog, "Label3")->text().remove('&'),
             QStringLiteral("Уведіть пароль ще раз"));
    QCOMPARE(Child<QPushButton>(&dialog, "BitBtn1")->text(), QStringLiteral("Прийняти"));
    QCOMPARE(Child<QPushButton>(&dialog, "BitBtn2")->text(), QStringLiteral("Відмінити"));
    for (const char* name : {"Edit1", "Edit2"}) {
      auto* edit = Child<QLineEdit>(&dialog, name);
      QVERIFY(edit);
      QCOMPARE(edit->echoMode(), QLineEdit::Password);
      QCOMPARE(edit->maxLength(), 16);
    }
    QCOMPARE(dialog.Label1->buddy(), dialog.Edit1);
    QCOMPARE(dialog.Label3->buddy(), dialog.Edit2);
    QVERIFY(!dialog.accepted);
  }

  void showingEmptiesBothEntries() {
    calcbox box(1);
    ScriptedHost ui;
    TFormConstPass dialog(box, ui);
    dialog.Edit1->setText(QStringLiteral("Edit1"));
    dialog.Edit2->setText(QStringLiteral("Edit2"));
    dialog.show();
    QVERIFY(dialog.Edit1->text().isEmpty());
    QVERIFY(dialog.Edit2->text().isEmpty());
  }

  void enterWalksToTheSecondEntryThenToTheButtonWithoutAccepting() {
    Bench bench;
    QVERIFY(bench.active);
    QCOMPARE(QApplication::focusWidget(), bench.dialog.Edit1);
    TypeText(bench.dialog.Edit1, QStringLiteral("abc"));
    QTest::keyClick(bench.dialog.Edit1, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), bench.dialog.Edit2);
    TypeText(bench.dialog.Edit2, QStringLiteral("abc"));
    QTest::keyClick(bench.dialog.Edit2, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(QApplication::focusWidget(), bench.dialog.BitBtn1);
    QVERIFY(bench.dialog.isVisible());
    QVERIFY(!bench.dialog.accepted);
    QCOMPARE(bench.box.const_password, Bytes("                "));
    // On the button, Enter presses it.
    QTest::keyClick(bench.dialog.BitBtn1, Qt::Key_Return);
    QVERIFY(bench.dialog.accepted);
    QCOMPARE(bench.box.const_password, Bytes("abc             "));
  }

  void differentEntriesStartOver_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("different") << QStringLiteral("secret1") << QStringLiteral("secret2");
    QTest::newRow("letter case") << QStringLiteral("Secret") << QStringLiteral("secret");
    QTest::newRow("Cyrillic case") << QStringLiteral("ключ") << QStringLiteral("КЛЮЧ");
    QTest::newRow("one empty") << QStringLiteral("secret") << QString();
  }
  void differentEntriesStartOver() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    Bench bench;
    QVERIFY(bench.active);
    bench.box.const_password = Bytes("previous content");
    bench.Enter(first, second);
    QCOMPARE(bench.ui.messages.size(), 1u);
    QCOMPARE(bench.ui.messages[0].text, std::string(kMismatch));
    QCOMPARE(bench.ui.messages[0].caption, std::string());
    QVERIFY(bench.dialog.Edit1->text().isEmpty());
    QVERIFY(bench.dialog.Edit2->text().isEmpty());
    QCOMPARE(QApplication::focusWidget(), bench.dialog.Edit1);
    QVERIFY(bench.dialog.isVisible());
    QVERIFY(!bench.dialog.accepted);
    QCOMPARE(bench.box.const_password, Bytes("previous content"));

    // A second try that agrees goes through.
    bench.Enter(first, first);
    QVERIFY(bench.dialog.accepted);
    QVERIFY(!bench.dialog.isVisible());
  }

  void passwordFillsTheFieldFromItsStart() {
    Bench bench;
    bench.box.const_password = Bytes("0123456789ABCDEF");
    bench.Enter(QStringLiteral("pass"), QStringLiteral("pass"));
    QVERIFY(bench.dialog.accepted);
    // Only the typed characters are written; the rest keeps what the field held.
    QCOMPARE(bench.box.const_password, Bytes("pass456789ABCDEF"));
    QVERIFY(bench.ui.messages.empty());
  }

  void sixteenCharactersFillTheFieldAndNoMoreCanBeTyped() {
    Bench bench;
    bench.Enter(QStringLiteral("ABCDEFGHIJKLMNOPQ"), QStringLiteral("ABCDEFGHIJKLMNOP"));
    QCOMPARE(bench.dialog.Edit1->text(), QStringLiteral("ABCDEFGHIJKLMNOP"));
    QVERIFY(bench.dialog.accepted);
    QCOMPARE(bench.box.const_password, Bytes("ABCDEFGHIJKLMNOP"));
  }

  void twoEmptyEntriesGiveSixteenBlanks() {
    Bench bench;
    bench.box.const_password = Bytes("previous content");
    bench.Enter(QString(), QString());
    QVERIFY(bench.dialog.accepted);
    QCOMPARE(bench.box.const_password, Bytes("                "));
  }

  void cyrillicGoesOutInWindows1251WithoutFurtherConversion() {
    Bench bench;
    bench.Enter(QStringLiteral("Пароль ї?"), QStringLiteral("Пароль ї?"));
    QVERIFY(bench.dialog.accepted);
    const std::array<uint8_t, 16> expected = {0xCF, 0xE0, 0xF0, 0xEE, 0xEB, 0xFC, ' ', 0xBF,
                                              '?',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ', ' '};
    QCOMPARE(bench.box.const_password, expected);
  }

  void characterOutsideWindows1251IsRefused() {
    Bench bench;
    bench.box.const_password = Bytes("previous content");
    bench.Enter(QStringLiteral("ab\u03A9c"), QStringLiteral("ab\u03A9c"));  // Greek omega
    QVERIFY(!bench.dialog.accepted);
    QVERIFY(bench.dialog.isVisible());
    QCOMPARE(bench.box.const_password, Bytes("previous content"));
    QCOMPARE(bench.ui.messages.size(), 1u);
    const QString text = QString::fromStdString(bench.ui.messages[0].text);
    QVERIFY2(text.contains(QStringLiteral("Символ 3 ")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Windows-1251")), qPrintable(text));
    // The password itself never appears on screen.
    QVERIFY(!text.contains(QChar(0x03A9)));
    QVERIFY(bench.dialog.Edit1->text().isEmpty());
    QCOMPARE(QApplication::focusWidget(), bench.dialog.Edit1);
  }

  void cancelLeavesTheFieldAlone() {
    for (const bool escape : {false, true}) {
      Bench bench;
      bench.box.const_password = Bytes("previous content");
      TypeText(bench.dialog.Edit1, QStringLiteral("abc"));
      TypeText(bench.dialog.Edit2, QStringLiteral("abc"));
      Dismiss(bench.dialog.Edit2, bench.dialog.BitBtn2, escape);
      QVERIFY(!bench.dialog.isVisible());
      QVERIFY(!bench.dialog.accepted);
      QCOMPARE(bench.box.const_password, Bytes("previous content"));
    }
  }
};

QTEST_MAIN(ConstpassTest)
#include "constpass_test.moc"
