#include "GlobalConfig.h"

GlobalConfig gConfig;
