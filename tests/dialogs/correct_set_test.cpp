#include <QtTest>

class CorrectSetTest : public QObject {
  Q_OBJECT
};

QTEST_MAIN(CorrectSetTest)
#include "correct_set_test.moc"
