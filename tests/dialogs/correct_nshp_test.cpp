#include <QtTest>

class CorrectNshpTest : public QObject {
  Q_OBJECT
};

QTEST_MAIN(CorrectNshpTest)
#include "correct_nshp_test.moc"
