#pragma once

#include <QString>
#include <QStyle>
#include <string>

class QLabel;
class QPushButton;
class QWidget;

// Small builders the dialogs share, so every one names, frames and voices its controls alike.

// A push button with a standard icon, named `name` (its objectName and accessible name text).
// `is_default`: the button Enter presses; the others never become default by focus.
QPushButton* MakeDialogButton(QWidget* parent, const char* name, const QString& text,
                              QStyle::StandardPixmap icon, bool is_default);

// A sunken panel that shows one value, centred, read out to assistive tools as `spoken`.
QLabel* MakeValuePanel(QWidget* parent, const char* name, const char* spoken, int min_width);

// A plain-text label; its last glyph keeps a little room, as hinting can draw a line a pixel
// or two past its measured width.
QLabel* MakePlainLabel(QWidget* parent, const char* name, const QString& text = {});

// A number in the program's fixed-point format.
QString Fixed(double value, int decimals);

// An exchange error on the one line of a status panel: its line breaks become blanks.
QString OneLine(const std::string& text);
