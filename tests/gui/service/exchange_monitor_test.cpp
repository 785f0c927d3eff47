#include "gui/service/exchange_monitor.h"

#include <QFontMetrics>
#include <QStyle>
#include <QTableView>
#include <QtTest>

#include "core/app_state.h"

class ExchangeMonitorTest : public QObject {
  Q_OBJECT

 private slots:
  // At the window's own size, the time of a day-long session and the protocol names stand
  // whole in their columns, not cut to "…".
  void narrowColumnsShowTheirTextWhole() {
    AppState state;
    ExchangeMonitorWindow monitor(state);
    monitor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&monitor));
    TapFrame late;
    late.time_us = 86'399'999'999;
    late.protocol = TapProtocol::kCorrector;
    late.direction = TapDirection::kReceived;
    late.outcome = TapOutcome::kAnswered;
    monitor.model().Append({late});
    QCOMPARE(monitor.model().rowCount(), 1);
    const int padding = 2 * (monitor.style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
    const QFontMetrics metrics(monitor.Table->font());
    for (int column : {TapFrameModel::kTime, TapFrameModel::kDirection, TapFrameModel::kProtocol}) {
      const QString cell = monitor.model().row(0).Cell(column);
      QVERIFY2(monitor.Table->columnWidth(column) >= metrics.horizontalAdvance(cell) + padding,
               qPrintable(cell));
    }
    QCOMPARE(monitor.model().row(0).Cell(TapFrameModel::kTime), QStringLiteral("86399999.999"));
  }
};

QTEST_MAIN(ExchangeMonitorTest)
#include "exchange_monitor_test.moc"
