#include "portfile.h"

#include <QFile>
#include <QSaveFile>

namespace {
QString text(const QHostAddress &address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
            ? QStringLiteral("[%1]").arg(address.toString())
            : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}
} // namespace

PortFile::~PortFile()
{
    if (m_written)
        QFile::remove(m_path);
}

bool PortFile::write(const QHostAddress &address, quint16 port)
{
    if (m_path.isEmpty())
        return true;
    // Renamed into place: a reader never sees half a line.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text(address, port).toUtf8() + '\n') < 0
        || !file.commit()) {
        m_error = file.errorString();
        return false;
    }
    m_written = true;
    return true;
}
