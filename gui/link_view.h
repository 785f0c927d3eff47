#pragma once

#include <QString>
#include <QWidget>
#include <vector>

struct AppState;
struct LinkStats;
class QLabel;
class QPushButton;

// The main window's client area: the connection at a glance, and the one-click reconnection
// once a lost port is back.
class LinkSummaryView : public QWidget {
  Q_OBJECT

 public:
  explicit LinkSummaryView(QWidget* parent = nullptr);

  // Shows the rows of DescribeLink for `state`.
  void Show(AppState& state);
  // The value of the row with `label`; empty when there is none.
  QString Value(const QString& label) const;

  QPushButton* ReconnectButton;
  QLabel* LostNote;

 private:
  std::vector<QLabel*> captions_;
  std::vector<QLabel*> values_;
};

// The short exchange indicator of the status bar: requests and failures of both protocols,
// and a lost link.
QString LinkIndicatorText(AppState& state);
