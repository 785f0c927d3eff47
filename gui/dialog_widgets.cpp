#include "gui/dialog_widgets.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/number_format.h"

namespace {

void SetName(QObject* object, const char* name) {
  if (name)
    object->setObjectName(QLatin1String(name));
}

void AddRow(QGridLayout* grid, int row, QWidget* field, std::initializer_list<Caption> captions,
            const Caption* unit) {
  QWidget* parent = field->parentWidget();
  auto* lines = new QVBoxLayout;
  lines->setSpacing(0);
  for (const Caption& caption : captions) {
    caption.label = MakeLabel(parent, caption.name, caption.text);
    caption.label->setBuddy(field);
    lines->addWidget(caption.label);
  }
  grid->addLayout(lines, row, 0, Qt::AlignVCenter);
  grid->addWidget(field, row, 1, Qt::AlignVCenter);
  if (unit) {
    unit->label = MakeLabel(parent, unit->name, unit->text);
    unit->label->setBuddy(field);
    grid->addWidget(unit->label, row, 2, Qt::AlignVCenter);
  }
}

}  // namespace

QPushButton* MakeDialogButton(QWidget* parent, const char* name, const QString& text,
                              QStyle::StandardPixmap icon, EnterKey enter) {
  QPushButton* button = MakeDialogButton(parent, name, text, enter);
  button->setIcon(parent->style()->standardIcon(icon));
  return button;
}

QPushButton* MakeDialogButton(QWidget* parent, const char* name, const QString& text,
                              EnterKey enter) {
  auto* button = new QPushButton(text, parent);
  SetName(button, name);
  button->setAccessibleName(text);
  switch (enter) {
    case EnterKey::kPresses:
      button->setDefault(true);
      break;
    case EnterKey::kWhenFocused:
      break;
    case EnterKey::kNever:
      button->setAutoDefault(false);
      break;
  }
  return button;
}

std::pair<QPushButton*, QPushButton*> MakeAcceptCancelButtons(QWidget* parent, int min_width) {
  const std::pair<QPushButton*, QPushButton*> buttons = {
      MakeDialogButton(parent, "BitBtn1", QStringLiteral("Прийняти"), QStyle::SP_DialogOkButton,
                       EnterKey::kPresses),
      MakeDialogButton(parent, "BitBtn2", QStringLiteral("Відмінити"),
                       QStyle::SP_DialogCancelButton, EnterKey::kNever)};
  if (min_width > 0) {
    buttons.first->setMinimumWidth(min_width);
    buttons.second->setMinimumWidth(min_width);
  }
  return buttons;
}

QHBoxLayout* MakeButtonRow(std::initializer_list<QPushButton*> buttons, ButtonsAt at, int spacing) {
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  bool first = true;
  for (QPushButton* button : buttons) {
    if (!first && spacing >= 0)
      row->addSpacing(spacing);
    first = false;
    row->addWidget(button);
  }
  if (at == ButtonsAt::kCentre)
    row->addStretch(1);
  return row;
}

QLabel* MakeValuePanel(QWidget* parent, const char* name, const QString& spoken, int min_width) {
  auto* panel = new QLabel(parent);
  SetName(panel, name);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAlignment(Qt::AlignCenter);
  panel->setTextFormat(Qt::PlainText);
  panel->setMinimumWidth(min_width);
  panel->setAccessibleName(spoken);
  return panel;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  SetName(label, name);
  label->setTextFormat(Qt::PlainText);
  return label;
}

QLabel* MakePlainLabel(QWidget* parent, const char* name, const QString& text) {
  QLabel* label = MakeLabel(parent, name, text);
  label->setContentsMargins(0, 0, 2, 0);
  return label;
}

QGroupBox* MakeGroupBox(QWidget* parent, const char* name, const QString& title) {
  auto* group = new QGroupBox(title, parent);
  SetName(group, name);
  return group;
}

QComboBox* MakeList(QWidget* parent, const char* name) {
  auto* list = new QComboBox(parent);
  SetName(list, name);
  return list;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  SetName(edit, name);
  return edit;
}

QLineEdit* MakePasswordEdit(QWidget* parent, const char* name, int max_length) {
  QLineEdit* edit = MakeEdit(parent, name);
  edit->setEchoMode(QLineEdit::Password);
  edit->setMaxLength(max_length);
  return edit;
}

QLineEdit* MakeValueEdit(QWidget* parent, const char* name, const QString& spoken) {
  QLineEdit* edit = MakeEdit(parent, name);
  edit->setAlignment(Qt::AlignRight);
  edit->setAccessibleName(spoken);
  return edit;
}

void SelectEntry(QComboBox* list, int index) {
  list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
  if (list->currentIndex() < 0 && list->isEditable())
    list->clearEditText();
}

QVBoxLayout* MakeCaptionLines(std::initializer_list<QLabel*> captions, QWidget* field) {
  auto* lines = new QVBoxLayout;
  lines->setSpacing(0);
  for (QLabel* caption : captions) {
    caption->setBuddy(field);
    lines->addWidget(caption);
  }
  return lines;
}

void AddFieldRow(QGridLayout* grid, int row, QWidget* field,
                 std::initializer_list<Caption> captions) {
  AddRow(grid, row, field, captions, nullptr);
}

void AddFieldRow(QGridLayout* grid, int row, QWidget* field,
                 std::initializer_list<Caption> captions, const Caption& unit) {
  AddRow(grid, row, field, captions, &unit);
}

void LayOutOverStatusBar(QWidget* dialog, QLayout* body, QWidget* status_bar) {
  auto* outer = new QVBoxLayout(dialog);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  outer->addLayout(body);
  outer->addWidget(status_bar);
  outer->setSizeConstraint(QLayout::SetFixedSize);
}

QString Fixed(double value, int decimals) {
  return QString::fromStdString(FormatFixed(value, decimals));
}

QString OneLine(QString text) {
  text.replace(QLatin1String("\r\n"), QLatin1String(" "));
  text.replace(QLatin1Char('\r'), QLatin1Char(' '));
  text.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return text;
}

QString OneLine(const std::string& text) {
  return OneLine(QString::fromStdString(text));
}

void SetTabOrder(std::initializer_list<QWidget*> widgets) {
  QWidget* previous = nullptr;
  for (QWidget* widget : widgets) {
    if (previous)
      QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
}
