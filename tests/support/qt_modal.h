#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

// Runs `action` on the next modal window of type T as soon as it is on screen. Modal dialogs
// run their own event loop, so the test has to be inside that loop to look and to press.
// Gives up quietly after `max_polls` looks; the test then fails on the missing result.
template <typename T>
void OnNextModal(std::function<void(T*)> action, int max_polls = 2000) {
  auto* timer = new QTimer;
  auto polls = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, action, polls, max_polls]() {
    T* window = qobject_cast<T*>(QApplication::activeModalWidget());
    if (!window || !window->isVisible()) {
      if (++*polls >= max_polls) {
        timer->stop();
        timer->deleteLater();
      }
      return;
    }
    timer->stop();
    timer->deleteLater();
    action(window);
  });
  timer->start(1);
}

// The child of `root` with the given objectName and type, or null.
template <typename T>
T* Child(const QObject* root, const char* name) {
  return root->findChild<T*>(QString::fromLatin1(name));
}

// Leaves a dialog as a user does who takes nothing: Escape pressed in `focus` (the dialog or
// one of its fields), or a click on `cancel`.
inline void Dismiss(QWidget* focus, QAbstractButton* cancel, bool by_escape) {
  if (by_escape) {
    QTest::keyClick(focus, Qt::Key_Escape);
  } else {
    QTest::mouseClick(cancel, Qt::LeftButton);
  }
}
