#include <QtTest>

class AskValTest : public QObject {
  Q_OBJECT
};

QTEST_MAIN(AskValTest)
#include "ask_val_test.moc"
