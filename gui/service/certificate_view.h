#pragma once

#include <QDialog>
#include <QString>
#include <functional>

#include "core/calibration_journal.h"

class QPrinter;
class QPrintPreviewWidget;
class QPushButton;

// The calibration certificate of a journal record on paper (for a restore, the restore
// protocol): laid out on an A4 page of `printer`, whatever the printer is (a real one, a PDF
// file, the preview).
void PrintCertificate(const JournalRecord& record, QPrinter& printer);

// The certificate as a PDF file at `path`; false with the reason in `error`.
bool SaveCertificatePdf(const JournalRecord& record, const QString& path, QString& error);

// The certificate's preview with its print and PDF commands. The file and printer questions
// sit behind functions that open the real dialogs unless replaced.
class TFormCertificate : public QDialog {
  Q_OBJECT

 public:
  explicit TFormCertificate(const JournalRecord& record, QWidget* parent = nullptr);

  QPrintPreviewWidget* Preview;
  QPushButton* BtnPrint;  // "Друк..."
  QPushButton* BtnPdf;    // "Зберегти PDF..."
  QPushButton* BtnClose;  // "Закрити"

  // The file to save to, empty when the user changed their mind.
  std::function<QString(const QString& suggested)> ask_pdf_path;
  // Lets the user choose and set up the printer; false when they changed their mind.
  std::function<bool(QPrinter&)> ask_printer;
  // Tells the user something went wrong.
  std::function<void(const QString&)> tell;

  void PrintClick();
  void PdfClick();

  // The file name a saved certificate is offered under.
  static QString SuggestedFileName(const JournalRecord& record);

 private:
  JournalRecord record_;
};

// Shows the certificate of `record` over `parent` until the user closes it.
void ShowCertificate(const JournalRecord& record, QWidget* parent);
