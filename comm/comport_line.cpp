#include "comm/comport_line.h"
