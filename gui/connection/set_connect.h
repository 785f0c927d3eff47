#pragma once

#include <QDialog>
#include <array>
#include <string>

#include "core/connection_steps.h"
#include "gui/form_variable.h"

class QFrame;
class QLabel;
class QPushButton;
class QTimer;
struct AppState;

// Establishes the link step by step on the exchange objects the main window has made:
// through the corrector, identify it, free the sensor line and put it into service; then
// read the sensor's unit and calibration. Each step shows its state; the result is `connected`.
class TFormSet_Connect : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kSteps = kConnectSteps;
  // The sequence starts this long after the dialog is shown, so the user sees it first.
  static constexpr int kStartDelayMs = 100;

  explicit TFormSet_Connect(AppState& state, QWidget* parent = nullptr);

  // One panel per step: its caption and its state ("Виконується", "Виконано").
  QFrame *pn1, *pn2, *pn3, *pn4, *pn5;
  QLabel *l1, *l2, *l3, *l4, *l5;
  QLabel *v1, *v2, *v3, *v4, *v5;
  QLabel* Label1;        // "Очікуйте виконання"
  QPushButton* BitBtn2;  // "Відмінити"
  QTimer* TimerStart;

  // True when every step succeeded.
  bool connected = false;

  bool SequenceRunning() const { return running_; }

 public slots:
  void TimerStartTimer();
  void BitBtn2Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  bool RunStep(int step);
  void MarkRunning(int step);
  void MarkEnded(int step, bool ok);

  AppState& state_;
  std::array<QLabel*, kSteps> captions_{};
  std::array<QLabel*, kSteps> states_{};
  std::array<QFrame*, kSteps> panels_{};
  bool running_ = false;
  bool finished_ = false;
  FormVariable<TFormSet_Connect> variable_;
};

// Refers to the connection sequence dialog while one exists.
extern TFormSet_Connect* FormSet_Connect;
