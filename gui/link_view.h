#pragma once

#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "core/link_summary.h"

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

  // Shows the rows of DescribeLink for `state`, whose link is in state `link`.
  void Show(AppState& state, LinkState link);
  // The value of the row with `label`; empty when there is none.
  QString Value(const QString& label) const;

  QPushButton* ReconnectButton;
  QLabel* LostNote;

 private:
  std::vector<QLabel*> captions_;
  std::vector<QLabel*> values_;
  // The port's description and what it was looked up for: a port number and a link state.
  std::string port_text_;
  int port_ = -1;
  LinkState port_link_ = LinkState::kNone;
};

// The short exchange indicator of the status bar: requests and failures of both protocols,
// and a lost link.
QString LinkIndicatorText(AppState& state, LinkState link);
