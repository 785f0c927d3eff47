#include "gui/link_view.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "core/app_state.h"
#include "core/link_summary.h"
#include "gui/dialog_widgets.h"

namespace {

constexpr int kRows = 12;

}  // namespace

LinkSummaryView::LinkSummaryView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("LinkSummary"));
  auto* title = MakePlainLabel(this, "SummaryTitle", QStringLiteral("Зв'язок"));
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(16);
  grid->setVerticalSpacing(3);
  for (int i = 0; i < kRows; ++i) {
    QLabel* caption = MakePlainLabel(this, QStringLiteral("SummaryCaption%1").arg(i).toUtf8());
    QLabel* value = MakePlainLabel(this, QStringLiteral("SummaryValue%1").arg(i).toUtf8());
    value->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    caption->setBuddy(value);
    grid->addWidget(caption, i, 0);
    grid->addWidget(value, i, 1);
    captions_.push_back(caption);
    values_.push_back(value);
  }
  grid->setColumnStretch(1, 1);

  LostNote = MakePlainLabel(this, "LostNote");
  LostNote->setWordWrap(true);
  LostNote->setStyleSheet(QStringLiteral("color: #b00020"));
  ReconnectButton = MakeDialogButton(this, "ReconnectButton", QStringLiteral("&Перепідключити"),
                                     QStyle::SP_BrowserReload, EnterKey::kWhenFocused);
  ReconnectButton->setEnabled(false);

  auto* body = new QVBoxLayout(this);
  body->addWidget(title);
  body->addLayout(grid);
  body->addSpacing(6);
  body->addWidget(LostNote);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ReconnectButton);
  buttons->addStretch(1);
  body->addLayout(buttons);
  body->addStretch(1);
}

void LinkSummaryView::Show(AppState& state, LinkState link) {
  // A re-plugged adapter may come back under another device: looked up again once the link
  // has been lost or made again, not on every refresh.
  const int port = state.ConnectSettings.port;
  if (port != port_ || link != port_link_) {
    port_text_ = PortDescription(port);
    port_ = port;
    port_link_ = link;
  }
  const std::vector<SummaryRow> rows = DescribeLink(state, link, port_text_);
  for (size_t i = 0; i < values_.size(); ++i) {
    const bool shown = i < rows.size();
    captions_[i]->setVisible(shown);
    values_[i]->setVisible(shown);
    if (!shown)
      continue;
    captions_[i]->setText(QString::fromStdString(rows[i].label) + QLatin1Char(':'));
    const QString value = QString::fromStdString(rows[i].value);
    if (values_[i]->text() != value)
      values_[i]->setText(value);
  }
}

QString LinkSummaryView::Value(const QString& label) const {
  for (size_t i = 0; i < captions_.size(); ++i)
    if (captions_[i]->text() == label + QLatin1Char(':'))
      return values_[i]->text();
  return {};
}

QString LinkIndicatorText(AppState& state, LinkState link) {
  uint64_t requests = 0;
  uint64_t failures = 0;
  if (state.Tap) {
    for (TapProtocol p : {TapProtocol::kCorrector, TapProtocol::kModbus}) {
      requests += state.Tap->stats(p).requests;
      failures += state.Tap->stats(p).Failures();
    }
  }
  QString text = QStringLiteral("Обмін: %1 запитів, %2 помилок").arg(requests).arg(failures);
  if (link == LinkState::kLost)
    text += QStringLiteral(", зв'язок втрачено");
  return text;
}
