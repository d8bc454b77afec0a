#include "Log.h"

Q_LOGGING_CATEGORY(halvikLog, "halvik")
