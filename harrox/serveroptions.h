#pragma once

#include "allowlist.h"
#include "replypacer.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

// The command line of harrox.
class ServerOptions
{
public:
    enum class Action { Run, ShowHelp, ShowVersion, Fail };

    static constexpr quint16 DefaultPort = 5001;
    static constexpr int DefaultMaxClients = 500;
    // How long a partly received request may wait for the rest.
    static constexpr int DefaultRequestTimeoutMs = 5000;
    static constexpr int KiB = 1024;

    // arguments[0] is the program name. On ShowHelp, ShowVersion and Fail,
    // message() holds what to print.
    Action parse(const QStringList &arguments);

    QString message() const { return m_message; }
    QHostAddress listenAddress() const { return m_listen; }
    quint16 port() const { return m_port; }
    QString databasePath() const { return m_database; }
    const AllowList &allowList() const { return m_allow; }
    int maxClients() const { return m_maxClients; }
    int requestTimeoutMs() const { return m_requestTimeoutMs; }
    bool live() const { return m_live; }
    qint64 pushBytesPerSecond() const { return m_pushKibPerSecond * KiB; }
    int replyGapMs() const { return m_replyGapMs; }

    // $XDG_DATA_HOME/harrox/harrox.db, or ~/.local/share/harrox/harrox.db.
    static QString defaultDatabasePath();
    static QString versionText();

private:
    Action fail(const QString &why);

    QString m_message;
    QHostAddress m_listen{QHostAddress::AnyIPv4};
    quint16 m_port = DefaultPort;
    QString m_database;
    AllowList m_allow;
    int m_maxClients = DefaultMaxClients;
    int m_requestTimeoutMs = DefaultRequestTimeoutMs;
    bool m_live = true;
    qint64 m_pushKibPerSecond = ReplyPacer::DefaultPushBytesPerSecond / KiB;
    int m_replyGapMs = ChatProtocol::ReplyGapMs;
};
