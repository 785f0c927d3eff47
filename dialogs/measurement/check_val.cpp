#include "dialogs/measurement/check_val.h"
