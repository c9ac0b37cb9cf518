#pragma once

#include "destinations/pciprecord.h"

// The state the windows share for the whole run, zero at start.
struct Module1
{
    PCIPRecord PCIPBuffer;       // the one record buffer of PCIP.dat
    qint16 DisplayFontSize = 0;  // 18, 14 or 9 once the main window has loaded
};
