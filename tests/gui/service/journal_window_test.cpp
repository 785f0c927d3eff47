// The journal window without a link and the certificate on paper: the PDF is read back with the
// poppler tools, as a person would find it.

#include "gui/service/journal_window.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "gui/form_main.h"
#include "gui/service/certificate_view.h"
#include "tests/support/scripted_host.h"

namespace {

JournalRecord Record(const char* time, int line, JournalOutcome outcome) {
  JournalRecord r;
  r.time = time;
  r.through_corrector = true;
  r.port = 3;
  r.corrector_address = 1;
  r.plate = 26;
  r.line = line;
  r.sensor_address = 101;
  r.unit = "кПа";
  r.as_found = SensorCalibration{-2.0f, 1.25f};
  r.points = {{120.0, 123.0, 10, 0.004}, {200.0, 205.0, 10, 0.003}};
  r.written = SensorCalibration{-1.95122f, 1.21951f};
  r.read_back = r.written;
  r.read_back_matches = true;
  r.outcome = outcome;
  return r;
}

// The text of a PDF as pdftotext lays it out; empty when the tool is missing.
QString PdfText(const QString& path) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
  if (!p.waitForFinished(30000) || p.exitCode() != 0)
    return {};
  return QString::fromUtf8(p.readAllStandardOutput());
}

}  // namespace

class JournalWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void certificatePdfShowsTheDeviceTheCalibrationsThePointsAndTheSignature() {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
      QSKIP("pdftotext (poppler-utils) is not installed");
    QTemporaryDir folder;
    const JournalRecord record =
        Record("2026-12-08T11:02:03.456+02:00", 2, JournalOutcome::kWritten);
    TFormCertificate dialog(record);
    QCOMPARE(TFormCertificate::SuggestedFileName(record),
             QStringLiteral("certificate_P_101_2026-12-08_11-02-03.pdf"));
    const QString path = folder.filePath(QStringLiteral("c.pdf"));
    dialog.ask_pdf_path = [&](const QString&) { return path; };
    QString told;
    dialog.tell = [&](const QString& text) { told = text; };
    dialog.PdfClick();
    QVERIFY(told.isEmpty());

    const QString text = PdfText(path);
    for (const char* expected :
         {"СЕРТИФІКАТ КАЛІБРОВКИ ДАВАЧА", "08.12.2026 11:02:03", "Як знайдено", "-2.0000000",
          "1.2500000", "Як залишено", "1.2195100", "+3.000", "+5.000", "біт у біт", "Підпис",
          "Калібровку виконав"}) {
      QVERIFY2(text.contains(QString::fromUtf8(expected)), expected);
    }

    // A folder that cannot take the file is told, not passed over.
    dialog.ask_pdf_path = [&](const QString&) {
      return folder.filePath(QStringLiteral("missing/c.pdf"));
    };
    dialog.PdfClick();
    QVERIFY(told.contains(QStringLiteral("missing")));
  }

  void aRestoreGetsItsOwnProtocolNotACertificate() {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
      QSKIP("pdftotext (poppler-utils) is not installed");
    QTemporaryDir folder;
    JournalRecord record = Record("2026-12-09T08:15:00.000+02:00", 2, JournalOutcome::kRestored);
    record.points.clear();
    record.as_found = SensorCalibration{-1.95122f, 1.21951f};
    record.written = SensorCalibration{-2.0f, 1.25f};
    record.read_back = record.written;
    record.note = "як залишено за записом 2026-12-08T11:02:03.456+02:00";
    TFormCertificate dialog(record);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Протокол відновлення калібровки"));
    QCOMPARE(TFormCertificate::SuggestedFileName(record),
             QStringLiteral("restore_P_101_2026-12-09_08-15-00.pdf"));
    const QString path = folder.filePath(QStringLiteral("r.pdf"));
    dialog.ask_pdf_path = [&](const QString&) { return path; };
    dialog.PdfClick();
    const QString text = PdfText(path);
    // The rest of its text is checked on the HTML by the protocol's own test.
    QVERIFY(text.contains(QStringLiteral("ПРОТОКОЛ ВІДНОВЛЕННЯ КАЛІБРОВКИ ДАВАЧА")));
    QVERIFY(text.contains(QStringLiteral("як залишено, запис журналу від 08.12.2026")));
    QVERIFY(!text.contains(QStringLiteral("СЕРТИФІКАТ")));
    QVERIFY(!text.contains(QStringLiteral("без точок")));
  }

  void withoutALinkAllRecordsShowNewestFirstAndNothingCanBeRestored() {
    QTemporaryDir folder;
    std::string error;
    const std::string journal = JournalPath(folder.path().toStdString());
    QVERIFY(AppendJournalRecord(
        journal, Record("2026-12-07T09:00:00.000+02:00", 1, JournalOutcome::kCancelled), error));
    QVERIFY(AppendJournalRecord(
        journal, Record("2026-12-08T10:00:00.000+02:00", 2, JournalOutcome::kWritten), error));
    {
      QFile torn(QString::fromStdString(journal));
      QVERIFY(torn.open(QIODevice::Append));
      torn.write("{\"time\":");
    }
    ScriptedHost ui;
    TFormMain window(ui, nullptr, folder.path().toStdString());
    TFormJournal dialog(window);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Журнал калібровок"));
    QCOMPARE(dialog.TableJournal->rowCount(), 2);
    QCOMPARE(dialog.TableJournal->item(0, 0)->text(), QStringLiteral("08.12.2026 10:00:00"));
    QCOMPARE(dialog.TableJournal->item(1, 3)->text(), QStringLiteral("відмінено"));
    QCOMPARE(dialog.TableJournal->item(0, 4)->text(), QStringLiteral("-2.00000 / 1.25000"));
    QVERIFY(dialog.LabelCount->text().contains(QStringLiteral("пропущено: 1")));
    QVERIFY(!dialog.CheckChannel->isEnabled());
    QVERIFY(!dialog.BtnRestoreFound->isEnabled());
    QVERIFY(!dialog.BtnRestoreLeft->isEnabled());
    QVERIFY(dialog.BtnCertificate->isEnabled());
    QCOMPARE(dialog.LabelRecords->buddy(), dialog.TableJournal);
    QVERIFY(dialog.BtnCertificate->isDefault());

    std::vector<std::string> certified;
    dialog.show_certificate = [&](const JournalRecord& r) { certified.push_back(r.time); };
    dialog.TableJournal->selectRow(1);
    QTest::mouseClick(dialog.BtnCertificate, Qt::LeftButton);
    QCOMPARE(certified, std::vector<std::string>{"2026-12-07T09:00:00.000+02:00"});
    // From the keyboard: Enter in the table asks for the certificate, Esc closes the window.
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    dialog.TableJournal->setFocus();
    QTest::keyClick(dialog.TableJournal, Qt::Key_Return);
    QCOMPARE(certified.size(), size_t{2});

    // The export writes what the table shows, numbers with the mark it was given.
    dialog.decimal_mark = ',';
    const QString csv = folder.filePath(QStringLiteral("out.csv"));
    dialog.ask_csv_path = [&](const QString& suggested) {
      return suggested.endsWith(QStringLiteral("calibration-journal.csv")) ? csv : QString();
    };
    QTest::mouseClick(dialog.BtnExport, Qt::LeftButton);
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QCOMPARE(text.count(QStringLiteral("\r\n")), 3);
    QVERIFY(text.contains(QStringLiteral(";1,25;")));
    QVERIFY(ui.messages.empty());

    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());

    QCOMPARE(CsvDecimalMark(QLocale(QLocale::Ukrainian, QLocale::Ukraine)), ',');
    QCOMPARE(CsvDecimalMark(QLocale::c()), '.');
  }
};

QTEST_MAIN(JournalWindowTest)
#include "journal_window_test.moc"
