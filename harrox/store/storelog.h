#pragma once

#include <QLoggingCategory>

// What the store layer logs: the databases. Filtered by --log-level with the rest.
Q_DECLARE_LOGGING_CATEGORY(lcStore)
