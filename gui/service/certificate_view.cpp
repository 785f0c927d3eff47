#include "gui/service/certificate_view.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMarginsF>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTextDocument>
#include <QVBoxLayout>

#include "core/calibration_certificate.h"
#include "core/restore_protocol.h"
#include "core/verification_certificate.h"
#include "gui/dialog_widgets.h"
#include "gui/service/paged_print.h"

namespace {

constexpr qreal kMarginMm = 15.0;
constexpr int kPreviewWidth = 760;
constexpr int kPreviewHeight = 820;
constexpr int kLayoutDpi = 96;
constexpr int kLayoutDotsPerMeter = 3780;  // 96 dpi

// A restore measured nothing: its paper is the restore protocol, not a certificate.
std::string DocumentHtml(const JournalRecord& record) {
  return HasRestoreProtocol(record) ? RestoreProtocolHtml(record) : CertificateHtml(record);
}

QString DocumentTitle(const JournalRecord& record) {
  return HasRestoreProtocol(record) ? QString::fromStdString(RestoreProtocolTitle())
                                    : QStringLiteral("Сертифікат калібровки");
}

void SetUpPage(QPrinter& printer) {
  printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                    QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                                    QPageLayout::Millimeter));
}

}  // namespace

void PrintCertificate(const JournalRecord& record, QPrinter& printer) {
  // A verification run with its number issued has the certificate of its own, on as many
  // pages as its tables take.
  if (const std::optional<CertificateDetails> details = CertificateOf(record);
      details && HasVerification(record)) {
    PrintPagedHtml(
        QString::fromStdString(VerificationCertificateHtml(record, *details)),
        QStringLiteral("Сертифікат калібровки № %1").arg(QString::fromStdString(details->number)),
        printer);
    return;
  }
  // Laid out at a fixed resolution on the page the printer has left inside its margins, then
  // scaled to the printer: without a page size of its own the document would add margins of
  // its own on top of the printer's, and pixel sizes would shrink with the printer's
  // resolution. The device outlives the document that refers to it.
  QImage layout_device(1, 1, QImage::Format_RGB32);
  layout_device.setDotsPerMeterX(kLayoutDotsPerMeter);
  layout_device.setDotsPerMeterY(kLayoutDotsPerMeter);
  QTextDocument document;
  document.documentLayout()->setPaintDevice(&layout_device);
  document.setDocumentMargin(0);
  document.setPageSize(printer.pageLayout().paintRect(QPageLayout::Inch).size() * kLayoutDpi);
  // DejaVu Sans where it is installed, the system's sans-serif face elsewhere: both carry
  // Cyrillic.
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(10.0);
  document.setDefaultFont(font);
  document.setHtml(QString::fromStdString(DocumentHtml(record)));
  document.print(&printer);
}

bool SaveCertificatePdf(const JournalRecord& record, const QString& path, QString& error) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(path);
  printer.setCreator(QStringLiteral("vorlix"));
  printer.setDocName(DocumentTitle(record));
  SetUpPage(printer);
  PrintCertificate(record, printer);
  const QFileInfo written(path);
  if (!written.exists() || written.size() == 0) {
    error = QStringLiteral("Не вдалося записати файл %1").arg(QDir::toNativeSeparators(path));
    return false;
  }
  return true;
}

QString TFormCertificate::SuggestedFileName(const JournalRecord& record) {
  // 2026-12-08T11:02:03... -> 2026-12-08_11-02-03
  QString stamp = QString::fromStdString(record.time.substr(0, 19));
  stamp.replace(QLatin1Char('T'), QLatin1Char('_')).replace(QLatin1Char(':'), QLatin1Char('-'));
  return QStringLiteral("%1_%2_%3_%4.pdf")
      .arg(HasRestoreProtocol(record) ? QStringLiteral("restore") : QStringLiteral("certificate"))
      .arg(record.channel == 1 ? QStringLiteral("T") : QStringLiteral("P"))
      .arg(record.sensor_address)
      .arg(stamp);
}

TFormCertificate::TFormCertificate(const JournalRecord& record, QWidget* parent)
    : QDialog(parent), record_(record) {
  setObjectName(QStringLiteral("FormCertificate"));
  setWindowTitle(DocumentTitle(record));

  Preview = new QPrintPreviewWidget(this);
  Preview->setObjectName(QStringLiteral("Preview"));
  Preview->setAccessibleName(QStringLiteral("Попередній перегляд: ") + DocumentTitle(record));
  Preview->setFocusPolicy(Qt::StrongFocus);
  connect(Preview, &QPrintPreviewWidget::paintRequested, this, [this](QPrinter* printer) {
    SetUpPage(*printer);
    PrintCertificate(record_, *printer);
  });
  Preview->setZoomMode(QPrintPreviewWidget::FitToWidth);

  BtnPrint = MakeDialogButton(this, "BtnPrint", QStringLiteral("Друк..."), EnterKey::kWhenFocused);
  BtnPdf = MakeDialogButton(this, "BtnPdf", QStringLiteral("Зберегти PDF..."), EnterKey::kPresses);
  BtnClose = MakeDialogButton(this, "BtnClose", QStringLiteral("Закрити"), EnterKey::kWhenFocused);
  connect(BtnPrint, &QPushButton::clicked, this, &TFormCertificate::PrintClick);
  connect(BtnPdf, &QPushButton::clicked, this, &TFormCertificate::PdfClick);
  connect(BtnClose, &QPushButton::clicked, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Preview, 1);
  layout->addLayout(MakeButtonRow({BtnPrint, BtnPdf, BtnClose}, ButtonsAt::kRight));
  SetTabOrder({Preview, BtnPrint, BtnPdf, BtnClose});
  resize(kPreviewWidth, kPreviewHeight);

  ask_pdf_path = [this](const QString& suggested) {
    const QString title = HasRestoreProtocol(record_) ? QStringLiteral("Зберегти протокол")
                                                      : QStringLiteral("Зберегти сертифікат");
    return QFileDialog::getSaveFileName(this, title, suggested, QStringLiteral("PDF (*.pdf)"));
  };
  ask_printer = [this](QPrinter& printer) {
    QPrintDialog dialog(&printer, this);
    return dialog.exec() == QDialog::Accepted;
  };
  tell = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
}

void TFormCertificate::PrintClick() {
  QPrinter printer(QPrinter::HighResolution);
  SetUpPage(printer);
  if (!ask_printer || !ask_printer(printer))
    return;
  PrintCertificate(record_, printer);
}

void TFormCertificate::PdfClick() {
  const QString path = ask_pdf_path ? ask_pdf_path(SuggestedFileName(record_)) : QString();
  if (path.isEmpty())
    return;
  QString error;
  if (!SaveCertificatePdf(record_, path, error) && tell)
    tell(error);
}

void ShowCertificate(const JournalRecord& record, QWidget* parent) {
  TFormCertificate dialog(record, parent);
  dialog.exec();
}
