#include "app/settings_location.h"
