#include "gui/service/exchange_monitor.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QColor>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "comm/line_tap_format.h"
#include "core/app_state.h"
#include "gui/dialog_widgets.h"

namespace {

QColor OutcomeColour(TapOutcome outcome) {
  switch (outcome) {
    case TapOutcome::kTimeout:
      return {255, 224, 178};
    case TapOutcome::kChecksum:
      return {255, 205, 210};
    case TapOutcome::kException:
      return {225, 190, 231};
    case TapOutcome::kAborted:
      return {224, 224, 224};
    case TapOutcome::kLinkLost:
      return {239, 154, 154};
    case TapOutcome::kOther:
      return {255, 245, 157};
    default:
      return {};
  }
}

bool WriteLines(const QString& path, const std::string& header,
                const std::vector<const TapFrameModel::Row*>& rows, bool csv) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
    return false;
  std::string text = header;
  for (const TapFrameModel::Row* row : rows)
    text += (csv ? row->Csv() : row->Text()) + "\n";
  return file.write(text.data(), static_cast<qint64>(text.size())) ==
             static_cast<qint64>(text.size()) &&
         file.flush();
}

}  // namespace

QString TapFrameModel::Row::Cell(int column) const {
  switch (column) {
    case kTime:
      return QString::fromStdString(TapTimeMs(frame));
    case kDirection:
      return QString::fromUtf8(TapDirectionMark(frame.direction));
    case kProtocol:
      return QString::fromUtf8(TapProtocolName(frame.protocol));
    case kBytes:
      return QString::fromStdString(TapHex(frame));
    default:
      return QString::fromStdString(DescribeTapFrame(frame));
  }
}

std::string TapFrameModel::Row::Text() const {
  return FormatTapLine(frame);
}

std::string TapFrameModel::Row::Csv() const {
  return FormatTapCsv(frame);
}

int TapFrameModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TapFrameModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant TapFrameModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()))
    return {};
  const Row& r = rows_[static_cast<size_t>(index.row())];
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
    return r.Cell(index.column());
  if (role == Qt::BackgroundRole) {
    const QColor colour = OutcomeColour(r.outcome());
    return colour.isValid() ? QVariant(colour) : QVariant();
  }
  if (role == Qt::TextAlignmentRole && index.column() == kTime)
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

QVariant TapFrameModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return {};
  static const char* const kTitles[kColumns] = {"Час, мс", "Напрям", "Протокол", "Байти", "Розбір"};
  return QString::fromUtf8(kTitles[section]);
}

void TapFrameModel::Append(std::vector<TapFrame> frames) {
  if (frames.empty())
    return;
  const size_t incoming = std::min(frames.size(), capacity_);
  const size_t total = rows_.size() + incoming;
  if (total > capacity_) {
    const int drop = static_cast<int>(total - capacity_);
    beginRemoveRows({}, 0, drop - 1);
    rows_.erase(rows_.begin(), rows_.begin() + drop);
    endRemoveRows();
  }
  const int first = static_cast<int>(rows_.size());
  beginInsertRows({}, first, first + static_cast<int>(incoming) - 1);
  for (size_t i = frames.size() - incoming; i < frames.size(); ++i) {
    rows_.push_back(Row{std::move(frames[i])});
  }
  endInsertRows();
}

void TapFrameModel::Clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void TapFrameFilter::SetProtocol(int protocol) {
  protocol_ = protocol;
  invalidateFilter();
}

void TapFrameFilter::SetErrorsOnly(bool on) {
  errors_only_ = on;
  invalidateFilter();
}

bool TapFrameFilter::filterAcceptsRow(int source_row, const QModelIndex&) const {
  const auto* model = static_cast<const TapFrameModel*>(sourceModel());
  const TapFrameModel::Row& row = model->row(source_row);
  if (protocol_ >= 0 && static_cast<int>(row.protocol()) != protocol_)
    return false;
  return !errors_only_ || TapOutcomeIsError(row.outcome());
}

ExchangeMonitorWindow::ExchangeMonitorWindow(AppState& state, QWidget* parent)
    : QWidget(parent, Qt::Window), state_(state) {
  setObjectName(QStringLiteral("FormExchangeMonitor"));
  setWindowTitle(QStringLiteral("Монітор обміну"));
  setAttribute(Qt::WA_DeleteOnClose, false);

  ProtocolList = MakeList(this, "ProtocolList");
  ProtocolList->addItems({QStringLiteral("Усі"),
                          QString::fromUtf8(TapProtocolName(TapProtocol::kCorrector)),
                          QString::fromUtf8(TapProtocolName(TapProtocol::kModbus)),
                          QString::fromUtf8(TapProtocolName(TapProtocol::kReference))});
  QLabel* protocol_label = MakeLabel(this, "ProtocolLabel", QStringLiteral("&Протокол:"));
  protocol_label->setBuddy(ProtocolList);
  ErrorsOnly = new QCheckBox(QStringLiteral("Лише &помилки"), this);
  ErrorsOnly->setObjectName(QStringLiteral("ErrorsOnly"));
  PauseButton = MakeDialogButton(this, "PauseButton", QStringLiteral("П&ауза"),
                                 QStyle::SP_MediaPause, EnterKey::kWhenFocused);
  PauseButton->setCheckable(true);
  ClearButton = MakeDialogButton(this, "ClearButton", QStringLiteral("&Очистити"),
                                 QStyle::SP_DialogResetButton, EnterKey::kWhenFocused);
  CopyButton = MakeDialogButton(this, "CopyButton", QStringLiteral("&Копіювати"),
                                QStyle::SP_FileDialogDetailedView, EnterKey::kWhenFocused);
  SaveTextButton = MakeDialogButton(this, "SaveTextButton", QStringLiteral("Зберегти як &текст..."),
                                    QStyle::SP_DialogSaveButton, EnterKey::kWhenFocused);
  SaveCsvButton = MakeDialogButton(this, "SaveCsvButton", QStringLiteral("Зберегти як &CSV..."),
                                   QStyle::SP_DialogSaveButton, EnterKey::kWhenFocused);

  model_ = new TapFrameModel(LineTap::kDefaultCapacity, this);
  filter_ = new TapFrameFilter(this);
  filter_->setSourceModel(model_);
  Table = new QTableView(this);
  Table->setObjectName(QStringLiteral("Table"));
  Table->setAccessibleName(QStringLiteral("Кадри обміну"));
  Table->setModel(filter_);
  Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Table->setWordWrap(false);
  Table->verticalHeader()->hide();
  Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 4);
  Table->horizontalHeader()->setStretchLastSection(true);
  const int digit = QFontMetrics(font()).averageCharWidth();
  // Wide enough for their headers, the longest protocol name and a day of milliseconds, with
  // the cell's padding.
  const QFontMetrics metrics(font());
  Table->setColumnWidth(TapFrameModel::kTime,
                        metrics.horizontalAdvance(QStringLiteral("00000000.000")) + 3 * digit);
  Table->setColumnWidth(TapFrameModel::kDirection,
                        metrics.horizontalAdvance(QStringLiteral("Напрям")) + 3 * digit);
  int protocol = metrics.horizontalAdvance(QStringLiteral("Протокол"));
  for (TapProtocol p : {TapProtocol::kCorrector, TapProtocol::kModbus})
    protocol = std::max(protocol, metrics.horizontalAdvance(QString::fromUtf8(TapProtocolName(p))));
  Table->setColumnWidth(TapFrameModel::kProtocol, protocol + 3 * digit);
  Table->setColumnWidth(TapFrameModel::kBytes, digit * 40);
  auto* copy = new QAction(Table);
  copy->setShortcut(QKeySequence::Copy);
  Table->addAction(copy);
  connect(copy, &QAction::triggered, this, &ExchangeMonitorWindow::CopyRows);

  Stats = MakePlainLabel(this, "Stats");
  Stats->setAccessibleName(QStringLiteral("Лічильники обміну"));
  Stats->setWordWrap(true);
  Stats->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* tools = new QHBoxLayout;
  tools->addWidget(protocol_label);
  tools->addWidget(ProtocolList);
  tools->addWidget(ErrorsOnly);
  tools->addStretch(1);
  for (QPushButton* b : {PauseButton, ClearButton, CopyButton, SaveTextButton, SaveCsvButton})
    tools->addWidget(b);
  auto* body = new QVBoxLayout(this);
  body->addLayout(tools);
  body->addWidget(Table, 1);
  body->addWidget(Stats);
  SetTabOrder({ProtocolList, ErrorsOnly, PauseButton, ClearButton, CopyButton, SaveTextButton,
               SaveCsvButton, Table});
  resize(1000, 560);

  connect(ProtocolList, qOverload<int>(&QComboBox::currentIndexChanged), this,
          [this](int index) { filter_->SetProtocol(index - 1); });
  connect(ErrorsOnly, &QCheckBox::toggled, filter_, &TapFrameFilter::SetErrorsOnly);
  connect(PauseButton, &QPushButton::toggled, this, [this](bool paused) {
    PauseButton->setText(paused ? QStringLiteral("П&родовжити") : QStringLiteral("П&ауза"));
    if (!paused)
      Refresh();
  });
  connect(ClearButton, &QPushButton::clicked, this, [this] {
    model_->Clear();
    if (state_.Tap)
      next_seq_ = state_.Tap->settled_seq();
  });
  connect(CopyButton, &QPushButton::clicked, this, &ExchangeMonitorWindow::CopyRows);
  connect(SaveTextButton, &QPushButton::clicked, this, [this] { SaveAs(false); });
  connect(SaveCsvButton, &QPushButton::clicked, this, [this] { SaveAs(true); });

  ask_file_name = [this](const QString& filter) {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Зберегти кадри обміну"), QString(),
                                        filter);
  };

  RefreshTimer = new QTimer(this);
  RefreshTimer->setInterval(kRefreshMs);
  connect(RefreshTimer, &QTimer::timeout, this, &ExchangeMonitorWindow::Refresh);
  RefreshTimer->start();
  Refresh();
}

void ExchangeMonitorWindow::Refresh() {
  const LineTap* tap = state_.Tap.get();
  if (tap == nullptr) {
    Stats->setText(QStringLiteral("Обміну ще не було"));
    return;
  }
  if (!PauseButton->isChecked() && tap->settled_seq() > next_seq_) {
    std::vector<TapFrame> frames;
    tap->ForEachSettled(next_seq_, [&](const TapFrame& f) { frames.push_back(f); });
    next_seq_ = tap->settled_seq();
    const bool at_end =
        Table->verticalScrollBar() == nullptr ||
        Table->verticalScrollBar()->value() == Table->verticalScrollBar()->maximum();
    model_->Append(std::move(frames));
    if (at_end)
      Table->scrollToBottom();
  }
  // An unchanged text would still lay the window out again.
  if (const QString stats = StatsText(); stats != Stats->text())
    Stats->setText(stats);
}

QString ExchangeMonitorWindow::StatsText() const {
  if (!state_.Tap)
    return {};
  QStringList lines;
  for (TapProtocol p : {TapProtocol::kCorrector, TapProtocol::kModbus, TapProtocol::kReference})
    lines << OneLine(FormatLinkStats(p, state_.Tap->stats(p)));
  return lines.join(QLatin1Char('\n'));
}

QString ExchangeMonitorWindow::SelectedText() const {
  std::set<int> chosen;
  for (const QModelIndex& index : Table->selectionModel()->selectedRows())
    chosen.insert(index.row());
  QStringList lines;
  for (int i = 0; i < filter_->rowCount(); ++i) {
    if (!chosen.empty() && chosen.count(i) == 0)
      continue;
    const int source = filter_->mapToSource(filter_->index(i, 0)).row();
    lines << QString::fromStdString(model_->row(source).Text());
  }
  return lines.join(QLatin1Char('\n'));
}

void ExchangeMonitorWindow::CopyRows() {
  QApplication::clipboard()->setText(SelectedText());
}

namespace {

std::vector<const TapFrameModel::Row*> RowsInView(const TapFrameFilter& filter,
                                                  const TapFrameModel& model) {
  std::vector<const TapFrameModel::Row*> rows;
  for (int i = 0; i < filter.rowCount(); ++i)
    rows.push_back(&model.row(filter.mapToSource(filter.index(i, 0)).row()));
  return rows;
}

}  // namespace

bool ExchangeMonitorWindow::SaveText(const QString& path) const {
  return WriteLines(path, StatsText().toStdString() + "\n\n", RowsInView(*filter_, *model_), false);
}

bool ExchangeMonitorWindow::SaveCsv(const QString& path) const {
  return WriteLines(path, TapCsvHeader() + "\n", RowsInView(*filter_, *model_), true);
}

void ExchangeMonitorWindow::SaveAs(bool csv) {
  const QString path = ask_file_name ? ask_file_name(csv ? QStringLiteral("CSV (*.csv)")
                                                         : QStringLiteral("Текст (*.txt)"))
                                     : QString();
  if (path.isEmpty())
    return;
  if (!(csv ? SaveCsv(path) : SaveText(path)))
    state_.ui->ShowMessage("Не вдалося записати файл " + path.toStdString(), "");
}
