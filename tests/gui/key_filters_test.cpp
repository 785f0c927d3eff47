#include "gui/key_filters.h"

#include <QComboBox>
#include <QLineEdit>
#include <QToolTip>
#include <QtTest>

class KeyFiltersTest : public QObject {
  Q_OBJECT

 private slots:
  void integerFieldTakesDigitsOnly() {
    QLineEdit edit;
    InstallIntKeyFilter(&edit);
    QTest::keyClicks(&edit, QStringLiteral("1a-2. 3"));
    QCOMPARE(edit.text(), QStringLiteral("123"));
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QCOMPARE(edit.text(), QStringLiteral("12"));
    QTest::keyClick(&edit, Qt::Key_Left);  // keys without a character pass
    QTest::keyClicks(&edit, QStringLiteral("0"));
    QCOMPARE(edit.text(), QStringLiteral("102"));
  }

  void editableComboFiltersItsEdit() {
    QComboBox combo;
    combo.setEditable(true);
    InstallIntKeyFilter(&combo);
    QTest::keyClicks(combo.lineEdit(), QStringLiteral("2x55"));
    QCOMPARE(combo.currentText(), QStringLiteral("255"));
  }

  void floatFieldFollowsTheNumberShape() {
    QLineEdit edit;
    InstallFloatKeyFilter(&edit);
    QTest::keyClicks(&edit, QStringLiteral("-1,5.5e-123E"));
    // The comma became the full stop, the second separator, the third exponent digit and the
    // capital E were swallowed.
    QCOMPARE(edit.text(), QStringLiteral("-1.55e-12"));
  }

  void floatFilterLooksAtTheCaret() {
    QLineEdit edit;
    InstallFloatKeyFilter(&edit);
    edit.setText(QStringLiteral("12e5"));
    edit.setCursorPosition(1);
    QTest::keyClicks(&edit, QStringLiteral("3"));
    QCOMPARE(edit.text(), QStringLiteral("132e5"));
    edit.setCursorPosition(0);
    QTest::keyClicks(&edit, QStringLiteral("-"));
    QCOMPARE(edit.text(), QStringLiteral("-132e5"));
  }

  void aDroppedKeyIsSignalledNotSwallowedQuietly() {
    QLineEdit edit;
    InstallFloatKeyFilter(&edit);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    const QColor normal = edit.palette().color(QPalette::Base);
    QTest::keyClicks(&edit, QStringLiteral("60"));
    QVERIFY(!QToolTip::isVisible());
    QTest::keyClicks(&edit, QStringLiteral("l.5"));
    QCOMPARE(edit.text(), QStringLiteral("60.5"));
    QVERIFY(QToolTip::isVisible());
    QVERIFY(QToolTip::text().startsWith(QStringLiteral("«l» не прийнято")));
    QVERIFY(edit.palette().color(QPalette::Base) != normal);
    // The flash passes; the field is as it was.
    QTRY_COMPARE(edit.palette().color(QPalette::Base), normal);
    QToolTip::hideText();

    QLineEdit digits;
    InstallIntKeyFilter(&digits);
    digits.show();
    QTest::keyClicks(&digits, QStringLiteral("1x"));
    QCOMPARE(digits.text(), QStringLiteral("1"));
    QCOMPARE(QToolTip::text(), QStringLiteral("«x» не прийнято: тут лише цифри"));
  }
};

QTEST_MAIN(KeyFiltersTest)
#include "key_filters_test.moc"
