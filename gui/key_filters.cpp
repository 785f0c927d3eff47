#include "gui/key_filters.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QTimer>
#include <QToolTip>
#include <string>

#include "core/suplfunc.h"

namespace {

constexpr int kFlashMs = 400;
constexpr int kNoteMs = 2500;
constexpr char kFlashing[] = "keyRefusedFlash";

// A dropped key must not pass unnoticed: "60l.5" would quietly become "60.5". A beep, the field
// flushed red for a moment and a note under it saying what was refused.
void SignRefusedKey(QLineEdit* edit, QChar key, const QString& allowed) {
  QApplication::beep();
  if (!edit->property(kFlashing).toBool()) {
    edit->setProperty(kFlashing, true);
    const QPalette normal = edit->palette();
    QPalette flushed = normal;
    flushed.setColor(QPalette::Base, QColor(255, 205, 210));
    edit->setPalette(flushed);
    QTimer::singleShot(kFlashMs, edit, [field = QPointer<QLineEdit>(edit), normal] {
      if (!field)
        return;
      field->setPalette(normal);
      field->setProperty(kFlashing, false);
    });
  }
  const QString note = QStringLiteral("«%1» не прийнято: %2").arg(key, allowed);
  QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), note, edit, QRect(), kNoteMs);
  QAccessibleEvent alert(edit, QAccessible::Alert);
  QAccessible::updateAccessibility(&alert);
}

// Filters the characters a line edit receives. Keys that produce no character (arrows,
// Delete, shortcuts) pass untouched.
class KeyFilter final : public QObject {
 public:
  enum class Kind { kInteger, kFloat };
  KeyFilter(QLineEdit* edit, Kind kind) : QObject(edit), edit_(edit), kind_(kind) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != edit_ || event->type() != QEvent::KeyPress)
      return false;
    auto* key_event = static_cast<QKeyEvent*>(event);
    const QString text = key_event->text();
    if (text.size() != 1 || !text.at(0).isPrint() ||
        (key_event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
      return false;
    const char16_t key = text.at(0).unicode();
    char16_t result = 0;
    if (kind_ == Kind::kInteger) {
      result = IntKeyFilter(key);
    } else {
      const QString current = edit_->text();
      const int caret =
          edit_->hasSelectedText() ? edit_->selectionStart() : edit_->cursorPosition();
      result =
          FloatKeyFilter(std::u16string_view(reinterpret_cast<const char16_t*>(current.utf16()),
                                             static_cast<size_t>(current.size())),
                         caret, key);
    }
    if (result == 0) {
      SignRefusedKey(edit_, text.at(0),
                     kind_ == Kind::kInteger
                         ? QStringLiteral("тут лише цифри")
                         : QStringLiteral("тут число, як-от 101.325, -0.5 або 1.5e-3"));
      return true;
    }
    if (result == key)
      return false;
    // The filter replaced the character (a comma becomes the full stop).
    edit_->insert(QString(QChar(result)));
    return true;
  }

 private:
  QLineEdit* edit_;
  Kind kind_;
};

}  // namespace

void InstallIntKeyFilter(QLineEdit* edit) {
  edit->installEventFilter(new KeyFilter(edit, KeyFilter::Kind::kInteger));
}

void InstallIntKeyFilter(QComboBox* editable_combo) {
  if (editable_combo->lineEdit() != nullptr)
    InstallIntKeyFilter(editable_combo->lineEdit());
}

void InstallFloatKeyFilter(QLineEdit* edit) {
  edit->installEventFilter(new KeyFilter(edit, KeyFilter::Kind::kFloat));
}
