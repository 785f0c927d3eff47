#include "gui/dialog_widgets.h"

#include <QLabel>
#include <QPushButton>

#include "core/number_format.h"

QPushButton* MakeDialogButton(QWidget* parent, const char* name, const QString& text,
                              QStyle::StandardPixmap icon, bool is_default) {
  auto* button = new QPushButton(parent->style()->standardIcon(icon), text, parent);
  button->setObjectName(QLatin1String(name));
  button->setAccessibleName(text);
  if (is_default) {
    button->setDefault(true);
  } else {
    button->setAutoDefault(false);
  }
  return button;
}

QLabel* MakeValuePanel(QWidget* parent, const char* name, const char* spoken, int min_width) {
  auto* panel = new QLabel(parent);
  panel->setObjectName(QLatin1String(name));
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAlignment(Qt::AlignCenter);
  panel->setTextFormat(Qt::PlainText);
  panel->setMinimumWidth(min_width);
  panel->setAccessibleName(QString::fromUtf8(spoken));
  return panel;
}

QLabel* MakePlainLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  label->setTextFormat(Qt::PlainText);
  label->setContentsMargins(0, 0, 2, 0);
  return label;
}

QString Fixed(double value, int decimals) {
  return QString::fromStdString(FormatFixed(value, decimals));
}

QString OneLine(const std::string& text) {
  QString line = QString::fromStdString(text);
  line.replace(QLatin1String("\r\n"), QLatin1String(" "));
  line.replace(QLatin1Char('\r'), QLatin1Char(' '));
  line.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return line;
}
