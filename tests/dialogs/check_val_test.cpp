#include <QtTest>

class CheckValTest : public QObject {
  Q_OBJECT
};

QTEST_MAIN(CheckValTest)
#include "check_val_test.moc"
