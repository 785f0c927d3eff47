#include "comm/calcbox.h"
