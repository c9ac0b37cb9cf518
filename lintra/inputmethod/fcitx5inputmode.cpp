#include "fcitx5inputmode.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const QString Service = QStringLiteral("org.fcitx.Fcitx5");
const QString Path = QStringLiteral("/controller");
const QString Interface = QStringLiteral("org.fcitx.Fcitx.Controller1");

} // namespace

Fcitx5InputMode::Fcitx5InputMode(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    if (!m_bus.isConnected())
        return; // no session bus: never anything to ask
    m_watcher.setConnection(m_bus);
    m_watcher.setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
    m_watcher.addWatchedService(Service);
    connect(&m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &newOwner) {
                m_present = !newOwner.isEmpty();
            });

    // Whether it runs already, learned without waiting. The bus answers
    // after it has taken the watch, so no change falls between the two.
    QDBusMessage ask = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << Service;
    auto *answer = new QDBusPendingCallWatcher(m_bus.asyncCall(ask), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<bool> reply = *w;
        if (reply.isValid())
            m_present = reply.value();
        w->deleteLater();
    });
}

void Fcitx5InputMode::request(Mode mode)
{
    if (!m_present)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
            Service, Path, Interface,
            mode == Mode::Hiragana ? QStringLiteral("Activate") : QStringLiteral("Deactivate"));
    call.setAutoStartService(false);
    m_bus.send(call); // a framework that hangs must not hold the window
}
