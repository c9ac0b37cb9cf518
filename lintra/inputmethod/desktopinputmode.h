#pragma once

#include "inputmode.h"

#include <memory>
#include <vector>

// The input-method frameworks of a Linux desktop, looked for once at start:
// fcitx5 on the session bus and IBus on its own bus. Each is asked only
// while it is there. On the offscreen and minimal platforms, where no input
// method serves the window, nothing is looked for and nothing asked.
class DesktopInputMode final : public InputMode
{
public:
    DesktopInputMode();
    ~DesktopInputMode() override;

    void request(Mode mode) override;

private:
    std::vector<std::unique_ptr<InputMode>> m_frameworks;
};
