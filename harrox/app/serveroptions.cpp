#include "serveroptions.h"

#include "configfile.h"
#include "statussocket.h"

#include <QCommandLineParser>
#include <QStandardPaths>

#include <algorithm>
#include <climits>
#include <functional>

namespace {
constexpr int MaxPort = 65535;
constexpr int MaxRequestTimeoutMs = 3600 * 1000;
constexpr int MaxReplyGapMs = 10 * 1000;
constexpr qint64 MaxPushKibPerSecond = 1024 * 1024 * 1024;
constexpr int MaxPostsPerMinute = 1000 * 1000;
constexpr qint64 MaxKibPerMinute = 1024 * 1024 * 1024;
constexpr int MaxHostFactor = 100 * 1000;
constexpr qint64 MaxMib = 1024 * 1024 * 1024;
constexpr int MaxKeepDays = 100 * 366;
// A transaction idle a quarter of it is ended: below this a busy machine's
// own posts would be.
constexpr int MinDbTimeoutMs = 400;
} // namespace

ServerOptions::Action ServerOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
            QStringLiteral("Harrox: the chat server of the Lintra clients on a LAN."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version."));
    const QCommandLineOption listen(
            QStringLiteral("listen"),
            QStringLiteral("Address to listen on (default: all IPv4; \"::\": all IPv4 and IPv6)."),
            QStringLiteral("addr"));
    const QCommandLineOption port(
            QStringLiteral("port"),
            QStringLiteral("TCP port (default %1; 0 picks a free one).").arg(DefaultPort),
            QStringLiteral("n"));
    const QCommandLineOption portFile(
            QStringLiteral("port-file"),
            QStringLiteral("Once listening, write the address and port to this file (e.g. "
                           "127.0.0.1:5001); removed at a clean stop."),
            QStringLiteral("path"));
    const QCommandLineOption db(
            QStringLiteral("db"),
            QStringLiteral("Conversation database (default %1).").arg(defaultDatabasePath()),
            QStringLiteral("path"));
    const QCommandLineOption allow(
            QStringLiteral("allow"),
            QStringLiteral("Accept peers in this network; repeatable (default: %1).")
                    .arg(AllowList::lanDefaultRanges().join(QStringLiteral(", "))),
            QStringLiteral("cidr"));
    const QCommandLineOption maxClients(
            QStringLiteral("max-clients"),
            QStringLiteral("Most connections at once (default: the open-file limit, raised to its "
                           "hard limit, less %1).")
                    .arg(ReservedFiles),
            QStringLiteral("n"));
    const QCommandLineOption maxPerHost(
            QStringLiteral("max-per-host"),
            QStringLiteral("Most connections from one address (default %1).").arg(DefaultMaxPerHost),
            QStringLiteral("n"));
    const QCommandLineOption backup(
            QStringLiteral("backup"),
            QStringLiteral("Copy the database, also while a server uses it, to a new file, and exit."),
            QStringLiteral("file"));
    const QCommandLineOption requestTimeout(
            QStringLiteral("request-timeout"),
            QStringLiteral("Milliseconds from a request's first byte to its last, and from "
                           "connecting to the first request (default %1).")
                    .arg(DefaultRequestTimeoutMs),
            QStringLiteral("ms"));
    const QCommandLineOption noLive(
            QStringLiteral("no-live"),
            QStringLiteral("Answer requests only; do not send each joined client the conversation "
                           "when it changes."));
    const QCommandLineOption pushRate(
            QStringLiteral("push-rate"),
            QStringLiteral("KiB per second that live delivery may send in all (default %1).")
                    .arg(m_pushKibPerSecond),
            QStringLiteral("kib"));
    const QCommandLineOption replyGap(
            QStringLiteral("reply-gap"),
            QStringLiteral(
                    "Least milliseconds between two replies to one client, from when it "
                    "has taken the first (default %1; less lets a client take two replies as one).")
                    .arg(ChatProtocol::ReplyGapMs),
            QStringLiteral("ms"));
    const QCommandLineOption postgres(
            QStringLiteral("postgres"),
            QStringLiteral("Keep the conversation and the members in PostgreSQL instead of --db, "
                           "shared with every server given the same database (a libpq "
                           "connection string, e.g. \"host=db1 dbname=harrox user=harrox\")."),
            QStringLiteral("conninfo"));
    const QCommandLineOption importSqlite(
            QStringLiteral("import-sqlite"),
            QStringLiteral("Copy the conversation of this SQLite database into --postgres, and exit."),
            QStringLiteral("file"));
    const QCommandLineOption beat(
            QStringLiteral("beat"),
            QStringLiteral("With --postgres: milliseconds between heartbeats (default %1).")
                    .arg(DefaultBeatMs),
            QStringLiteral("ms"));
    const QCommandLineOption expiry(
            QStringLiteral("expiry"),
            QStringLiteral("With --postgres: a server silent this many milliseconds is dropped "
                           "with its members (default %1).")
                    .arg(DefaultExpiryMs),
            QStringLiteral("ms"));
    const QCommandLineOption dbTimeout(
            QStringLiteral("db-timeout"),
            QStringLiteral("With --postgres: milliseconds a post may wait on the database before it "
                           "is refused (default %1).")
                    .arg(DefaultDbTimeoutMs),
            QStringLiteral("ms"));
    const QCommandLineOption postsPerMinute(
            QStringLiteral("posts-per-minute"),
            QStringLiteral("Posts and renames a member may send a minute, a third of them at once "
                           "(default %1; 0: not counted).")
                    .arg(PostBudget::DefaultPostsPerMinute),
            QStringLiteral("n"));
    const QCommandLineOption kibPerMinute(
            QStringLiteral("kib-per-minute"),
            QStringLiteral("KiB of posts and renames a member may send a minute, a third of them at "
                           "once (default %1; 0: not counted).")
                    .arg(PostBudget::DefaultBytesPerMinute / KiB),
            QStringLiteral("kib"));
    const QCommandLineOption hostBudget(
            QStringLiteral("host-budget"),
            QStringLiteral("The members of one address may send together this many times a "
                           "member's budget (default %1; 0: no budget per address).")
                    .arg(PostBudget::DefaultHostFactor),
            QStringLiteral("n"));
    const QCommandLineOption replyCache(
            QStringLiteral("reply-cache-mib"),
            QStringLiteral("MiB of rendered replies kept for the clients asking the same (default %1).")
                    .arg(ChatRoom::DefaultCacheBytes / MiB),
            QStringLiteral("mib"));
    const QCommandLineOption queue(
            QStringLiteral("queue-mib"),
            QStringLiteral("MiB of replies queued for all clients together; past it a long reply "
                           "waits until others are taken (default %1).")
                    .arg(ServerSettings::DefaultQueuedBytes / MiB),
            QStringLiteral("mib"));
    const QCommandLineOption keepDays(
            QStringLiteral("keep-days"),
            QStringLiteral("Remove messages older than this many days from the database (default 0: "
                           "keep them)."),
            QStringLiteral("n"));
    const QCommandLineOption keepMib(
            QStringLiteral("keep-mib"),
            QStringLiteral("Remove the oldest messages while they hold more than this many MiB "
                           "(default 0: no bound)."),
            QStringLiteral("mib"));
    const QCommandLineOption config(
            QStringLiteral("config"),
            QStringLiteral("Read these options from a file first, one a line as \"name = value\" "
                           "(the command line overrides it)."),
            QStringLiteral("file"));
    const QCommandLineOption checkConfig(
            QStringLiteral("check-config"),
            QStringLiteral("Check the file and the command line, say what is wrong, and exit."));
    const QCommandLineOption logLevel(
            QStringLiteral("log-level"),
            QStringLiteral("What to log: info (default: joins, leaves and everything below), "
                           "warning or error."),
            QStringLiteral("level"));
    const QCommandLineOption status(
            QStringLiteral("status"),
            QStringLiteral("Ask the running server who is connected from where, and exit."));
    const QCommandLineOption statusSocket(
            QStringLiteral("status-socket"),
            QStringLiteral("The local socket that --status asks (default %1; a service "
                           "serves it in its runtime directory).")
                    .arg(QLatin1String(StatusSocket::FallbackPath)),
            QStringLiteral("path"));
    // What a configuration file may set: the server's settings, not one-off commands.
    const QList<QCommandLineOption> settings{
            listen,       port,           portFile,   db,       allow,        maxClients,
            maxPerHost,   requestTimeout, noLive,     pushRate, replyGap,     postgres,
            beat,         expiry,         dbTimeout,  logLevel, statusSocket, postsPerMinute,
            kibPerMinute, hostBudget,     replyCache, queue,    keepDays,     keepMib};
    const QList<QCommandLineOption> commands{config, checkConfig, status, backup, importSqlite};
    parser.addOptions({help, version});
    parser.addOptions(settings);
    parser.addOptions(commands);

    QStringList effective = arguments;
    {
        // The command line alone first: which file, and what it overrides.
        QCommandLineParser commandLine;
        commandLine.addOptions({help, version});
        commandLine.addOptions(settings);
        commandLine.addOptions(commands);
        if (commandLine.parse(arguments) && commandLine.isSet(config) && !commandLine.isSet(help)) {
            m_config = commandLine.value(config);
            QString error;
            const QStringList fromFile =
                    ConfigFile::read(m_config, settings, commandLine.optionNames(), &error);
            if (!error.isEmpty())
                return fail(error);
            effective = arguments.mid(0, 1) + fromFile + arguments.mid(1);
        }
    }
    if (!parser.parse(effective))
        return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail(
                QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first()));
    // Only --allow adds up; any other option given twice is a mistake that
    // taking the last one would hide (two --listen serve one address).
    const QStringList found = parser.optionNames();
    for (const QString &name : found) {
        if (name != allow.names().constFirst() && found.count(name) > 1)
            return fail(QStringLiteral("--%1 given more than once").arg(name));
    }
    if (parser.isSet(help)) {
        m_message = parser.helpText();
        return Action::ShowHelp;
    }
    if (parser.isSet(version)) {
        m_message = versionText();
        return Action::ShowVersion;
    }

    if (parser.isSet(listen)) {
        m_listen = QHostAddress(parser.value(listen));
        if (m_listen.isNull())
            return fail(QStringLiteral("not an address: %1").arg(parser.value(listen)));
        // "::" also serves IPv4; any other IPv6 address cannot serve Lintra.
        quint32 v4 = 0;
        if (m_listen.protocol() == QAbstractSocket::IPv6Protocol && m_listen != QHostAddress::AnyIPv6
            && !AllowList::mappedIPv4(m_listen, &v4))
            m_listenWarning =
                    QStringLiteral(
                            "--listen %1 is IPv6 alone: Lintra, which connects over IPv4, cannot "
                            "reach it (\"::\" serves both)")
                            .arg(m_listen.toString());
    }
    // The whole numbers: each within its range, or named in the refusal.
    const struct
    {
        const QCommandLineOption &option;
        qint64 least;
        qint64 most;
        const char *what;
        std::function<void(qint64)> take;
    } numbers[] = {
            {port, 0, MaxPort, "a port", [&](qint64 n) { m_port = quint16(n); }},
            {maxClients, 1, INT_MAX, "a client count", [&](qint64 n) { m_maxClients = int(n); }},
            {maxPerHost, 1, INT_MAX, "a client count", [&](qint64 n) { m_maxPerHost = int(n); }},
            {requestTimeout, 1, MaxRequestTimeoutMs, "a timeout",
             [&](qint64 n) { m_requestTimeoutMs = int(n); }},
            {pushRate, 1, MaxPushKibPerSecond, "a push rate",
             [&](qint64 n) { m_pushKibPerSecond = n; }},
            {replyGap, 0, MaxReplyGapMs, "a reply gap", [&](qint64 n) { m_replyGapMs = int(n); }},
            {beat, 1, MaxRequestTimeoutMs, "a heartbeat", [&](qint64 n) { m_beatMs = int(n); }},
            // Any below the heartbeat is refused with both named, further down.
            {expiry, INT_MIN, MaxRequestTimeoutMs, "an expiry", [&](qint64 n) { m_expiryMs = int(n); }},
            {dbTimeout, MinDbTimeoutMs, MaxRequestTimeoutMs, "a database timeout",
             [&](qint64 n) { m_dbTimeoutMs = int(n); }},
            {postsPerMinute, 0, MaxPostsPerMinute, "a post count",
             [&](qint64 n) { m_budget.postsPerMinute = int(n); }},
            {kibPerMinute, 0, MaxKibPerMinute, "a KiB count",
             [&](qint64 n) { m_budget.bytesPerMinute = n * KiB; }},
            {hostBudget, 0, MaxHostFactor, "a factor", [&](qint64 n) { m_budget.hostFactor = int(n); }},
            {replyCache, 0, MaxMib, "a MiB count", [&](qint64 n) { m_replyCacheMib = n; }},
            {queue, 1, MaxMib, "a MiB count", [&](qint64 n) { m_queueMib = n; }},
            {keepDays, 0, MaxKeepDays, "a day count", [&](qint64 n) { m_keepDays = int(n); }},
            {keepMib, 0, MaxMib, "a MiB count", [&](qint64 n) { m_keepMib = n; }},
    };
    for (const auto &number : numbers) {
        if (!parser.isSet(number.option))
            continue;
        bool ok = false;
        const qint64 value = parser.value(number.option).toLongLong(&ok);
        if (!ok || value < number.least || value > number.most)
            return fail(QStringLiteral("not %1: %2")
                                .arg(QLatin1String(number.what), parser.value(number.option)));
        number.take(value);
    }
    m_portFile = parser.value(portFile);
    m_database = parser.isSet(db) ? parser.value(db) : defaultDatabasePath();
    if (m_database.isEmpty())
        return fail(QStringLiteral("no database path"));
    if (parser.isSet(allow)) {
        for (const QString &range : parser.values(allow)) {
            if (const QString refused = m_allow.add(range); !refused.isEmpty())
                return fail(refused);
        }
    } else {
        m_allow = AllowList::lanDefaults();
    }
    m_live = !parser.isSet(noLive);
    m_postgres = parser.value(postgres);
    if (parser.isSet(postgres) && m_postgres.isEmpty())
        return fail(QStringLiteral("no PostgreSQL connection string"));
    if (m_expiryMs <= m_beatMs)
        return fail(QStringLiteral("the expiry (%1 ms) must be longer than the heartbeat (%2 ms)")
                            .arg(m_expiryMs)
                            .arg(m_beatMs));
    m_logLevel = parser.isSet(logLevel) ? parser.value(logLevel) : QStringLiteral("info");
    if (!QStringList{QStringLiteral("info"), QStringLiteral("warning"), QStringLiteral("error")}
                 .contains(m_logLevel))
        return fail(QStringLiteral("not a log level: %1 (info, warning or error)").arg(m_logLevel));
    m_statusSocket = parser.value(statusSocket);
    if (parser.isSet(checkConfig))
        return Action::CheckConfig;
    if (parser.isSet(status))
        return Action::Status;
    m_import = parser.value(importSqlite);
    if (parser.isSet(importSqlite)) {
        if (m_postgres.isEmpty())
            return fail(QStringLiteral("--import-sqlite needs --postgres"));
        return Action::ImportSqlite;
    }
    m_backup = parser.value(backup);
    return parser.isSet(backup) ? Action::Backup : Action::Run;
}

QStringList ServerOptions::takeReloadable(const ServerOptions &fresh)
{
    m_allow = fresh.m_allow;
    m_maxClients = fresh.m_maxClients;
    m_maxPerHost = fresh.m_maxPerHost;
    m_requestTimeoutMs = fresh.m_requestTimeoutMs;
    m_logLevel = fresh.m_logLevel;
    m_budget = fresh.m_budget;
    m_replyCacheMib = fresh.m_replyCacheMib;
    m_queueMib = fresh.m_queueMib;
    QStringList restart;
    const auto differs = [&](bool changed, const char *name) {
        if (changed)
            restart.append(QString::fromLatin1(name));
    };
    differs(m_listen != fresh.m_listen, "listen");
    differs(m_port != fresh.m_port, "port");
    differs(m_portFile != fresh.m_portFile, "port-file");
    differs(m_database != fresh.m_database, "db");
    differs(m_postgres != fresh.m_postgres, "postgres");
    differs(m_live != fresh.m_live, "no-live");
    differs(m_pushKibPerSecond != fresh.m_pushKibPerSecond, "push-rate");
    differs(m_replyGapMs != fresh.m_replyGapMs, "reply-gap");
    differs(m_beatMs != fresh.m_beatMs || m_expiryMs != fresh.m_expiryMs, "beat/expiry");
    differs(m_dbTimeoutMs != fresh.m_dbTimeoutMs, "db-timeout");
    differs(m_keepDays != fresh.m_keepDays || m_keepMib != fresh.m_keepMib, "keep-days/keep-mib");
    return restart;
}

ServerSettings ServerOptions::serverSettings() const
{
    return {m_listen,
            m_port,
            m_allow,
            maxClients(),
            m_maxPerHost,
            m_requestTimeoutMs,
            {m_replyGapMs, pushBytesPerSecond(), m_live},
            m_budget,
            replyCacheBytes(),
            m_queueMib * MiB};
}

QStringList ServerOptions::warnings() const
{
    QStringList all = m_allow.warnings();
    if (!m_listenWarning.isEmpty())
        all.prepend(m_listenWarning);
    return all;
}

QString ServerOptions::setOpenFileLimit(qint64 files)
{
    m_fileLimitClients = int(std::clamp<qint64>(files - ReservedFiles, 1, INT_MAX));
    if (m_maxClients <= m_fileLimitClients)
        return {};
    const QString lowered = QStringLiteral("--max-clients %1 is more than the open-file limit of %2 "
                                           "allows: up to %3 clients")
                                    .arg(m_maxClients)
                                    .arg(files)
                                    .arg(m_fileLimitClients);
    m_maxClients = m_fileLimitClients;
    return lowered;
}

QString ServerOptions::defaultDatabasePath()
{
    // GenericDataLocation honours XDG_DATA_HOME.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base.isEmpty() ? QString() : base + QStringLiteral("/harrox/harrox.db");
}

QString ServerOptions::versionText()
{
    return QStringLiteral("harrox %1").arg(QStringLiteral(HARROX_VERSION));
}

ServerOptions::Action ServerOptions::fail(const QString &why)
{
    m_message = why;
    return Action::Fail;
}
