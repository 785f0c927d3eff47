#include <QApplication>

#include "app/form_main.h"
#include "app/qt_ui_services.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  UseFullStopDecimalSeparator();

  QtUiServices ui;
  TFormMain window(ui);
  ui.SetDialogParent(&window);
  window.show();
  return app.exec();
}
