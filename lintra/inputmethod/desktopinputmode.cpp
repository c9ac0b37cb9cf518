#include "desktopinputmode.h"

#include "fcitx5inputmode.h"
#include "ibusinputmode.h"

#include <QGuiApplication>

namespace {

const QString IBusConnectionName = QStringLiteral("lintra-ibus");

bool platformHasInputMethods()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

} // namespace

DesktopInputMode::DesktopInputMode()
{
    if (!platformHasInputMethods())
        return;
    m_frameworks.push_back(std::make_unique<Fcitx5InputMode>(QDBusConnection::sessionBus()));
    const QString ibus = IBusInputMode::address();
    if (!ibus.isEmpty())
        m_frameworks.push_back(std::make_unique<IBusInputMode>(
                QDBusConnection::connectToBus(ibus, IBusConnectionName)));
}

DesktopInputMode::~DesktopInputMode()
{
    m_frameworks.clear();
    QDBusConnection::disconnectFromBus(IBusConnectionName);
}

void DesktopInputMode::request(Mode mode)
{
    for (const auto &framework : m_frameworks)
        framework->request(mode);
}
