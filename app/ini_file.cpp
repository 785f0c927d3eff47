#include "app/ini_file.h"
