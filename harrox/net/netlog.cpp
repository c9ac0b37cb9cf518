#include "netlog.h"

Q_LOGGING_CATEGORY(lcNet, "harrox.net")
