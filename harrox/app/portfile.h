#pragma once

#include <QHostAddress>
#include <QString>

// --port-file: how a script or a test that started harrox learns where it
// serves without reading its log. Written whole once harrox listens, as
// "address:port" (an IPv6 address in brackets), and removed at a clean stop,
// so that the file standing there means "serving".
class PortFile
{
public:
    // An empty path: no file.
    explicit PortFile(QString path) : m_path(std::move(path)) { }
    ~PortFile();
    PortFile(const PortFile &) = delete;
    PortFile &operator=(const PortFile &) = delete;

    bool write(const QHostAddress &address, quint16 port);
    QString errorString() const { return m_error; }

private:
    QString m_path;
    QString m_error;
    bool m_written = false;
};
