#include "ibusinputmode.h"

#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {

const QString Service = QStringLiteral("org.freedesktop.IBus");
const QString Path = QStringLiteral("/org/freedesktop/IBus");
const QString HiraganaEngine = QStringLiteral("mozc-jp");
const QString OffEngine = QStringLiteral("xkb:jp::jpn"); // the Japanese keyboard layout
const QByteArray AddressKey = QByteArrayLiteral("IBUS_ADDRESS=");
constexpr qint64 AddressFileLimit = 4096; // a few lines; anything longer is not ours

// ibus-daemon names its file <machine-id>-<host>-<display number>, as
// "…-unix-0" for DISPLAY=:0 and "…-unix-wayland-0" on Wayland.
QString addressFileName()
{
    QString host = QStringLiteral("unix");
    QString number = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (number.isEmpty()) {
        const QString display = qEnvironmentVariable("DISPLAY");
        const qsizetype colon = display.indexOf(u':');
        if (colon < 0)
            return {};
        if (colon > 0)
            host = display.left(colon);
        number = display.mid(colon + 1).section(u'.', 0, 0);
    }
    return QString::fromLatin1(QDBusConnection::localMachineId()) + u'-' + host + u'-' + number;
}

} // namespace

IBusInputMode::IBusInputMode(const QDBusConnection &ibusBus) : m_bus(ibusBus) { }

void IBusInputMode::request(Mode mode)
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage call =
            QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("SetGlobalEngine"));
    call << (mode == Mode::Hiragana ? HiraganaEngine : OffEngine);
    call.setAutoStartService(false);
    m_bus.send(call); // never waited for
}

QString IBusInputMode::address()
{
    const QString given = qEnvironmentVariable("IBUS_ADDRESS");
    if (!given.isEmpty())
        return given;
    QString path = qEnvironmentVariable("IBUS_ADDRESS_FILE");
    if (path.isEmpty()) {
        const QString name = addressFileName();
        if (name.isEmpty())
            return {};
        path = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                       .filePath(QStringLiteral("ibus/bus/") + name);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : file.read(AddressFileLimit).split('\n')) {
        if (line.startsWith(AddressKey))
            return QString::fromUtf8(line.mid(AddressKey.size()).trimmed());
    }
    return {};
}
