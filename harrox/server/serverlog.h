#pragma once

#include <QLoggingCategory>

// What the server layer logs: admission, connections and replies. Filtered by --log-level with the
// rest.
Q_DECLARE_LOGGING_CATEGORY(lcServer)
