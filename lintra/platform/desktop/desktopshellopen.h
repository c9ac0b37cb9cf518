#pragma once

#include "shellopen.h"

#include <functional>

class MessageBox;
class QUrl;

// Opens a file with the desktop's registered viewer and does not wait for
// it. When no viewer can be started at all, a box says what to install:
// otherwise the failure would reach standard error only.
class DesktopShellOpen final : public ShellOpen
{
public:
    // Starts the viewer; false when it could not. Tests pass a failing one.
    using Opener = std::function<bool(const QUrl &)>;

    explicit DesktopShellOpen(MessageBox &box, Opener opener = {});
    void open(const QString &path) override;

private:
    MessageBox &m_box;
    Opener m_opener;
};
