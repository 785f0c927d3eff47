#include "app/rd_wr_ini.h"
