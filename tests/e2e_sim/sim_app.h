#pragma once

// The application as the engineer runs it beside vorlix-sim: the real main window with a
// settings folder of its own, the real serial layer and clock, the simulator a separate
// program linked into that folder's ports as COM201. Only the questions and messages are
// scripted. Modal dialogs are driven from inside their own event loops (OnNextModal).

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comm/calcbox.h"
#include "comm/modbusbox.h"
#include "gui/connection/connect.h"
#include "gui/connection/show_par.h"
#include "gui/form_main.h"
#include "sim/child_process.h"
#include "tests/support/com_link.h"
#include "tests/support/qt_modal.h"
#include "tests/support/scripted_host.h"

namespace e2e_sim {

constexpr int kPort = 201;  // above the default device table, so only the link can give it
constexpr int kRate = 115200;

inline QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// What the connection dialog is given beyond its stored values.
struct LinkChoice {
  int conn_type = 1;  // 0 direct, 1 through the corrector
  int line = 1;
  QString wait_time = QStringLiteral("300");
  QString time_out = QStringLiteral("100");
  QString user_code = QStringLiteral("1234");
  QString write_password;  // left as stored when empty
  int tries = 0;           // left as stored when 0
};

// Rejects every modal dialog once `limit` has passed, so a test whose dialogs never get their
// answer fails instead of hanging until ctest kills it.
class ModalWatchdog {
 public:
  explicit ModalWatchdog(int limit_ms) {
    start_.setSingleShot(true);
    QObject::connect(&start_, &QTimer::timeout, [this] {
      fired_ = true;
      sweep_.start(50);
    });
    QObject::connect(&sweep_, &QTimer::timeout, [] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
        dialog->reject();
    });
    start_.start(limit_ms);
  }
  bool fired() const { return fired_; }

 private:
  QTimer start_;
  QTimer sweep_;
  bool fired_ = false;
};

class SimApp {
 public:
  SimApp() = default;
  ~SimApp() {
    // A test that stopped half-way still takes its link down and lets the simulator remove
    // its port link.
    if (window)
      window->close();
    window.reset();
    sim.Stop();
  }
  SimApp(const SimApp&) = delete;
  SimApp& operator=(const SimApp&) = delete;

  // Starts the simulator with `extra` arguments on top of a fast line, then the main window.
  bool Start(const std::vector<std::string>& extra) {
    if (!folder.isValid())
      return false;
    std::vector<std::string> args = {
        "--ini-dir",           Folder(),       "--com", std::to_string(kPort), "--rate",
        std::to_string(kRate), "--turnaround", "1",     "--service-delay",     "150"};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!StartSimulator(sim, VORLIX_SIM_EXE, args))
      return false;
    window = std::make_unique<TFormMain>(ui, nullptr, Folder());
    window->show();
    return true;
  }

  std::string Folder() const { return folder.path().toStdString(); }
  AppState& state() { return window->state; }

  // The connection command for `channel_action` (N1 or N2) with the connection dialog filled
  // in from `choice`; returns once the command has ended.
  void Connect(QAction* channel_action, const LinkChoice& choice) {
    OnNextModal<TFormConnect>([this, choice](TFormConnect* d) {
      d->ComboBox8->setCurrentIndex(choice.conn_type);
      d->ComboBox8Click();
      d->ComboBox1->setCurrentIndex(d->ComboBox1->findText(QStringLiteral("COM%1").arg(kPort)));
      d->ComboBox2->setCurrentIndex(d->ComboBox2->findText(QString::number(kRate)));
      d->Edit1->setText(choice.wait_time);
      d->Edit2->setText(choice.time_out);
      if (choice.conn_type == 1) {
        d->ComboBox5->setCurrentIndex(choice.line - 1);
        d->Edit10->setText(choice.user_code);
        if (!choice.write_password.isEmpty())
          d->Edit11->setText(choice.write_password);
      }
      if (choice.tries > 0)
        d->ComboBox3->setCurrentIndex(choice.tries - 1);
      const size_t before = ui.messages.size();
      QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
      if (d->isVisible()) {
        // Refused: keep what it said for the test, and end the command.
        connect_refusals.insert(connect_refusals.end(), ui.messages.begin() + before,
                                ui.messages.end());
        d->reject();
      }
    });
    channel_action->trigger();
  }

  // Accepts the display settings dialog of the next command with `interval` ms and, for
  // pressure, kPa with two decimals.
  void AcceptDisplaySettings(int interval) {
    OnNextModal<TFormShow_Par>([interval](TFormShow_Par* d) {
      if (d->ComboBox1->isVisible())
        d->ComboBox1->setCurrentIndex(1);  // kPa
      d->ComboBox2->setCurrentIndex(2);
      d->Edit1->setText(QString::number(interval));
      QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
    });
  }

  bool Said(const char* text) const {
    for (const auto& m : ui.messages) {
      if (m.text == text)
        return true;
    }
    return false;
  }

  // True when the application holds no link: no port, no exchange objects, commands off.
  bool LinkDown() const {
    const AppState& s = window->state;
    return s.ComHandle == kNoComHandle && !s.Line && !s.ActiveCalcBox && !s.ActiveModbusBox &&
           !window->Nval->isEnabled() && !window->Nclb->isEnabled();
  }

  QTemporaryDir folder;
  ChildProcess sim;
  ScriptedHost ui;
  std::unique_ptr<TFormMain> window;
  ModalWatchdog watchdog{30000};
  std::vector<ScriptedHost::Message> connect_refusals;
};

// The simulator's port opened by the test itself, as the application opens it, once the
// application has let it go.
struct OwnLink {
  bool Open(const SimApp& app, std::string& error) {
    return link.OpenIn(app.Folder() + "/ports", kPort, kRate, error);
  }
  calcbox Corrector() { return OnLink(calcbox(1)); }
  modbusbox Sensor(uint8_t address) { return OnLink(modbusbox(address)); }
  template <typename Box>
  Box OnLink(Box box) {
    box.port_handle = link.line();
    box.baud_rate = kRate;
    box.first_byte_timeout = 500;
    box.next_byte_timeout = 100;
    box.ui = &ui;
    return box;
  }

  ComLink link;
  ScriptedHost ui;
};

}  // namespace e2e_sim
