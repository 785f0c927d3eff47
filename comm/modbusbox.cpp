#include "comm/modbusbox.h"
