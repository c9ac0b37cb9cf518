#pragma once

#include <QLoggingCategory>

// What the app layer logs: starting, reloading and stopping. Filtered by --log-level with the rest.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
