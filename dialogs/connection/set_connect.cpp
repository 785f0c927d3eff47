#include "dialogs/connection/set_connect.h"
