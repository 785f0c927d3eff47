#include <QtTest>

class ConnectTest : public QObject {
  Q_OBJECT
};

QTEST_MAIN(ConnectTest)
#include "connect_test.moc"
