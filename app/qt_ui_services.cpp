#include "app/qt_ui_services.h"
