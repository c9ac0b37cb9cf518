#pragma once

#include <QString>

// Opens a document with the desktop's registered viewer, without waiting for
// it. Replaced by a recording fake in tests.
class ShellOpen
{
public:
    virtual ~ShellOpen() = default;
    virtual void open(const QString &path) = 0;
};
