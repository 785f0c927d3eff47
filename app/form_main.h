#pragma once

#include <QDateTime>
#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

#include "app/qt_ui_services.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QStatusBar;
class UiServices;
class OuterGeometry;

// The date of the executable file as the title shows it: dd.mm.yy, then a blank and hh:mm:ss
// unless the stamp is midnight to the second.
QString FileStampText(const QDateTime& stamp);
// The main window's title for the executable's modification stamp.
QString MainWindowTitle(const QDateTime& exe_stamp);
// Status panel 0: port and line rate.
QString PortStatusText(int port, int rate);
// The full stop as the decimal separator for the whole run, in Qt and in the C library.
// Call after the application object exists: it sets the C library's locale from the
// environment when it is created.
void UseFullStopDecimalSeparator();

// The program's one permanent window: the menu of commands, the status bar and the state of
// the link to the device.
class TFormMain : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kWidth = 890;
  static constexpr int kHeight = 580;
  static constexpr std::array<int, 3> kPanelDesignWidths = {150, 500, 60};
  // Panel 1 leaves this much of the status bar beside panel 0.
  static constexpr int kPanel1Allowance = 95;

  explicit TFormMain(UiServices& ui, QWidget* parent = nullptr);
  ~TFormMain() override;

  QFrame* Panel1;
  QStatusBar* StatusBar1;
  std::array<QLabel*, 3> status_panels{};  // StatusBar1's panels 0, 1, 2
  QMenu* N4;
  QAction* Nexit;
  QMenu* Nconn;
  QAction* N1;  // data 0: pressure
  QAction* N2;  // data 1: temperature
  QAction* Nval;
  QAction* Nclb;

  // The serviced channel (0 pressure, 1 temperature) and the sensor's calibration as last
  // read; cleared together at the start of every connection attempt.
  uint8_t Channel = 0;
  float SensorOffset = 0.0f;
  float SensorSlope = 0.0f;
  // The folder of the executable, with a trailing separator.
  QString ExeFolder;

  // Panel 2, where the exchanges report their activity.
  StatusPanel& ExchangePanel() { return *exchange_panel_; }

 public slots:
  // The connection command for the channel in the data of the action that sent it.
  void NConnClick();
  // The values command.
  void NvalClick();
  // The two-point calibration command.
  void NclbClick();
  void NexitClick();
  // Takes the current link down; the measuring commands are disabled afterwards.
  void CloseConnection();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void FormClose();
  void StartConnection(uint8_t channel);

  UiServices& ui_;
  std::unique_ptr<QtStatusPanel> exchange_panel_;
  OuterGeometry* geometry_;
  bool shown_ = false;
};

// Refers to the main window while it exists.
extern TFormMain* FormMain;
