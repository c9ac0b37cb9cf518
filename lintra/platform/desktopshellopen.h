#pragma once

#include "platform/shellopen.h"

// Opens a file with the desktop's registered viewer; does not wait for it
// and does not look at the result.
class DesktopShellOpen final : public ShellOpen
{
public:
    void open(const QString &path) override;
};
