#include "log/logsenderinterface.h"
