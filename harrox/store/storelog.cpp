#include "storelog.h"

Q_LOGGING_CATEGORY(lcStore, "harrox.store")
