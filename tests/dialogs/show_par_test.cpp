#include <QtTest>

class ShowParTest : public QObject {
  Q_OBJECT
};

QTEST_MAIN(ShowParTest)
#include "show_par_test.moc"
