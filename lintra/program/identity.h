#pragma once

#include "version.h"

#include <QString>

// What the program says of itself.
namespace Identity {

inline QString applicationName()
{
    return QStringLiteral("Lintra");
}

// "2.00.0043": major, two-digit minor, four-digit revision.
inline QString version()
{
    return QStringLiteral("%1.%2.%3")
            .arg(Version::Major)
            .arg(Version::Minor, 2, 10, QLatin1Char('0'))
            .arg(Version::Revision, 4, 10, QLatin1Char('0'));
}

} // namespace Identity
