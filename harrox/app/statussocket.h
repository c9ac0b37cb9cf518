#pragma once

#include <QLocalServer>

#include <functional>

// A local socket that answers an administrator's `harrox --status` with the
// server's state and who is connected from where, then closes. Only the
// server's own user and root may connect to it.
class StatusSocket : public QObject
{
    Q_OBJECT

public:
    explicit StatusSocket(std::function<QString()> report, QObject *parent = nullptr);

    bool listen(const QString &path);
    QString errorString() const { return m_server.errorString(); }

    // Where a service's socket is: in the runtime directory systemd made for
    // it, else /run/harrox. Empty for the server when systemd made none.
    static QString servicePath();
    static constexpr const char *FallbackPath = "/run/harrox/harrox.sock";
    // The client's side: what the server at path says within withinMs. A
    // server that accepts and then says nothing must not hang the command.
    static constexpr int AnswerWaitMs = 5000;
    static bool ask(const QString &path, QString *answer, int withinMs = AnswerWaitMs);

private:
    void answer();

    QLocalServer m_server;
    std::function<QString()> m_report;
};
