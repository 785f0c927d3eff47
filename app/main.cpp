#include <QApplication>

#include "app/form_main.h"
#include "app/qt_ui_services.h"
#include "app/termination.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  UseFullStopDecimalSeparator();

  QtUiServices ui;
  TFormMain window(ui);
  ui.SetDialogParent(&window);
  // A termination request (logout, Ctrl+C in the terminal, a script stopping the demo) closes
  // the window as "Вихід" does, so the link is taken down properly.
  CloseOnTerminationRequest(&window);
  window.show();
  return app.exec();
}
