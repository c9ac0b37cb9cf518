#pragma once

#include "inputmode.h"

#include <QDBusConnection>
#include <QString>

// IBus, on the bus of its own daemon. The engine is global to the desktop
// by default: Mozc for hiragana, the Japanese keyboard layout for off.
// Nothing is asked when the bus could not be reached; no reply is waited for.
class IBusInputMode final : public InputMode
{
public:
    explicit IBusInputMode(const QDBusConnection &ibusBus);

    void request(Mode mode) override;

    // The address of the running IBus, or empty: IBUS_ADDRESS, else the
    // file that ibus-daemon writes for this display.
    static QString address();

private:
    QDBusConnection m_bus;
};
