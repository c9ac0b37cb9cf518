#pragma once

#include "destinations/pciprecord.h"

// A destination record as the editor would write it.
inline PCIPRecord destination(VBBoolean tryConnect, const QString &name, const QString &address)
{
    PCIPRecord r;
    r.TryConnect = tryConnect;
    r.setName(name);
    r.setAddress(address);
    return r;
}
