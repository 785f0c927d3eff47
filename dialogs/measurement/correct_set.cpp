#include "dialogs/measurement/correct_set.h"
