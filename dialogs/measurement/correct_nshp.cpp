#include "dialogs/measurement/correct_nshp.h"
