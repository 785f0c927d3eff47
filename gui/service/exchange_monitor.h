#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "comm/line_tap.h"

struct AppState;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;
class QTimer;

// The rows of the exchange monitor: frames of the tap as text, with their outcome.
class TapFrameModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kTime, kDirection, kProtocol, kBytes, kSummary, kColumns };
  // A frame as recorded; its text is made when a row is shown, copied or saved, so that a
  // busy line costs the monitor no more than copying its frames.
  struct Row {
    TapFrame frame;
    TapProtocol protocol() const { return frame.protocol; }
    TapOutcome outcome() const { return frame.outcome; }
    QString Cell(int column) const;
    std::string Text() const;  // the line as saved and copied
    std::string Csv() const;
  };

  explicit TapFrameModel(size_t capacity, QObject* parent = nullptr)
      : QAbstractTableModel(parent), capacity_(capacity) {}

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Adds the frames; the oldest rows go once there are more than the capacity.
  void Append(std::vector<TapFrame> frames);
  void Clear();
  const Row& row(int i) const { return rows_[static_cast<size_t>(i)]; }

 private:
  size_t capacity_;
  std::vector<Row> rows_;
};

// Keeps the rows of one protocol, or the failed ones only.
class TapFrameFilter : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  // -1 every protocol.
  void SetProtocol(int protocol);
  void SetErrorsOnly(bool on);

 protected:
  bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override;

 private:
  int protocol_ = -1;
  bool errors_only_ = false;
};

// "Монітор обміну": every frame on the line, decoded, and the link's counts. It only reads the
// tap, between the exchange's steps, so it never holds one up.
class ExchangeMonitorWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRefreshMs = 500;

  explicit ExchangeMonitorWindow(AppState& state, QWidget* parent = nullptr);

  QComboBox* ProtocolList;
  QCheckBox* ErrorsOnly;
  QPushButton* PauseButton;
  QPushButton* ClearButton;
  QPushButton* CopyButton;
  QPushButton* SaveTextButton;
  QPushButton* SaveCsvButton;
  QTableView* Table;
  QLabel* Stats;
  QTimer* RefreshTimer;

  TapFrameModel& model() { return *model_; }
  TapFrameFilter& filter() { return *filter_; }

  // Takes in what the tap has settled since the last look (nothing while paused) and shows
  // the counts.
  void Refresh();
  // The rows in view (filtered), as text lines or as CSV with its header; true when written.
  bool SaveText(const QString& path) const;
  bool SaveCsv(const QString& path) const;
  // The selected rows in view, or all of them when none is selected, one line each.
  QString SelectedText() const;
  // The counts of both protocols, one line each.
  QString StatsText() const;

  // Where save asks for a file name; tests put their own.
  std::function<QString(const QString& filter)> ask_file_name;

 private:
  void CopyRows();
  void SaveAs(bool csv);

  AppState& state_;
  TapFrameModel* model_;
  TapFrameFilter* filter_;
  uint64_t next_seq_ = 0;
};
