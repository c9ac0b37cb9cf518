#pragma once

#include "allowlist.h"
#include "chatroom.h"
#include "postbudget.h"
#include "replypacer.h"
#include "serversettings.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

// The command line of harrox.
class ServerOptions
{
public:
    enum class Action { Run, Backup, ImportSqlite, CheckConfig, Status, ShowHelp, ShowVersion, Fail };

    static constexpr quint16 DefaultPort = ServerSettings::DefaultPort;
    // Open files that are not clients: the database, its journal and shared
    // memory, the listening socket, the signal watcher, standard streams and
    // what Qt and SQLite open on the side.
    static constexpr int ReservedFiles = 64;
    static constexpr int DefaultMaxPerHost = ServerSettings::DefaultMaxPerHost;
    static constexpr int DefaultRequestTimeoutMs = ServerSettings::DefaultRequestTimeoutMs;
    static constexpr int KiB = 1024;
    // Servers sharing a conversation: each beats this often, and one whose
    // last beat is older than the expiry is taken for dead with its members.
    static constexpr int DefaultBeatMs = 1000;
    static constexpr int DefaultExpiryMs = 3000;
    // With --postgres, the most a post waits on the database before it is
    // refused; the database's own bounds on harrox's sessions follow from it.
    // Two of them, a post queued behind one that waits it out, stay within
    // 10 s.
    static constexpr int DefaultDbTimeoutMs = 4000;

    // arguments[0] is the program name. On ShowHelp, ShowVersion and Fail,
    // message() holds what to print.
    Action parse(const QStringList &arguments);

    QString message() const { return m_message; }
    QHostAddress listenAddress() const { return m_listen; }
    quint16 port() const { return m_port; }
    QString databasePath() const { return m_database; }
    const AllowList &allowList() const { return m_allow; }
    // --max-clients, or what the open-file limit allows.
    int maxClients() const { return m_maxClients > 0 ? m_maxClients : m_fileLimitClients; }
    // Lowers a --max-clients beyond what the limit allows, so that accepting
    // never runs out of descriptors; returns what to log about it, if anything.
    QString setOpenFileLimit(qint64 files);
    int maxPerHost() const { return m_maxPerHost; }
    int requestTimeoutMs() const { return m_requestTimeoutMs; }
    bool live() const { return m_live; }
    qint64 pushBytesPerSecond() const { return m_pushKibPerSecond * KiB; }
    int replyGapMs() const { return m_replyGapMs; }
    QString backupPath() const { return m_backup; }
    // A libpq connection string; empty: the SQLite database.
    QString postgres() const { return m_postgres; }
    QString importPath() const { return m_import; }
    int beatMs() const { return m_beatMs; }
    int expiryMs() const { return m_expiryMs; }
    // --config, empty without one.
    QString configPath() const { return m_config; }
    // --port-file, empty without one.
    QString portFile() const { return m_portFile; }
    // --status-socket, empty without one.
    QString statusSocket() const { return m_statusSocket; }
    // info, warning or error.
    QString logLevel() const { return m_logLevel; }
    // On a reload: takes from fresh what can change while clients stay
    // connected (the allow-list, the client limits, the request time-out,
    // the log level, the posting budgets, the reply cache) and names what
    // changed but needs a restart.
    QStringList takeReloadable(const ServerOptions &fresh);
    int dbTimeoutMs() const { return m_dbTimeoutMs; }
    // What the server itself is told.
    ServerSettings serverSettings() const;
    // What was taken but is likely a mistake: an allow-list that lets in
    // everyone, a listening address no Lintra reaches.
    QStringList warnings() const;
    PostBudget::Limits postBudget() const { return m_budget; }
    qint64 replyCacheBytes() const { return m_replyCacheMib * MiB; }
    // 0: kept however old, however large.
    int keepDays() const { return m_keepDays; }
    qint64 keepBytes() const { return m_keepMib * MiB; }
    static constexpr qint64 MiB = 1024 * 1024;

    // $XDG_DATA_HOME/harrox/harrox.db, or ~/.local/share/harrox/harrox.db.
    static QString defaultDatabasePath();
    static QString versionText();

private:
    Action fail(const QString &why);

    QString m_message;
    QHostAddress m_listen{QHostAddress::AnyIPv4};
    QString m_listenWarning;
    quint16 m_port = DefaultPort;
    QString m_database;
    AllowList m_allow;
    int m_maxClients = 0;
    int m_fileLimitClients = 1024 - ReservedFiles;
    int m_maxPerHost = DefaultMaxPerHost;
    QString m_backup;
    int m_requestTimeoutMs = DefaultRequestTimeoutMs;
    bool m_live = true;
    qint64 m_pushKibPerSecond = ReplyPacer::DefaultPushBytesPerSecond / KiB;
    int m_replyGapMs = ChatProtocol::ReplyGapMs;
    QString m_postgres;
    QString m_import;
    int m_beatMs = DefaultBeatMs;
    int m_expiryMs = DefaultExpiryMs;
    QString m_config;
    QString m_statusSocket;
    QString m_portFile;
    QString m_logLevel = QStringLiteral("info");
    int m_dbTimeoutMs = DefaultDbTimeoutMs;
    PostBudget::Limits m_budget;
    qint64 m_replyCacheMib = ChatRoom::DefaultCacheBytes / MiB;
    qint64 m_queueMib = ServerSettings::DefaultQueuedBytes / MiB;
    int m_keepDays = 0;
    qint64 m_keepMib = 0;
};
