#include <QtTest>

class SetConnectTest : public QObject {
  Q_OBJECT
};

QTEST_MAIN(SetConnectTest)
#include "set_connect_test.moc"
