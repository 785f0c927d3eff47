#include "app/number_format.h"
