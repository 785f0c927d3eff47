#include "dialogs/measurement/ask_val.h"
