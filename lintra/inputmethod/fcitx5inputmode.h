#pragma once

#include "inputmode.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>

// fcitx5 on the session bus. Its controller switches the input context that
// has the focus: Activate turns on the first input method after the
// keyboard (Mozc, which starts in hiragana), Deactivate goes back to the
// keyboard. Calls go out only while the service has an owner, and no reply
// is waited for.
class Fcitx5InputMode final : public QObject, public InputMode
{
    Q_OBJECT

public:
    explicit Fcitx5InputMode(const QDBusConnection &bus, QObject *parent = nullptr);

    void request(Mode mode) override;
    // Whether fcitx5 was last seen on the bus.
    bool isPresent() const { return m_present; }

private:
    QDBusConnection m_bus;
    QDBusServiceWatcher m_watcher;
    bool m_present = false;
};
