#include "dialogs/connection/constpass.h"
