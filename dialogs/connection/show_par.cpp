#include "dialogs/connection/show_par.h"
