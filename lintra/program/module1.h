#pragma once

#include "pciprecord.h"

#include <QString>

// The state the windows share for the whole run, zero at start.
struct Module1
{
    PCIPRecord PCIPBuffer; // the one record buffer of PCIP.dat
    qint16 DisplayFontSize = 0; // 18, 14 or 9 once the main window has loaded
    // The destination list, by its bare name: in the folder the program works in.
    QString PCIPPath = QStringLiteral("PCIP.dat");
};
