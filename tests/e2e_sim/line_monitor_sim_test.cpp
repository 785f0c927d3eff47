// The exchange monitor, the link counts and a lost port, end to end against vorlix-sim through
// the real serial layer: decoded frames of a connection through the corrector and of a direct
// read, a time-out and a checksum error counted, the codes shown nowhere, and a port that goes
// away during the values monitor told at once and reconnected by one click.

#include <sys/resource.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

#include "comm/line_tap_format.h"
#include "core/link_session.h"
#include "core/link_summary.h"
#include "gui/link_view.h"
#include "gui/measurement/check_val.h"
#include "gui/service/exchange_monitor.h"
#include "tests/e2e_sim/sim_app.h"

using namespace e2e_sim;

namespace {

const QString kPassword = QStringLiteral("Zq7Wp3xK");
const char kUserCode[] = "4321";

// Every row of the monitor as it shows them, one line each.
QString AllRows(ExchangeMonitorWindow& monitor) {
  monitor.Refresh();
  QStringList rows;
  for (int i = 0; i < monitor.model().rowCount(); ++i) {
    QStringList cells;
    for (int c = 0; c < TapFrameModel::kColumns; ++c)
      cells << monitor.model().row(i).Cell(c);
    rows << cells.join(QLatin1Char('|'));
  }
  return rows.join(QLatin1Char('\n'));
}

QString ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

class LineMonitorSimTest : public QObject {
  Q_OBJECT

 private slots:
  void connectionThroughTheCorrectorIsDecodedCountedAndKeepsItsCodes() {
    SimApp app;
    QVERIFY(app.Start({"--write-password", kPassword.toStdString(), "--user-code", kUserCode,
                       "--fault-silence", "--fault-target", "corrector", "--fault-count", "1"}));
    ExchangeMonitorWindow* monitor = app.window->ShowExchangeMonitor();
    LinkChoice choice;
    choice.user_code = QString::fromLatin1(kUserCode);
    choice.write_password = kPassword;
    choice.tries = 2;
    app.Connect(app.window->N1, choice);
    QVERIFY(app.window->Nval->isEnabled());

    const QString rows = AllRows(*monitor);
    for (const char* seen :
         {"старт AA, адреса 1, функція 1 (ідентифікація)", "версія ПО 37, плата 26",
          "функція 8 (імітація), лінія 1, коди **", "стан лінії 3 (обслуговування)",
          "функція 16 (на обслуговування), лінія 1, канал 0", "функція 3, регістри 436-439 (4)",
          "436-437 зміщення = 0; 438-439 нахил = 1", "тайм-аут, код 6"}) {
      QVERIFY2(rows.contains(QString::fromUtf8(seen)), seen);
    }
    const LinkStats& corrector = app.state().Tap->stats(TapProtocol::kCorrector);
    // The silent first reply; a busy machine may add one of its own.
    QVERIFY(corrector.timeouts >= 1);
    QVERIFY(corrector.retries >= 1);
    QVERIFY(app.state().Tap->stats(TapProtocol::kModbus).answered >= 2);
    QVERIFY(monitor->StatsText().contains(QStringLiteral("тайм-аутів %1").arg(corrector.timeouts)));

    // The codes: in no view, no saved file, no trace line and not in the recording itself.
    QTemporaryDir out;
    QVERIFY(monitor->SaveText(out.filePath("frames.txt")));
    QVERIFY(monitor->SaveCsv(out.filePath("frames.csv")));
    std::string trace;
    std::vector<uint8_t> recorded;
    app.state().Tap->ForEachSettled(0, [&](const TapFrame& f) {
      trace += FormatTapLine(f) + "\n";
      recorded.insert(recorded.end(), f.bytes.begin(), f.bytes.end());
    });
    const QString user_hex = QStringLiteral("34 33 32 31");
    const QByteArray password_bytes = kPassword.toLatin1();
    for (const QString& text : {rows, ReadFile(out.filePath("frames.txt")),
                                ReadFile(out.filePath("frames.csv")), QString::fromStdString(trace),
                                monitor->SelectedText(), app.window->LinkIndicator->text()}) {
      QVERIFY(!text.isEmpty() || text == app.window->LinkIndicator->text());
      QVERIFY(!text.contains(kPassword));
      QVERIFY(!text.contains(user_hex));
      QVERIFY(!text.contains(QStringLiteral("5A 71 37 57")));  // the password's first bytes
    }
    const auto found = [&](const QByteArray& needle) {
      return std::search(recorded.begin(), recorded.end(), needle.begin(), needle.end()) !=
             recorded.end();
    };
    QVERIFY(!found(password_bytes));
    QVERIFY(!found(QByteArray(kUserCode)));

    // The summary tells the link as it stands.
    app.window->RefreshLinkView();
    LinkSummaryView& summary = *app.window->Summary;
    QCOMPARE(summary.Value(QStringLiteral("Стан зв'язку")), QStringLiteral("встановлено"));
    QCOMPARE(summary.Value(QStringLiteral("Плата")), QStringLiteral("26"));
    QCOMPARE(summary.Value(QStringLiteral("Версія ПО")), QStringLiteral("37"));
    QVERIFY(summary.Value(QStringLiteral("Порт")).startsWith(QStringLiteral("COM201 — /dev/")));
    QVERIFY(app.window->LinkIndicator->text().startsWith(QStringLiteral("Обмін: ")));
  }

  void directReadIsDecodedAndItsChecksumErrorCounted() {
    SimApp app;
    QVERIFY(app.Start({"--connection", "direct", "--fault-bad-checksum", "--fault-count", "1"}));
    ExchangeMonitorWindow* monitor = app.window->ShowExchangeMonitor();
    LinkChoice choice;
    choice.conn_type = 0;
    choice.tries = 2;
    app.Connect(app.window->N1, choice);
    QVERIFY(app.window->Nval->isEnabled());

    app.AcceptDisplaySettings(100);
    OnNextModal<TFormCheck_Val>([](TFormCheck_Val* d) {
      (void)QTest::qWaitFor([d] { return d->count() >= 2; }, 5000);
      QTest::mouseClick(d->BitBtn5, Qt::LeftButton);
    });
    app.window->Nval->trigger();

    const QString rows = AllRows(*monitor);
    for (const char* seen :
         {"адреса 101, функція 3, регістри 400-401 (2)", "400-401 значення = 101.325",
          "адреса 101, функція 3, регістри 59 (1)", "КС, код 27"}) {
      QVERIFY2(rows.contains(QString::fromUtf8(seen)), seen);
    }
    const LinkStats& modbus = app.state().Tap->stats(TapProtocol::kModbus);
    QCOMPARE(modbus.checksum_errors, 1u);
    QVERIFY(modbus.round_trips >= 3);
    QVERIFY(modbus.round_trip_min_us > 0);

    // Errors only: the failed transaction's frames and its outcome, nothing else.
    monitor->ErrorsOnly->setChecked(true);
    QVERIFY(monitor->filter().rowCount() >= 2);
    for (int i = 0; i < monitor->filter().rowCount(); ++i) {
      const int source = monitor->filter().mapToSource(monitor->filter().index(i, 0)).row();
      QCOMPARE(monitor->model().row(source).outcome(), TapOutcome::kChecksum);
    }
    app.window->RefreshLinkView();
    QVERIFY(app.window->Summary->Value(QStringLiteral("Останнє значення"))
                .startsWith(QStringLiteral("101.3")));
  }

  void lostPortDuringTheValuesMonitorIsToldAndReconnectedByOneClick() {
    SimApp app;
    // Pulled out after the connection's two requests, the calibration read of the command and
    // four readings; back after 2 s.
    QVERIFY(app.Start({"--connection", "direct", "--unplug-after", "7", "--unplug-for", "2"}));
    LinkChoice choice;
    choice.conn_type = 0;
    choice.tries = 3;
    choice.wait_time = QStringLiteral("2000");
    app.Connect(app.window->N1, choice);
    QVERIFY(app.window->Nval->isEnabled());

    bool told = false, greyed = false, back = false, polling_again = false;
    double cpu_share = -1.0;
    app.AcceptDisplaySettings(100);
    OnNextModal<TFormCheck_Val>([&](TFormCheck_Val* d) {
      // Told within one first-byte time-out (2 s) of the last reading, not after three of
      // them; how many readings come before depends on the tries a busy machine needs.
      QElapsedTimer since_reading;
      since_reading.start();
      int seen = d->count();
      const bool ended = QTest::qWaitFor(
          [&] {
            if (d->count() != seen) {
              seen = d->count();
              since_reading.restart();
            }
            return d->ReconnectButton->isVisible() || since_reading.elapsed() > 2000;
          },
          10000);
      told = ended && d->ReconnectButton->isVisible() && seen >= 1;
      greyed = !d->Panel5->isEnabled() && !d->Panel6->isEnabled() && !d->Timer1->isActive();
      const double cpu0 = CpuSeconds();
      QElapsedTimer wall;
      wall.start();
      // Idle as the application idles: no test loop polling meanwhile.
      QEventLoop idle;
      QTimer::singleShot(600, &idle, &QEventLoop::quit);
      idle.exec();
      cpu_share = (CpuSeconds() - cpu0) / (static_cast<double>(wall.elapsed()) / 1000.0);
      QVERIFY(!d->ReconnectButton->isEnabled());

      back = QTest::qWaitFor([d] { return d->ReconnectButton->isEnabled(); }, 3000);
      const int before = d->count();
      QTest::mouseClick(d->ReconnectButton, Qt::LeftButton);
      polling_again = QTest::qWaitFor([&] { return d->count() >= before + 2; }, 5000) &&
                      d->Panel5->isEnabled() && !d->ReconnectButton->isVisible();
      QTest::mouseClick(d->BitBtn5, Qt::LeftButton);
    });
    app.window->Nval->trigger();
    qInfo("CPU while waiting for the device: %.2f %% of a core", cpu_share * 100.0);
    QVERIFY(told);
    QVERIFY(greyed);
    // Only a loop spinning on the lost port is caught here (it would take most of a core); what
    // the wait costs is a figure to print, and a sanitizer build or a busy machine moves it.
    QVERIFY(cpu_share >= 0.0 && cpu_share < 0.25);
    QVERIFY(back);
    QVERIFY(polling_again);
    QVERIFY(app.Said("Зв'язок з давачем встановлено"));
    QCOMPARE(CurrentLinkState(app.state()), LinkState::kUp);
    QCOMPARE(app.state().Tap->stats(TapProtocol::kModbus).other_errors, 1u);
  }

  // The line the program put in service is still in service when the adapter comes back: the
  // reconnection goes straight back to it, with no question about taking it out.
  void reconnectThroughTheCorrectorGoesBackToItsOwnLineWithoutAsking() {
    SimApp app;
    QVERIFY(app.Start({"--unplug-after", "30", "--unplug-for", "1"}));
    LinkChoice choice;
    choice.tries = 3;
    choice.wait_time = QStringLiteral("1000");
    app.Connect(app.window->N1, choice);
    QVERIFY(app.Said("Зв'язок з давачем встановлено"));
    QVERIFY(app.ui.questions.empty());
    // A replugged simulator may stay silent a while: retries are answered yes.
    app.ui.answers = {true, true, true, true, true, true};

    bool lost = false, back = false, polling_again = false;
    app.AcceptDisplaySettings(50);
    OnNextModal<TFormCheck_Val>([&](TFormCheck_Val* d) {
      lost = QTest::qWaitFor([d] { return d->ReconnectButton->isVisible(); }, 15000);
      back = QTest::qWaitFor([d] { return d->ReconnectButton->isEnabled(); }, 5000);
      const int before = d->count();
      QTest::mouseClick(d->ReconnectButton, Qt::LeftButton);
      polling_again = QTest::qWaitFor([&] { return d->count() >= before + 2; }, 15000);
      QTest::mouseClick(d->BitBtn5, Qt::LeftButton);
    });
    app.window->Nval->trigger();
    QVERIFY(lost);
    QVERIFY(back);
    QVERIFY(polling_again);
    for (const ScriptedHost::Question& q : app.ui.questions)
      QVERIFY2(q.line1 != "Коректор в режимі обслуговування.", q.line1.c_str());
    QCOMPARE(CurrentLinkState(app.state()), LinkState::kUp);
    QVERIFY(LineInService(app.state()));
  }
};

QTEST_MAIN(LineMonitorSimTest)
#include "line_monitor_sim_test.moc"
