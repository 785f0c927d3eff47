#include "gui/key_filters.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QObject>
#include <string>

#include "core/suplfunc.h"

namespace {

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
    if (result == 0)
      return true;  // swallowed
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
