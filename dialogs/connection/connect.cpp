#include "dialogs/connection/connect.h"
