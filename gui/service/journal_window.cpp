#include "gui/service/journal_window.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/calibration.h"
#include "core/number_format.h"
#include "gui/dialog_widgets.h"
#include "gui/form_main.h"
#include "gui/service/certificate_view.h"
#include "gui/service/restore.h"

namespace {

constexpr int kWidth = 960;
constexpr int kHeight = 460;

enum Column { kTime, kChannel, kUnit, kOutcome, kAsFound, kAsLeft, kReadBack, kColumns };

QString Calibration(const std::optional<SensorCalibration>& c) {
  if (!c)
    return {};
  return QStringLiteral("%1 / %2").arg(
      QString::fromStdString(FormatFixed(c->offset, kCalibrationDecimals)),
      QString::fromStdString(FormatFixed(c->slope, kCalibrationDecimals)));
}

QString ChannelText(const JournalRecord& r) {
  QString text = r.channel == 1 ? QStringLiteral("температура") : QStringLiteral("тиск");
  text += QStringLiteral(", давач %1").arg(r.sensor_address);
  if (r.through_corrector && r.line)
    text += QStringLiteral(", нитка %1").arg(*r.line);
  else if (!r.through_corrector)
    text += QStringLiteral(", напряму");
  return text;
}

QString ReadBackText(const JournalRecord& r) {
  if (!r.read_back_matches)
    return r.written ? QStringLiteral("не прочитано") : QString();
  return *r.read_back_matches ? QStringLiteral("збігається") : QStringLiteral("не збігається");
}

}  // namespace

char CsvDecimalMark(const QLocale& locale) {
  const QString mark = locale.decimalPoint();
  if (mark.size() == 1 && mark[0].unicode() < 0x80)
    return static_cast<char>(mark[0].unicode());
  return '.';
}

TFormJournal::TFormJournal(TFormMain& window, QWidget* parent)
    : QDialog(parent), decimal_mark(CsvDecimalMark(QLocale::system())), window_(window) {
  setObjectName(QStringLiteral("FormJournal"));
  setWindowTitle(QStringLiteral("Журнал калібровок"));

  TableJournal = new QTableWidget(0, kColumns, this);
  TableJournal->setObjectName(QStringLiteral("TableJournal"));
  TableJournal->setAccessibleName(QStringLiteral("Записи журналу калібровок"));
  TableJournal->setHorizontalHeaderLabels(
      {QStringLiteral("Дата і час"), QStringLiteral("Канал"), QStringLiteral("Одиниця"),
       QStringLiteral("Результат"), QStringLiteral("Як знайдено\n(зміщення / нахил)"),
       QStringLiteral("Як залишено\n(зміщення / нахил)"), QStringLiteral("Прочитано\nназад")});
  TableJournal->setSelectionBehavior(QAbstractItemView::SelectRows);
  TableJournal->setSelectionMode(QAbstractItemView::SingleSelection);
  TableJournal->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TableJournal->setTabKeyNavigation(false);  // Tab leaves the table for the buttons
  TableJournal->verticalHeader()->setVisible(false);
  TableJournal->horizontalHeader()->setStretchLastSection(true);
  LabelRecords = MakeLabel(this, "LabelRecords", QStringLiteral("&Записи:"));
  LabelRecords->setBuddy(TableJournal);

  CheckChannel = new QCheckBox(QStringLiteral("Лише &підключений канал"), this);
  CheckChannel->setObjectName(QStringLiteral("CheckChannel"));
  LabelCount = MakeLabel(this, "LabelCount");

  BtnRestoreFound = MakeDialogButton(this, "BtnRestoreFound",
                                     QStringLiteral("Відновити як знайдено"), EnterKey::kNever);
  BtnRestoreLeft = MakeDialogButton(this, "BtnRestoreLeft", QStringLiteral("Відновити як залишено"),
                                    EnterKey::kNever);
  BtnCertificate =
      MakeDialogButton(this, "BtnCertificate", QStringLiteral("Сертифікат..."), EnterKey::kPresses);
  BtnExport =
      MakeDialogButton(this, "BtnExport", QStringLiteral("Експорт CSV..."), EnterKey::kWhenFocused);
  BtnClose = MakeDialogButton(this, "BtnClose", QStringLiteral("Закрити"), EnterKey::kWhenFocused);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(LabelRecords);
  layout->addWidget(TableJournal, 1);
  auto* under = new QHBoxLayout;
  under->addWidget(CheckChannel);
  under->addStretch(1);
  under->addWidget(LabelCount);
  layout->addLayout(under);
  auto* buttons = MakeButtonRow({BtnRestoreFound, BtnRestoreLeft, BtnCertificate, BtnExport},
                                ButtonsAt::kRight);
  buttons->insertStretch(0, 0);
  buttons->addSpacing(24);
  buttons->addWidget(BtnClose);
  layout->addLayout(buttons);
  SetTabOrder({TableJournal, CheckChannel, BtnRestoreFound, BtnRestoreLeft, BtnCertificate,
               BtnExport, BtnClose});
  resize(kWidth, kHeight);

  connect(CheckChannel, &QCheckBox::toggled, this, &TFormJournal::Fill);
  connect(TableJournal, &QTableWidget::itemSelectionChanged, this, &TFormJournal::UpdateButtons);
  connect(BtnRestoreFound, &QPushButton::clicked, this, &TFormJournal::RestoreFoundClick);
  connect(BtnRestoreLeft, &QPushButton::clicked, this, &TFormJournal::RestoreLeftClick);
  connect(BtnCertificate, &QPushButton::clicked, this, &TFormJournal::CertificateClick);
  connect(BtnExport, &QPushButton::clicked, this, &TFormJournal::ExportClick);
  connect(BtnClose, &QPushButton::clicked, this, &QDialog::reject);

  ask_csv_path = [this](const QString& suggested) {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Експорт журналу калібровок"),
                                        suggested, QStringLiteral("CSV (*.csv)"));
  };
  show_certificate = [this](const JournalRecord& record) { ShowCertificate(record, this); };

  // With a link up the channel's own records are what the engineer came for.
  CheckChannel->setEnabled(LinkReady(window_));
  CheckChannel->setChecked(LinkReady(window_));
  Reload();
}

void TFormJournal::Reload() {
  const std::string& folder = window_.state.SettingsFolder;
  all_ =
      folder.empty() ? std::vector<JournalRecord>{} : ReadJournal(JournalPath(folder), &skipped_);
  Fill();
}

void TFormJournal::Fill() {
  const bool filtered = CheckChannel->isChecked() && LinkReady(window_);
  const JournalRecord link = filtered ? LinkRecord(window_) : JournalRecord{};
  shown_.clear();
  for (auto it = all_.rbegin(); it != all_.rend(); ++it) {
    if (!filtered || SameChannel(link, *it))
      shown_.push_back(*it);
  }
  TableJournal->setRowCount(static_cast<int>(shown_.size()));
  for (int row = 0; row < static_cast<int>(shown_.size()); ++row) {
    const JournalRecord& r = shown_[static_cast<size_t>(row)];
    const QString cells[kColumns] = {QString::fromStdString(JournalTimeText(r.time)),
                                     ChannelText(r),
                                     QString::fromStdString(r.unit),
                                     QString::fromUtf8(OutcomeText(r.outcome)),
                                     Calibration(r.as_found),
                                     Calibration(r.written ? r.AsLeft() : std::nullopt),
                                     ReadBackText(r)};
    for (int column = 0; column < kColumns; ++column)
      TableJournal->setItem(row, column, new QTableWidgetItem(cells[column]));
  }
  TableJournal->resizeColumnsToContents();
  QString count = QStringLiteral("Записів: %1").arg(shown_.size());
  if (skipped_ > 0)
    count += QStringLiteral(" (пошкоджених рядків пропущено: %1)").arg(skipped_);
  LabelCount->setText(count);
  if (!shown_.empty())
    TableJournal->selectRow(0);
  UpdateButtons();
}

const JournalRecord* TFormJournal::Selected() const {
  const int row = TableJournal->currentRow();
  if (row < 0 || row >= static_cast<int>(shown_.size()) ||
      !TableJournal->selectionModel()->isRowSelected(row, {}))
    return nullptr;
  return &shown_[static_cast<size_t>(row)];
}

void TFormJournal::UpdateButtons() {
  const JournalRecord* r = Selected();
  const bool mine = r != nullptr && LinkReady(window_) && SameChannel(LinkRecord(window_), *r);
  BtnRestoreFound->setEnabled(mine && RestoreTarget(*r, RestoreWhich::kAsFound).has_value());
  BtnRestoreLeft->setEnabled(mine && RestoreTarget(*r, RestoreWhich::kAsLeft).has_value());
  BtnCertificate->setEnabled(r != nullptr);
  BtnExport->setEnabled(!shown_.empty());
}

void TFormJournal::Restore(RestoreWhich which) {
  const JournalRecord* r = Selected();
  if (r == nullptr)
    return;
  const JournalRecord source = *r;  // the table is filled again below
  RestoreCalibration(window_, source, which);
  Reload();
}

void TFormJournal::RestoreFoundClick() {
  Restore(RestoreWhich::kAsFound);
}

void TFormJournal::RestoreLeftClick() {
  Restore(RestoreWhich::kAsLeft);
}

void TFormJournal::CertificateClick() {
  if (const JournalRecord* r = Selected(); r != nullptr && show_certificate)
    show_certificate(*r);
}

void TFormJournal::ExportClick() {
  const QString folder = QString::fromStdString(window_.state.SettingsFolder);
  const QString path =
      ask_csv_path ? ask_csv_path(QDir(folder).filePath(QStringLiteral("calibration-journal.csv")))
                   : QString();
  if (path.isEmpty())
    return;
  const std::string csv = JournalCsv(shown_, decimal_mark);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
      !file.flush()) {
    window_.state.ui->ShowMessage("Не вдалося записати " +
                                      QDir::toNativeSeparators(path).toStdString() + ": " +
                                      file.errorString().toStdString(),
                                  "");
  }
}
