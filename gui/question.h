#pragma once

#include <QDialog>
#include <QMargins>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWindow>
#include <cstdint>

#include "gui/form_variable.h"

class QFrame;
class QLabel;
class QPushButton;
class OuterGeometry;

// The yes/no question: up to three centred lines over "Ні" and "Так". It sizes itself to its
// text when shown; the sizes below are of the window with its frame.
class TFormQues : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kButtonWidth = 75;
  static constexpr int kButtonHeight = 25;
  // Outer heights for one, two and three lines.
  static constexpr int kHeightOneLine = 131;
  static constexpr int kHeightTwoLines = 153;
  static constexpr int kHeightThreeLines = 183;

  explicit TFormQues(QWidget* parent = nullptr);

  QFrame* Panel1;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QPushButton* BitBtn1;  // "Так"
  QPushButton* BitBtn2;  // "Ні"

  // 1 when the user chose "Так", otherwise 0 (also after Esc and the close box).
  uint8_t answer = 0;
  // Makes "Ні" the button that has the focus and takes Enter.
  void MakeNoTheDefault();

  // The outer size the texts call for; valid once the dialog has been shown.
  QSize OuterSize() const { return outer_size_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private slots:
  void BitBtn1Click();
  void BitBtn2Click();

 private:
  void FormShow();
  QSize ComputeOuterSize() const;
  void PlaceControls();

  QSize outer_size_;
  bool shown_ = false;
  bool no_is_default_ = false;
  OuterGeometry* geometry_;
  FormVariable<TFormQues> variable_;
};

// Refers to the question dialog while one exists.
extern TFormQues* FormQues;

// Asks a modal yes/no question and returns true for "Так". An absent line (null) is shown
// empty. Each line is shown on one line: a line break inside it becomes a blank.
// With DefaultAnswer::kNo, "Ні" has the focus and Enter answers no.
enum class DefaultAnswer { kYes, kNo };
bool AskQuestion(QWidget* parent, const QString& line1, const QString* line2 = nullptr,
                 const QString* line3 = nullptr,
                 DefaultAnswer default_answer = DefaultAnswer::kYes);

// The frame the window system puts around a top-level window; zero while it is unknown.
QMargins WindowFrame(const QWidget* window);

// Gives a top-level window an outer size (frame included) and centres it on its screen. An X11
// window manager frames a window only after it has appeared, so the size is fitted again as
// soon as the frame becomes known; until then, and where windows have no frame at all
// (offscreen), the client area gets the whole size.
class OuterGeometry : public QObject {
  Q_OBJECT

 public:
  OuterGeometry(QWidget* window, bool fixed_size);
  void Apply(QSize outer);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Fit();
  void Unwatch();

  QWidget* window_;
  bool fixed_size_;
  QSize outer_;
  QMargins frame_;
  QPointer<QWindow> handle_;
};

// An empty caption that stays empty: Qt shows the application's name in place of an empty
// title, so the window system gets a single blank while windowTitle() stays empty.
void ShowBlankCaption(QWidget* window);
