#include "comm/comportfunctions.h"
