#pragma once

#include <QObject>
#include <QPushButton>
#include <QString>
#include <QStyle>
#include <initializer_list>
#include <string>
#include <utility>

class QComboBox;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLayout;
class QLineEdit;
class QVBoxLayout;
class QWidget;

// Small builders the dialogs share, so every one names, frames and voices its controls alike.
// `name` is the objectName tests and the screenshots find a control by; a null one leaves the
// control unnamed.

// What Enter does to a push button.
enum class EnterKey {
  kPresses,      // the dialog's default button: Enter presses it wherever the focus is
  kWhenFocused,  // Enter presses it while it has the focus
  kNever,        // only a click or Space presses it
};

// A push button voiced as its text, with a standard icon or without one.
QPushButton* MakeDialogButton(QWidget* parent, const char* name, const QString& text,
                              QStyle::StandardPixmap icon, EnterKey enter);
QPushButton* MakeDialogButton(QWidget* parent, const char* name, const QString& text,
                              EnterKey enter);

// "Прийняти" (BitBtn1, pressed by Enter) and "Відмінити" (BitBtn2), at least `min_width` wide.
std::pair<QPushButton*, QPushButton*> MakeAcceptCancelButtons(QWidget* parent, int min_width = 0);

// The same pair, its clicks wired to `on_accept` and `on_cancel` of `dialog`.
template <typename Dialog, typename Accept, typename Cancel>
std::pair<QPushButton*, QPushButton*> MakeAcceptCancelButtons(Dialog* dialog, Accept on_accept,
                                                              Cancel on_cancel, int min_width = 0) {
  const auto buttons = MakeAcceptCancelButtons(static_cast<QWidget*>(dialog), min_width);
  QObject::connect(buttons.first, &QPushButton::clicked, dialog, on_accept);
  QObject::connect(buttons.second, &QPushButton::clicked, dialog, on_cancel);
  return buttons;
}

// Where a row of buttons stands.
enum class ButtonsAt { kRight, kCentre };

// Buttons side by side, `spacing` apart (the style's spacing when negative).
QHBoxLayout* MakeButtonRow(std::initializer_list<QPushButton*> buttons, ButtonsAt at,
                           int spacing = -1);

// A sunken panel that shows one value, centred, read out to assistive tools as `spoken`.
QLabel* MakeValuePanel(QWidget* parent, const char* name, const QString& spoken, int min_width);

// A label that shows its text as it is, never as markup: device texts pass through some.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text = {});

// A MakeLabel whose last glyph keeps a little room, as hinting can draw a line a pixel or two
// past its measured width.
QLabel* MakePlainLabel(QWidget* parent, const char* name, const QString& text = {});

QGroupBox* MakeGroupBox(QWidget* parent, const char* name, const QString& title);
QComboBox* MakeList(QWidget* parent, const char* name);
QLineEdit* MakeEdit(QWidget* parent, const char* name);

// An edit that shows dots for what is typed, `max_length` characters at most.
QLineEdit* MakePasswordEdit(QWidget* parent, const char* name, int max_length);

// An edit of a column of numbers: right-aligned, read out as `spoken`.
QLineEdit* MakeValueEdit(QWidget* parent, const char* name, const QString& spoken);

// Entry `index` of the list, or none when it has no such entry (an editable list then shows
// no text either).
void SelectEntry(QComboBox* list, int index);

// Caption lines one under the other, each leading to `field`: its mnemonic focuses the field,
// and assistive tools name the field by it.
QVBoxLayout* MakeCaptionLines(std::initializer_list<QLabel*> captions, QWidget* field);

// A label of a form row to be made: the member that receives it, its name and its text.
struct Caption {
  QLabel*& label;
  const char* name;
  QString text;
};

// One row of a form grid, all centred vertically: the caption lines in column 0, `field` in
// column 1 and a unit in column 2. The labels are made beside the field and lead to it.
void AddFieldRow(QGridLayout* grid, int row, QWidget* field,
                 std::initializer_list<Caption> captions);
void AddFieldRow(QGridLayout* grid, int row, QWidget* field,
                 std::initializer_list<Caption> captions, const Caption& unit);

// The whole of a dialog that ends in a status bar: `body`, then the bar across the full width,
// the dialog as large as they need.
void LayOutOverStatusBar(QWidget* dialog, QLayout* body, QWidget* status_bar);

// A number in the program's fixed-point format.
QString Fixed(double value, int decimals);

// A text on one line: its line breaks become blanks.
QString OneLine(QString text);
// An exchange error on the one line of a status panel.
QString OneLine(const std::string& text);

// Sets the order in which Tab walks `widgets`.
void SetTabOrder(std::initializer_list<QWidget*> widgets);
