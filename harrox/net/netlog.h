#pragma once

#include <QLoggingCategory>

// What the net layer logs: the sockets, the poller and accepting. Filtered by --log-level with the
// rest.
Q_DECLARE_LOGGING_CATEGORY(lcNet)
