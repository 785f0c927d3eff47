// vorlix_screenshots <folder>: walks the application through connection, values and
// calibration against the simulated corrector on a pseudo-terminal, with the real dialogs and
// questions, and saves a picture of each window on the way into <folder>.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/rd_wr_ini.h"
#include "core/settings_location.h"
#include "gui/connection/access_codes.h"
#include "gui/connection/connect.h"
#include "gui/connection/constpass.h"
#include "gui/connection/reference_setup.h"
#include "gui/connection/set_connect.h"
#include "gui/connection/show_par.h"
#include "gui/form_main.h"
#include "gui/measurement/ask_val.h"
#include "gui/measurement/check_val.h"
#include "gui/measurement/correct_nshp.h"
#include "gui/measurement/correct_set.h"
#include "gui/qt_exchange_host.h"
#include "gui/qt_translations.h"
#include "gui/question.h"
#include "gui/service/certificate_view.h"
#include "gui/service/exchange_monitor.h"
#include "gui/service/journal_window.h"
#include "gui/service/verify_window.h"
#include "sim/pty_server.h"
#include "sim/sim_corrector.h"
#include "sim/sim_reference.h"
#include "sim/sim_sensor.h"

namespace {

constexpr int kPort = 200;
constexpr int kReferencePort = 201;
constexpr uint32_t kRate = 19200;
constexpr int kTickMs = 40;
// A step that has not finished by then has met a window it does not expect.
constexpr int kStepLimitMs = 60'000;

// The device serves on the server's thread; changes made from here go through the same lock.
class SharedDevice final : public LineDevice {
 public:
  explicit SharedDevice(LineDevice& inner) : inner_(inner) {}
  std::vector<TimedByte> Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return inner_.Receive(bytes, now_us);
  }
  void Change(const std::function<void()>& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change();
  }

 private:
  LineDevice& inner_;
  std::mutex mutex_;
};

template <typename T>
T* Modal() {
  auto* window = qobject_cast<T*>(QApplication::activeModalWidget());
  return window != nullptr && window->isVisible() ? window : nullptr;
}

// Runs `action` from the event loop, so a modal dialog it opens does not hold up the caller.
void Later(std::function<void()> action) {
  QTimer::singleShot(0, qApp, std::move(action));
}

void Press(QPushButton* button) {
  Later([button] { button->click(); });
}

// A menu command, once no dialog is open: with one open the menu cannot be reached, and a
// command must never start while a dialog's exchange may be running.
bool Choose(QAction* command) {
  if (QApplication::activeModalWidget() != nullptr)
    return false;
  Later([command] { command->trigger(); });
  return true;
}

// Plays the steps one after another: each is polled until it says it is done.
class Director : public QObject {
 public:
  Director(QString folder, TFormMain& window) : folder_(std::move(folder)), window_(window) {
    connect(&timer_, &QTimer::timeout, this, &Director::Tick);
  }

  void Step(const char* name, std::function<bool()> step) { steps_.push_back({name, step}); }
  void Start() {
    timer_.start(kTickMs);
    elapsed_.start();
  }
  bool failed() const { return failed_; }

  void Save(QWidget* widget, const char* name) {
    const QString path = folder_ + QLatin1Char('/') + QLatin1String(name) + ".png";
    if (!widget->grab().save(path)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      failed_ = true;
    } else {
      std::printf("%s\n", qPrintable(path));
    }
  }

  // The screen around the main window, with whatever stands over it (an open menu).
  void SaveScreen(const QRect& area, const char* name) {
    QScreen* screen = window_.screen();
    const QPixmap shot =
        screen != nullptr ? screen->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                          : QPixmap();
    if (shot.isNull()) {
      std::printf("(no screen to grab for %s)\n", name);
      return;
    }
    const QString path = folder_ + QLatin1Char('/') + QLatin1String(name) + ".png";
    shot.save(path);
    std::printf("%s\n", qPrintable(path));
  }

 private:
  void Tick() {
    if (busy_)
      return;
    if (next_ >= steps_.size()) {
      timer_.stop();
      return;
    }
    if (elapsed_.elapsed() > kStepLimitMs) {
      std::fprintf(stderr, "step \"%s\" did not finish\n", steps_[next_].first);
      failed_ = true;
      timer_.stop();
      QApplication::exit(1);
      return;
    }
    busy_ = true;
    const bool done = steps_[next_].second();
    busy_ = false;
    if (done) {
      ++next_;
      elapsed_.restart();
    }
  }

  QString folder_;
  TFormMain& window_;
  QTimer timer_;
  QElapsedTimer elapsed_;
  std::vector<std::pair<const char*, std::function<bool()>>> steps_;
  size_t next_ = 0;
  bool busy_ = false;
  bool failed_ = false;
};

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  UseFullStopDecimalSeparator();
  QTranslator qt_texts;
  LoadQtTranslations(qt_texts);
  if (argc != 2) {
    std::fprintf(stderr, "usage: vorlix_screenshots <folder for the pictures>\n");
    return 2;
  }
  const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  if (!QDir().mkpath(out)) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(out));
    return 1;
  }

  // The corrector asks for the constants password, so that dialog appears too; the pressure
  // sensor reads 101.325 kPa with a little noise.
  CorrectorConfig config;
  config.password_demand = true;
  config.service_delay_ms = 300;
  config.pressure.noise = 0.02;
  SimCorrector corrector(config, LineTiming{kRate, 3000}, FaultConfig{});
  SharedDevice device(corrector);
  PtyServer server(device, kRate);
  std::string error;
  if (!server.Start(error)) {
    std::fprintf(stderr, "cannot open a pseudo-terminal: %s\n", error.c_str());
    return 1;
  }

  // A pressure controller on a port of its own, for the reference instrument's windows.
  SimReferenceConfig reference_config;
  reference_config.style = SimReferenceStyle::kScpiController;
  SimReference reference(reference_config, std::make_shared<SimInput>(SimInput::Config{}));
  SharedDevice reference_device(reference);
  PtyServer reference_server(reference_device, 9600);
  if (!reference_server.Start(error)) {
    std::fprintf(stderr, "cannot open a pseudo-terminal: %s\n", error.c_str());
    return 1;
  }

  QTemporaryDir settings;
  const std::string folder = settings.path().toStdString();
  std::filesystem::create_directories(folder + "/ports");
  std::filesystem::create_symlink(server.slave_path(),
                                  folder + "/ports/COM" + std::to_string(kPort));
  std::filesystem::create_symlink(reference_server.slave_path(),
                                  folder + "/ports/COM" + std::to_string(kReferencePort));
  TConnectSettings link;
  link.port = kPort;
  link.rate = static_cast<int32_t>(kRate);
  link.interval = 250;
  link.P_format = 3;
  TConnectSettings defaults;
  if (!SaveSettings(MakeIniPath(folder), link, defaults, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }

  QApplication::setQuitOnLastWindowClosed(false);
  QtExchangeHost ui;
  TFormMain window(ui, nullptr, folder);
  ui.SetDialogParent(&window);
  window.show();

  Director d(out, window);
  int pause = 0;
  // Lets the window system settle (and a reading or two arrive) before a picture.
  auto settled = [&pause](int ticks) {
    if (++pause < ticks)
      return false;
    pause = 0;
    return true;
  };

  d.Step("main window", [&] {
    if (!window.isVisible() || !settled(10))
      return false;
    d.Save(&window, "01-main-window");
    window.menuBar()->setActiveAction(window.Nconn->menuAction());
    return true;
  });
  d.Step("connection menu", [&] {
    if (!window.Nconn->isVisible() || !settled(5))
      return false;
    const QRect area = window.frameGeometry().united(window.Nconn->geometry());
    d.SaveScreen(area, "02-connection-menu");
    window.Nconn->hide();
    Later([&] { window.N1->trigger(); });
    return true;
  });
  d.Step("connection dialog", [&] {
    auto* c = Modal<TFormConnect>();
    if (c == nullptr || !settled(5))
      return false;
    c->Edit11->setText(QStringLiteral("12345"));
    c->Edit10->setText(QStringLiteral("1234"));
    d.Save(c, "03-connect-corrector");
    c->ComboBox8->setCurrentIndex(0);
    c->ComboBox8Click();
    d.Save(c, "04-connect-direct");
    c->ComboBox8->setCurrentIndex(1);
    c->ComboBox8Click();
    c->Edit10->setText(QStringLiteral("1234"));
    Press(c->BitBtn1);
    return true;
  });
  d.Step("password", [&] {
    auto* p = Modal<TFormConstPass>();
    if (p == nullptr || !settled(5))
      return false;
    if (FormSet_Connect != nullptr)
      d.Save(FormSet_Connect, "05-connection-running");
    p->Edit1->setText(QStringLiteral("1111"));
    p->Edit2->setText(QStringLiteral("1111"));
    d.Save(p, "06-password");
    // The window that asks again for refused codes, as it offers the ones typed.
    TFormAccessCodes codes({QStringLiteral("1234"), QStringLiteral("1111"), true}, p);
    codes.show();
    QCoreApplication::processEvents();
    d.Save(&codes, "06a-access-codes");
    codes.hide();
    Press(p->BitBtn1);
    return true;
  });
  d.Step("connection finished", [&] {
    auto* box = Modal<QMessageBox>();
    if (box == nullptr || FormSet_Connect == nullptr || !settled(5))
      return false;
    d.Save(FormSet_Connect, "07-connection-done");
    d.Save(box, "08-message-connected");
    Press(qobject_cast<QPushButton*>(box->button(QMessageBox::Ok)));
    return true;
  });
  d.Step("connected", [&] {
    if (QApplication::activeModalWidget() != nullptr || !window.Nval->isEnabled() || !settled(5))
      return false;
    d.Save(&window, "09-main-connected");
    return true;
  });
  d.Step("values command", [&] { return Choose(window.Nval); });
  d.Step("display settings", [&] {
    auto* s = Modal<TFormShow_Par>();
    if (s == nullptr || !settled(5))
      return false;
    d.Save(s, "10-display-settings");
    Press(s->BitBtn1);
    return true;
  });
  d.Step("values", [&] {
    auto* v = Modal<TFormCheck_Val>();
    if (v == nullptr || v->count() < 5)
      return false;
    d.Save(v, "11-values");
    v->ComboBox1->setCurrentIndex(0);  // the last minute
    return true;
  });
  d.Step("values: trend", [&] {
    auto* v = Modal<TFormCheck_Val>();
    if (v == nullptr || v->count() < 20)
      return false;
    v->RefreshTrend();
    d.Save(v, "11a-values-trend");
    Press(v->BitBtn5);
    return true;
  });
  d.Step("exchange monitor", [&] {
    if (QApplication::activeModalWidget() != nullptr)
      return false;
    ExchangeMonitorWindow* m = window.ShowExchangeMonitor();
    m->Refresh();
    if (!settled(3))
      return false;
    d.Save(m, "11a-exchange-monitor");
    m->close();
    return true;
  });
  d.Step("calibration command", [&] { return Choose(window.Nclb); });
  d.Step("calibration: display settings", [&] {
    auto* s = Modal<TFormShow_Par>();
    if (s == nullptr)
      return false;
    Press(s->BitBtn1);
    return true;
  });
  d.Step("two points: first", [&] {
    auto* t = Modal<TFormCorrect_NSHP>();
    if (t == nullptr || !settled(5))
      return false;
    d.Save(t, "12-two-point-empty");
    Press(t->BitBtn1);
    return true;
  });
  d.Step("statistics: first point", [&] {
    auto* a = Modal<TFormAsk_Val>();
    if (a == nullptr || !a->spread().stable)
      return false;
    d.Save(a, "13-statistics");
    Press(a->BitBtn1);
    return true;
  });
  d.Step("two points: second", [&] {
    auto* t = Modal<TFormCorrect_NSHP>();
    if (t == nullptr)
      return false;
    t->Edit1->setText(QStringLiteral("101.300"));
    // The engineer applies the upper point.
    device.Change([&] { corrector.sensor(1, 0).config().value = 600.08; });
    Press(t->BitBtn2);
    return true;
  });
  d.Step("statistics: second point", [&] {
    auto* a = Modal<TFormAsk_Val>();
    if (a == nullptr || !a->spread().stable)
      return false;
    Press(a->BitBtn1);
    return true;
  });
  d.Step("two points: filled", [&] {
    auto* t = Modal<TFormCorrect_NSHP>();
    if (t == nullptr || t->Edit4->text().isEmpty())
      return false;
    t->Edit2->setText(QStringLiteral("600.000"));
    d.Save(t, "14-two-point");
    Press(t->BitBtn4);
    return true;
  });
  d.Step("results in kPa", [&] {
    auto* r = Modal<TFormCorrect_Set>();
    if (r == nullptr || !settled(5))
      return false;
    d.Save(r, "15-results-kpa");
    Press(r->BitBtn1);
    return true;
  });
  d.Step("written", [&] {
    auto* box = Modal<QMessageBox>();
    if (box == nullptr)
      return false;
    d.Save(box, "16-message-written");
    Press(qobject_cast<QPushButton*>(box->button(QMessageBox::Ok)));
    return true;
  });
  d.Step("offer to check the applied point", [&] {
    auto* q = Modal<TFormQues>();
    if (q == nullptr || !settled(5))
      return false;
    d.Save(q, "16a-as-left-question");
    Press(q->BitBtn1);
    return true;
  });
  d.Step("statistics at the applied point", [&] {
    auto* a = Modal<TFormAsk_Val>();
    if (a == nullptr || !a->spread().stable)
      return false;
    Press(a->BitBtn1);
    return true;
  });
  d.Step("reading at the applied point", [&] {
    auto* box = Modal<QMessageBox>();
    if (box == nullptr)
      return false;
    d.Save(box, "16b-as-left");
    Press(qobject_cast<QPushButton*>(box->button(QMessageBox::Ok)));
    return true;
  });
  d.Step("offer of the certificate", [&] {
    auto* q = Modal<TFormQues>();
    if (q == nullptr || !settled(5))
      return false;
    d.Save(q, "16c-certificate-question");
    Press(q->BitBtn1);
    return true;
  });
  d.Step("certificate", [&] {
    auto* c = Modal<TFormCertificate>();
    if (c == nullptr || !settled(10))
      return false;
    d.Save(c, "16d-certificate");
    Press(c->BtnClose);
    return true;
  });
  d.Step("calibration command again", [&] { return Choose(window.Nclb); });
  d.Step("display settings in mm Hg", [&] {
    auto* s = Modal<TFormShow_Par>();
    if (s == nullptr)
      return false;
    s->ComboBox1->setCurrentIndex(5);  // "мм рт.ст."
    s->ComboBox2->setCurrentIndex(2);
    d.Save(s, "17-display-settings-mmhg");
    Press(s->BitBtn1);
    return true;
  });
  d.Step("two points in mm Hg", [&] {
    auto* t = Modal<TFormCorrect_NSHP>();
    if (t == nullptr)
      return false;
    t->Edit1->setText(QStringLiteral("760.00"));
    t->Edit3->setText(QStringLiteral("759.62"));
    t->Edit2->setText(QStringLiteral("4500.00"));
    t->Edit4->setText(QStringLiteral("4501.85"));
    Press(t->BitBtn4);
    return true;
  });
  d.Step("results in mm Hg", [&] {
    auto* r = Modal<TFormCorrect_Set>();
    if (r == nullptr || !settled(5))
      return false;
    d.Save(r, "18-results-mmhg");
    Press(r->BitBtn3);
    return true;
  });
  d.Step("back to the points, cancelled", [&] {
    auto* t = Modal<TFormCorrect_NSHP>();
    if (t == nullptr)
      return false;
    Press(t->BitBtn3);
    return true;
  });
  d.Step("cancel confirmed", [&] {
    auto* q = Modal<TFormQues>();
    if (q == nullptr)
      return false;
    Press(q->BitBtn1);
    return true;
  });
  d.Step("journal command", [&] { return Choose(window.Njournal); });
  d.Step("journal", [&] {
    auto* j = Modal<TFormJournal>();
    if (j == nullptr || !settled(5))
      return false;
    d.Save(j, "18a-journal");
    Press(j->BtnExport);
    return true;
  });
  d.Step("journal export file dialog", [&] {
    auto* f = Modal<QFileDialog>();
    if (f == nullptr || !settled(5))
      return false;
    d.Save(f, "18b-journal-export");
    f->reject();
    return true;
  });
  d.Step("journal closed", [&] {
    auto* j = Modal<TFormJournal>();
    if (j == nullptr)
      return false;
    Press(j->BtnClose);
    return true;
  });
  d.Step("verification command", [&] {
    // A sensor with something to find: a bow over its range and a hysteresis.
    device.Change([&] {
      SensorConfig& c = corrector.sensor(1, 0).config();
      c.nonlinearity = 0.2;
      c.hysteresis = 0.6;
      corrector.sensor(1, 0).Apply(100.0);
    });
    return Choose(window.Nverify);
  });
  d.Step("verification plan", [&] {
    auto* v = Modal<TFormVerify>();
    if (v == nullptr || !settled(5))
      return false;
    v->EditRangeLow->setText(QStringLiteral("0"));
    v->EditRangeHigh->setText(QStringLiteral("1000"));
    v->EditPoints->setText(QStringLiteral("100; 400; 700"));
    v->ComboDirection->setCurrentIndex(1);
    v->EditTolerance->setText(QStringLiteral("0.15"));
    v->ComboToleranceKind->setCurrentIndex(2);
    v->EditEngineer->setText(QStringLiteral("Петренко П. П."));
    v->EditCustomer->setText(QStringLiteral("ГРС «Південна», вузол обліку 2"));
    v->EditAmbientT->setText(QStringLiteral("21.4"));
    v->EditAmbientP->setText(QStringLiteral("100.9"));
    v->EditHumidity->setText(QStringLiteral("48"));
    d.Save(v, "20-verification-plan");
    Press(v->BtnStart);
    return true;
  });
  for (int point = 0; point < 5; ++point) {
    d.Step("verification: apply", [&] {
      auto* v = Modal<TFormVerify>();
      if (v == nullptr || !v->current() || !v->BtnMeasure->isEnabled())
        return false;
      const VerificationRun& run = *v->current();
      const std::vector<PlanPoint> sequence = RunSequence(run);
      const double kpa = sequence[NextPointIndex(run)].nominal / run.factor;
      device.Change([&] { corrector.sensor(1, 0).Apply(kpa); });
      Press(v->BtnMeasure);
      return true;
    });
    d.Step("verification: statistics", [&] {
      auto* a = Modal<TFormAsk_Val>();
      if (a == nullptr || !a->spread().stable)
        return false;
      Press(a->BitBtn1);
      return true;
    });
  }
  d.Step("verification: measured", [&] {
    auto* v = Modal<TFormVerify>();
    if (v == nullptr || !v->current() || !Complete(*v->current()) || !settled(5))
      return false;
    d.Save(v, "21-verification-run");
    Press(v->BtnMeasure);
    return true;
  });
  d.Step("verification: adjust offered", [&] {
    auto* q = Modal<TFormQues>();
    if (q == nullptr || !settled(5))
      return false;
    d.Save(q, "22-verification-adjust-question");
    Press(q->BitBtn2);
    return true;
  });
  d.Step("verification: certificate", [&] {
    auto* v = Modal<TFormVerify>();
    if (v == nullptr || !v->BtnCertificate->isEnabled())
      return false;
    Press(v->BtnCertificate);
    return true;
  });
  d.Step("verification: certificate shown", [&] {
    auto* c = Modal<TFormCertificate>();
    if (c == nullptr || !settled(10))
      return false;
    d.Save(c, "23-verification-certificate");
    Press(c->BtnClose);
    return true;
  });
  d.Step("verification: closed", [&] {
    auto* v = Modal<TFormVerify>();
    if (v == nullptr)
      return false;
    d.Save(v, "21a-verification-done");
    Press(v->BtnClose);
    device.Change([&] {
      SensorConfig& c = corrector.sensor(1, 0).config();
      c.nonlinearity = 0.0;
      c.hysteresis = 0.0;
    });
    return true;
  });
  d.Step("reference command", [&] { return Choose(window.Nreference); });
  d.Step("reference settings", [&] {
    auto* r = Modal<TFormReference>();
    if (r == nullptr || !settled(5))
      return false;
    r->ComboPreset->setCurrentIndex(1);
    r->PresetChosen(1);
    r->EditName->setText(QStringLiteral("КТ-1"));
    r->ComboPort->setCurrentIndex(r->ComboPort->findData(kReferencePort));
    Press(r->BtnTest);
    return true;
  });
  d.Step("reference settings: checked", [&] {
    auto* r = Modal<TFormReference>();
    if (r == nullptr || !r->LabelTest->text().contains(QStringLiteral("Показ")) || !settled(3))
      return false;
    d.Save(r, "24-reference-settings");
    Press(r->BitBtn1);
    return true;
  });
  d.Step("verification with the reference", [&] { return Choose(window.Nverify); });
  d.Step("verification with the reference: started", [&] {
    auto* v = Modal<TFormVerify>();
    if (v == nullptr || !settled(5))
      return false;
    Press(v->BtnStart);
    return true;
  });
  d.Step("verification with the reference: shown", [&] {
    auto* v = Modal<TFormVerify>();
    if (v == nullptr || !v->current() || !settled(5))
      return false;
    d.Save(v, "25-verification-reference");
    Press(v->BtnClose);
    return true;
  });
  d.Step("verification with the reference: cancel", [&] {
    auto* q = Modal<TFormQues>();
    if (q == nullptr)
      return false;
    Press(q->BitBtn1);
    return true;
  });
  d.Step("close", [&] {
    if (QApplication::activeModalWidget() != nullptr)
      return false;
    Later([&] { window.close(); });
    return true;
  });
  d.Step("service question", [&] {
    auto* q = Modal<TFormQues>();
    if (q == nullptr || !settled(5))
      return false;
    d.Save(q, "19-question");
    Press(q->BitBtn1);
    return true;
  });
  d.Step("closed", [&] {
    if (window.isVisible())
      return false;
    QApplication::exit(0);
    return true;
  });

  d.Start();
  const int code = app.exec();
  server.Stop();
  reference_server.Stop();
  return code != 0 || d.failed() ? 1 : 0;
}
