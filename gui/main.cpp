#include <QApplication>
#include <QTranslator>

#include "gui/form_main.h"
#include "gui/qt_exchange_host.h"
#include "gui/qt_translations.h"
#include "gui/termination.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  UseFullStopDecimalSeparator();
  QTranslator qt_texts;
  LoadQtTranslations(qt_texts);

  QtExchangeHost ui;
  TFormMain window(ui);
  ui.SetDialogParent(&window);
  // A termination request (logout, Ctrl+C in the terminal, a script stopping the demo) ends
  // what runs as cancelled and takes the link down properly before the window closes.
  OnTerminationRequest(&window, [&window] { window.RequestTermination(); });
  window.show();
  return app.exec();
}
