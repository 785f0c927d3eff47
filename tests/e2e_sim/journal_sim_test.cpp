// The calibration journal against a sensor wired straight to the port, simulated by vorlix-sim:
// a calibration keeps what the sensor held bit for bit, and the journal window puts exactly
// those bits back.

#include <QCheckBox>
#include <QMenu>
#include <QPrintPreviewWidget>
#include <QTableWidget>
#include <QtTest>
#include <bit>
#include <cstdint>

#include "core/calibration_journal.h"
#include "gui/measurement/correct_nshp.h"
#include "gui/measurement/correct_set.h"
#include "gui/service/certificate_view.h"
#include "gui/service/journal_window.h"
#include "tests/e2e_sim/sim_app.h"

using namespace e2e_sim;

namespace {

struct Registers {
  bool ok = false;
  SensorCalibration calibration;
  std::string error;
};

Registers ReadOwnRegisters(SimApp& app) {
  Registers r;
  OwnLink own;
  if (!own.Open(app, r.error))
    return r;
  modbusbox sensor = own.Sensor(101);
  r.ok = sensor.ReadCalibration(r.calibration.offset, r.calibration.slope);
  if (!r.ok)
    r.error = sensor.ErrorText();
  return r;
}

// Registers 436-439 as the test itself reads them over the port, while the application has
// no link.
Registers ReadRegisters(SimApp& app) {
  Registers r = ReadOwnRegisters(app);
  // The test's own link forgets the ports folder when it closes; the application needs it.
  SetComPortsFolder(app.Folder() + "/ports");
  return r;
}

LinkChoice Direct() {
  LinkChoice choice;
  choice.conn_type = 0;
  return choice;
}

}  // namespace

class JournalSimTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { UseFullStopDecimalSeparator(); }

  void calibrationKeepsTheFoundBitsAndRestorePutsExactlyThoseBack() {
    SimApp app;
    // Values whose bits no round decimal gives.
    QVERIFY2(app.Start({"--connection", "direct", "--pressure", "100", "--slope", "1.0000731",
                        "--offset", "-0.1234567", "--noise", "0"}),
             app.sim.error_text().c_str());
    const Registers before = ReadRegisters(app);
    QVERIFY2(before.ok, before.error.c_str());

    // A record of another channel, which the window must never restore here.
    JournalRecord foreign;
    foreign.time = "2026-12-01T08:00:00.000+02:00";
    foreign.channel = 1;
    foreign.sensor_address = 102;
    foreign.as_found = SensorCalibration{1.0f, 1.0f};
    std::string error;
    QVERIFY(AppendJournalRecord(JournalPath(app.Folder()), foreign, error));

    app.Connect(app.window->N1, Direct());
    QVERIFY(app.window->Nclb->isEnabled());

    // Two typed points; no check at the point, no certificate (the script answers no).
    app.AcceptDisplaySettings(50);
    OnNextModal<TFormCorrect_NSHP>([&](TFormCorrect_NSHP* d) {
      QTest::keyClicks(d->Edit1, QStringLiteral("100"));
      QTest::keyClicks(d->Edit3, QStringLiteral("100.5"));
      QTest::keyClicks(d->Edit2, QStringLiteral("200"));
      QTest::keyClicks(d->Edit4, QStringLiteral("200.9"));
      OnNextModal<TFormCorrect_Set>(
          [](TFormCorrect_Set* s) { QTest::mouseClick(s->BitBtn1, Qt::LeftButton); });
      QTest::mouseClick(d->BitBtn4, Qt::LeftButton);
      if (d->isVisible())
        d->reject();
    });
    app.window->Nclb->trigger();
    QVERIFY(app.Said("Параметри записані"));

    std::vector<JournalRecord> journal = ReadJournal(JournalPath(app.Folder()));
    QCOMPARE(journal.size(), size_t{2});
    QCOMPARE(journal[1].outcome, JournalOutcome::kWritten);
    QVERIFY(journal[1].as_found->SameBits(before.calibration));
    QVERIFY(!journal[1].written->SameBits(before.calibration));

    // The journal window: this channel's records only, restore as found, then the certificate.
    app.ui.questions.clear();
    app.ui.answers = {true, true};  // restore, then show the certificate
    bool filtered = false, foreign_refused = false, restored_shown = false, preview = false;
    OnNextModal<TFormJournal>([&](TFormJournal* j) {
      filtered = j->CheckChannel->isChecked() && j->TableJournal->rowCount() == 1;
      j->CheckChannel->setChecked(false);
      j->TableJournal->selectRow(1);  // the foreign record, older
      foreign_refused = j->TableJournal->rowCount() == 2 && !j->BtnRestoreFound->isEnabled() &&
                        !j->BtnRestoreLeft->isEnabled();
      j->CheckChannel->setChecked(true);
      j->TableJournal->selectRow(0);
      OnNextModal<TFormCertificate>([&](TFormCertificate* c) {
        // A restore measured nothing: its paper is the restore protocol.
        preview = c->Preview->pageCount() == 1 &&
                  c->windowTitle() == QStringLiteral("Протокол відновлення калібровки");
        QTest::mouseClick(c->BtnClose, Qt::LeftButton);
      });
      QTest::mouseClick(j->BtnRestoreFound, Qt::LeftButton);
      restored_shown = j->TableJournal->rowCount() == 2 &&
                       j->TableJournal->item(0, 3)->text() == QStringLiteral("відновлено");
      QTest::keyClick(j, Qt::Key_Escape);
    });
    app.window->Njournal->trigger();
    QVERIFY(filtered);
    QVERIFY(foreign_refused);
    QVERIFY(restored_shown);
    QVERIFY(preview);
    QCOMPARE(app.ui.questions.size(), size_t{2});
    QVERIFY(app.ui.questions[0].cautious);
    QVERIFY(Q(app.ui.questions[0].line1)
                .startsWith(QStringLiteral("Записати в давач калібровку як знайдено")));
    QCOMPARE(Q(app.ui.questions[1].line1), QStringLiteral("Калібровку відновлено в давачі."));
    QCOMPARE(Q(*app.ui.questions[1].line2), QStringLiteral("Підготувати протокол відновлення?"));

    journal = ReadJournal(JournalPath(app.Folder()));
    QCOMPARE(journal.size(), size_t{3});
    const JournalRecord& restore = journal[2];
    QCOMPARE(restore.outcome, JournalOutcome::kRestored);
    QVERIFY(restore.written->SameBits(before.calibration));
    QVERIFY(restore.read_back->SameBits(before.calibration));
    QVERIFY(restore.read_back_matches.value_or(false));
    QVERIFY(restore.as_found->SameBits(*journal[1].written));

    QVERIFY(app.window->close());
    const Registers after = ReadRegisters(app);
    QVERIFY2(after.ok, after.error.c_str());
    QCOMPARE(std::bit_cast<uint32_t>(after.calibration.offset),
             std::bit_cast<uint32_t>(before.calibration.offset));
    QCOMPARE(std::bit_cast<uint32_t>(after.calibration.slope),
             std::bit_cast<uint32_t>(before.calibration.slope));
    QVERIFY(!app.watchdog.fired());
  }
};

QTEST_MAIN(JournalSimTest)
#include "journal_sim_test.moc"
