#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <vector>

#include "core/calibration_journal.h"
#include "core/calibration_restore.h"

class QCheckBox;
class QLabel;
class QLocale;
class QPushButton;
class QTableWidget;
class TFormMain;

// The decimal mark a spreadsheet of `locale` reads numbers with: its own when that is one
// ASCII character, the full stop otherwise.
char CsvDecimalMark(const QLocale& locale);

// The calibration journal: its records newest first, optionally only those of the channel
// connected now, with restore, certificate and CSV export. It reads the journal again after
// each restore, so the restore's own record shows at once.
class TFormJournal : public QDialog {
  Q_OBJECT

 public:
  explicit TFormJournal(TFormMain& window, QWidget* parent = nullptr);

  QLabel* LabelRecords;
  QTableWidget* TableJournal;
  QCheckBox* CheckChannel;  // only the connected channel
  QLabel* LabelCount;
  QPushButton* BtnRestoreFound;  // "Відновити як знайдено"
  QPushButton* BtnRestoreLeft;   // "Відновити як залишено"
  QPushButton* BtnCertificate;   // "Сертифікат..."
  QPushButton* BtnExport;        // "Експорт CSV..."
  QPushButton* BtnClose;         // "Закрити"

  // The CSV file to write, empty when the user changed their mind.
  std::function<QString(const QString& suggested)> ask_csv_path;
  // The certificate of a record, until the user closes it.
  std::function<void(const JournalRecord&)> show_certificate;
  // The decimal mark of the exported numbers: the system locale's.
  char decimal_mark;

  // The records as the table shows them, top row first.
  const std::vector<JournalRecord>& shown() const { return shown_; }
  // The record of the selected row, or none.
  const JournalRecord* Selected() const;

  void Reload();
  void RestoreFoundClick();
  void RestoreLeftClick();
  void CertificateClick();
  void ExportClick();

 private:
  void Fill();
  void UpdateButtons();
  void Restore(RestoreWhich which);

  TFormMain& window_;
  std::vector<JournalRecord> all_;
  std::vector<JournalRecord> shown_;
  size_t skipped_ = 0;
};
