// The verification window end to end against vorlix-sim's non-linear, hysteretic sensor: the
// applied values set at the simulator's bench, the readings collected by the statistics window
// through the real serial layer, the verdicts by the guard band, the run in the journal and its
// certificate on paper.

#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTableWidget>
#include <QtTest>

#include "core/calibration_journal.h"
#include "core/reference_standards.h"
#include "core/verification_run.h"
#include "gui/measurement/ask_val.h"
#include "gui/service/certificate_view.h"
#include "gui/service/verify_window.h"
#include "tests/e2e_sim/sim_app.h"

using namespace e2e_sim;

namespace {

QString PdfText(const QString& path) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
  if (!p.waitForFinished(30000) || p.exitCode() != 0)
    return {};
  return QString::fromUtf8(p.readAllStandardOutput());
}

LinkChoice Direct() {
  LinkChoice choice;
  choice.conn_type = 0;
  return choice;
}

}  // namespace

class VerificationSimTest : public QObject {
  Q_OBJECT

 private slots:
  void asFoundRunGivesTheModelsErrorsTheGuardBandVerdictsAndACertificate() {
    SimApp app;
    // 0.5 % of the 0..1000 kPa span at mid-range, falling readings 1 kPa above rising ones.
    QVERIFY2(app.Start({"--connection", "direct", "--pressure", "0", "--noise", "0",
                        "--nonlinearity", "0.5", "--hysteresis", "1"}),
             app.sim.error_text().c_str());
    const ReferenceStandard reference{"КТ-1",       "Калібратор", "17", "UA/42",
                                      "2020-12-31", 1.0,          2.0,  "кПа"};
    QVERIFY(SaveReferenceStandards(ReferenceRegisterPath(app.Folder()), {reference}));
    app.Connect(app.window->N1, Direct());
    TConnectSettings& s = app.state().ConnectSettings;
    s.interval = 50;
    s.P_unit = 1;
    s.P_format = 2;

    const QString pdf = QString::fromStdString(app.Folder() + "/certificate.pdf");
    std::vector<QString> verdicts;
    QString hysteresis;
    OnNextModal<TFormVerify>([&](TFormVerify* d) {
      d->EditRangeLow->setText(QStringLiteral("0"));
      d->EditRangeHigh->setText(QStringLiteral("1000"));
      d->EditPoints->clear();
      d->ComboDirection->setCurrentIndex(1);
      d->EditTolerance->setText(QStringLiteral("4.25"));
      d->ComboToleranceKind->setCurrentIndex(0);
      d->ComboRule->setCurrentIndex(1);
      d->ComboReference->setCurrentIndex(1);
      d->EditCustomer->setText(QStringLiteral("ГРС Тестова"));
      d->EditEngineer->setText(QStringLiteral("Петренко П."));
      d->EditAmbientT->setText(QStringLiteral("21.5"));
      // The reference is past due: asked first, and gone on with.
      app.ui.answers = {true};
      QTest::mouseClick(d->BtnStart, Qt::LeftButton);
      QCOMPARE(d->TablePoints->rowCount(), 9);
      for (int point = 0; point < 9; ++point) {
        const QString nominal = d->EditApplied->text();
        app.sim.WriteInput("pressure " + nominal.toStdString() + "\n");
        QVERIFY(app.sim.WaitForLine("pressure " + QString::number(nominal.toDouble()).toStdString(),
                                    std::chrono::seconds(10)));
        OnNextModal<TFormAsk_Val>([](TFormAsk_Val* a) {
          QVERIFY(QTest::qWaitFor([a] { return a->spread().count >= 10; }, 10000));
          QTest::mouseClick(a->BitBtn1, Qt::LeftButton);
        });
        QTest::keyClick(d->EditApplied, Qt::Key_Return);  // the default button measures
      }
      for (int row = 0; row < 9; ++row)
        verdicts.push_back(d->TablePoints->item(row, 11)->text());
      hysteresis = d->LabelHysteresis->text();
      app.ui.answers = {false};                          // not adjusted now
      QTest::mouseClick(d->BtnMeasure, Qt::LeftButton);  // "Завершити перевірку"
      d->show_certificate = [&](const JournalRecord& entry) {
        QString error;
        QVERIFY2(SaveCertificatePdf(entry, pdf, error), qPrintable(error));
      };
      QTest::mouseClick(d->BtnCertificate, Qt::LeftButton);
      QTest::keyClick(d, Qt::Key_Escape);
    });
    app.window->Nverify->trigger();

    // Rising 0..1000 then falling: errors -0.5, 3.25, 4.5, 3.25, -0.5, 4.25, 5.5, 4.25, 0.5
    // against ±4.25 with U = 1, exactly as vorlix-cli verify decides them.
    const std::vector<QString> expected = {
        "відповідає",        "відповідає",    "умовно не відповідає", "відповідає", "відповідає",
        "умовно відповідає", "не відповідає", "умовно відповідає",    "відповідає"};
    QCOMPARE(verdicts.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
      QCOMPARE(verdicts[i], expected[i]);
    QVERIFY2(hysteresis.contains(QStringLiteral("500.00 — 1.000 кПа")), qPrintable(hysteresis));
    QVERIFY(app.ui.questions.size() >= 2);
    QVERIFY(QString::fromStdString(app.ui.questions[0].line1).contains(QStringLiteral("КТ-1")));

    // One entry in the journal: the run, its certificate's number a record of it.
    const std::vector<JournalRecord> journal = ReadJournal(JournalPath(app.Folder()));
    QCOMPARE(journal.size(), size_t{1});
    const std::optional<VerificationRun> run = VerificationFromRecord(journal[0]);
    QVERIFY(run.has_value());
    QCOMPARE(run->stage, VerificationStage::kAsFound);
    QCOMPARE(RunVerdict(*run), Verdict::kFail);
    QCOMPARE(run->points[2].error, 4.5);
    QCOMPARE(journal[0].steps.size(), size_t{1});
    QVERIFY(journal[0].steps[0].step == kStepCertificate);

    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
      QSKIP("pdftotext (poppler-utils) is not installed");
    const QString text = PdfText(pdf);
    const int year = QDate::currentDate().year();
    for (const QString& expected_text :
         {QStringLiteral("Сертифікат калібровки № В-%1-0001").arg(year),
          QStringLiteral("ГРС Тестова"), QStringLiteral("Петренко П."), QStringLiteral("UA/42"),
          QStringLiteral("ПРОСТРОЧЕНО"), QStringLiteral("умовно не відповідає"),
          QStringLiteral("Результати «як знайдено»"), QStringLiteral("Сторінка 1 з"),
          QStringLiteral("захисною смугою"), QStringLiteral("k = 2")})
      QVERIFY2(text.contains(expected_text), qPrintable(expected_text + "\n" + text));

    // With an as-left run beside it the certificate takes two pages, each numbered of two.
    // Its applied values read from a reference instrument, but for the last one, typed.
    VerificationRun left = *run;
    left.stage = VerificationStage::kAsLeft;
    left.instrument = "VORLIX-SIM,REFERENCE,0001,1.0";
    for (VerificationPoint& p : left.points) {
      p.source = AppliedSource::kInstrument;
      p.source_id = left.instrument;
    }
    left.points.back().source = AppliedSource::kTyped;
    left.points.back().source_id.clear();
    JournalRecord both = journal[0];
    both.steps.insert(both.steps.begin(), VerificationJournalRecord(left, journal[0]));
    const QString long_pdf = QString::fromStdString(app.Folder() + "/long.pdf");
    QString error;
    QVERIFY2(SaveCertificatePdf(both, long_pdf, error), qPrintable(error));
    const QString long_text = PdfText(long_pdf);
    QVERIFY(long_text.contains(QStringLiteral("Сторінка 1 з 2")));
    QVERIFY(long_text.contains(QStringLiteral("Сторінка 2 з 2")));
    QVERIFY(long_text.contains(QStringLiteral("Результати «як залишено»")));
    QVERIFY2(long_text.contains(QStringLiteral(
                 "Подані значення прочитано з еталонного приладу: VORLIX-SIM,REFERENCE,0001,1.0")),
             qPrintable(long_text));
    // The as-found run was typed throughout and says nothing of it; the as-left one was read
    // but for its last point.
    QCOMPARE(long_text.count(QStringLiteral("введено")), 1 + 1);  // + the note under it
    QVERIFY(long_text.contains(QStringLiteral("«прилад» — середнє показів еталонного приладу")));
    if (const QString keep = qEnvironmentVariable("VORLIX_KEEP_PDF"); !keep.isEmpty())
      QFile::copy(long_pdf, keep);
    QVERIFY(!app.watchdog.fired());
  }
};

QTEST_MAIN(VerificationSimTest)
#include "verification_sim_test.moc"
