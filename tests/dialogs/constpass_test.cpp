#include <QtTest>

class ConstpassTest : public QObject {
  Q_OBJECT
};

QTEST_MAIN(ConstpassTest)
#include "constpass_test.moc"
