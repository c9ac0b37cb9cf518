#include "applog.h"
#include "chatroom.h"
#include "conversation.h"
#include "diskwatch.h"
#include "harroxserver.h"
#include "logformat.h"
#include "pgconnection.h"
#include "pgconversationstore.h"
#include "pgimport.h"
#include "portfile.h"
#include "retention.h"
#include "serveroptions.h"
#include "servicenotifier.h"
#include "sharedconversation.h"
#include "signalwatcher.h"
#include "sqliteconversationstore.h"
#include "statussocket.h"
#include "storewriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <climits>
#include <cstdio>
#include <memory>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {
constexpr int ExitUsage = 2;
constexpr int ExitFailure = 1;
constexpr int StatusIntervalMs = 5000;
// At a stop, what still waits on the database gets this long; a post not
// stored by then is not acknowledged.
constexpr int StopGraceMs = 1000;
// How often old messages are removed and the disk's room is looked at.
constexpr int HousekeepingIntervalMs = 60 * 1000;

// Every client is an open file: take all that the hard limit allows.
qint64 raiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? qint64(INT_MAX) : qint64(limit.rlim_cur);
}

// Sizes the client limit from the open-file limit, saying when it lowers
// what the administrator asked for.
void applyOpenFileLimit(ServerOptions &options)
{
    if (const QString lowered = options.setOpenFileLimit(raiseOpenFileLimit()); !lowered.isEmpty())
        qCWarning(lcApp, "%s", qUtf8Printable(lowered));
}

// The unit gives the PostgreSQL password as a credential (LoadCredential=
// pgpass:/etc/harrox/pgpass): a file for this service alone, never on a
// command line that ps shows. libpq reads it unless PGPASSFILE says otherwise.
void usePasswordCredential()
{
    const QString directory = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    const QString file = directory + QStringLiteral("/pgpass");
    if (!directory.isEmpty() && !qEnvironmentVariableIsSet("PGPASSFILE") && QFileInfo(file).isFile())
        qputenv("PGPASSFILE", QFile::encodeName(file));
}

// Who may connect, as it was understood.
void logPeers(const ServerOptions &options)
{
    qCInfo(lcApp, "accepting peers from %s",
           qUtf8Printable(options.allowList().ranges().join(QLatin1String(", "))));
    for (const QString &warning : options.warnings())
        qCWarning(lcApp, "%s", qUtf8Printable(warning));
}

int backup(const ServerOptions &options)
{
    QString error;
    if (!SqliteConversationStore::backup(options.databasePath(), options.backupPath(), &error)) {
        std::fprintf(stderr, "harrox: no backup of %s made: %s\n", qPrintable(options.databasePath()),
                     qPrintable(error));
        return ExitFailure;
    }
    std::printf("harrox: %s copied to %s\n", qPrintable(options.databasePath()),
                qPrintable(options.backupPath()));
    return 0;
}
int importSqlite(const ServerOptions &options)
{
    QString report;
    const bool ok = PgImport::run(options.importPath(), options.postgres(), &report);
    std::fprintf(ok ? stdout : stderr, "harrox: %s\n", qPrintable(report));
    return ok ? 0 : ExitFailure;
}

// The SQLite file of this server alone; null when it is refused.
std::unique_ptr<ConversationStore> openSqlite(const QString &path)
{
    const QString directory = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(directory)) {
        qCCritical(lcApp, "cannot create %s", qUtf8Printable(directory));
        return nullptr;
    }
    auto store = std::make_unique<SqliteConversationStore>(path);
    if (!store->isOpen()) {
        qCCritical(lcApp, "%s", qUtf8Printable(store->errorString()));
        return nullptr;
    }
    return store;
}

std::unique_ptr<PgConversationStore> openPostgres(const QString &conninfo, int timeoutMs)
{
    auto store = std::make_unique<PgConversationStore>(
            conninfo, QUuid::createUuid().toString(QUuid::WithoutBraces), timeoutMs);
    if (!store->isOpen()) {
        qCCritical(lcApp, "PostgreSQL (%s): %s", qUtf8Printable(PgConnection::shown(conninfo)),
                   qUtf8Printable(store->errorString()));
        return nullptr;
    }
    return store;
}
} // namespace

int main(int argc, char *argv[])
{
    // The database, its -wal and -shm and every backup hold the whole
    // conversation and each sender's address: for the server's user alone,
    // whatever umask it was started with.
    ::umask(077);
    // Before QCoreApplication: no thread may exist with the signals open.
    SignalWatcher::blockTerminationSignals();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("harrox"));
    LogFormat::install(LogFormat::toJournal());

    ServerOptions options;
    switch (options.parse(QCoreApplication::arguments())) {
    case ServerOptions::Action::ShowHelp:
    case ServerOptions::Action::ShowVersion:
        std::fputs(qPrintable(options.message() + QLatin1Char('\n')), stdout);
        return 0;
    case ServerOptions::Action::Fail:
        std::fprintf(stderr, "harrox: %s (see --help)\n", qPrintable(options.message()));
        return ExitUsage;
    case ServerOptions::Action::Backup:
        return backup(options);
    case ServerOptions::Action::ImportSqlite:
        return importSqlite(options);
    case ServerOptions::Action::CheckConfig:
        std::printf("harrox: the configuration is valid%s\n",
                    options.configPath().isEmpty()
                            ? ""
                            : qPrintable(QStringLiteral(" (%1)").arg(options.configPath())));
        return 0;
    case ServerOptions::Action::Status: {
        QString answer;
        const bool ok = StatusSocket::ask(options.statusSocket().isEmpty()
                                                  ? QString::fromLatin1(StatusSocket::FallbackPath)
                                                  : options.statusSocket(),
                                          &answer);
        std::fputs(qPrintable(answer + QLatin1Char('\n')), ok ? stdout : stderr);
        return ok ? 0 : ExitFailure;
    }
    case ServerOptions::Action::Run:
        break;
    }
    LogFormat::setLevel(options.logLevel());
    applyOpenFileLimit(options);

    const bool shared = !options.postgres().isEmpty();
    const QString databasePath = shared
            ? QStringLiteral("PostgreSQL (%1)").arg(PgConnection::shown(options.postgres()))
            : options.databasePath();
    PgConversationStore *pgStore = nullptr;
    std::unique_ptr<ConversationStore> store;
    if (shared) {
        usePasswordCredential();
        auto opened = openPostgres(options.postgres(), options.dbTimeoutMs());
        pgStore = opened.get();
        store = std::move(opened);
    } else {
        store = openSqlite(databasePath);
    }
    if (!store)
        return ExitFailure;
    Conversation conversation(store->recent(Conversation::KeptLines));
    ChatRoom room(conversation);
    std::unique_ptr<SharedConversation> sharing;
    if (pgStore)
        sharing = std::make_unique<SharedConversation>(*pgStore, room);

    // From here on the store belongs to the writer's thread.
    StoreWriter writer(*store);
    QThread storeThread;
    storeThread.setObjectName(QStringLiteral("store"));
    writer.moveToThread(&storeThread);
    storeThread.start();
    Retention retention(*store, {options.keepDays(), options.keepBytes()});
    retention.moveToThread(&storeThread);
    const auto stopWriter = [&] {
        // Everything posted so far is stored before the database closes.
        QMetaObject::invokeMethod(&writer, &StoreWriter::drain, Qt::BlockingQueuedConnection);
        storeThread.quit();
        storeThread.wait();
    };

    SignalWatcher signalWatcher;
    if (!signalWatcher.isValid())
        qCWarning(lcApp, "SIGTERM and SIGINT are not watched; stop harrox with SIGKILL");
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &app, [](int signalNumber) {
        qCInfo(lcApp, "signal %d: stopping", signalNumber);
        ServiceNotifier::stopping();
        QCoreApplication::quit();
    });
    HarroxServer server(options.serverSettings(), room, writer);
    if (!server.listen()) {
        stopWriter();
        qCCritical(lcApp, "cannot listen on %s port %u: %s",
                   qUtf8Printable(options.listenAddress().toString()), unsigned(options.port()),
                   qUtf8Printable(server.errorString()));
        return ExitFailure;
    }
    qCInfo(lcApp, "%s listening on %s:%u, database %s (its last %lld lines loaded), up to %d clients",
           qUtf8Printable(ServerOptions::versionText()), qUtf8Printable(server.address().toString()),
           unsigned(server.port()), qUtf8Printable(databasePath), qlonglong(conversation.lineCount()),
           options.maxClients());
    // SIGHUP: the configuration file and the command line again; what can
    // change while everyone stays connected changes, the rest is named.
    QObject::connect(&signalWatcher, &SignalWatcher::reloadRequested, &app, [&options, &server] {
        ServiceNotifier::reloading();
        ServerOptions fresh;
        if (fresh.parse(QCoreApplication::arguments()) != ServerOptions::Action::Run) {
            qCWarning(lcApp, "reload refused, the settings stay as they were: %s",
                      qUtf8Printable(fresh.message()));
        } else {
            applyOpenFileLimit(fresh);
            const QStringList restart = options.takeReloadable(fresh);
            server.setSettings(options.serverSettings());
            LogFormat::setLevel(options.logLevel());
            qCInfo(lcApp, "reloaded: up to %d clients, %d from one address, log level %s",
                   options.maxClients(), options.maxPerHost(), qUtf8Printable(options.logLevel()));
            logPeers(options);
            if (!restart.isEmpty())
                qCWarning(lcApp, "changed, but only a restart applies it: %s",
                          qUtf8Printable(restart.join(QLatin1String(", "))));
        }
        ServiceNotifier::ready();
    });

    PortFile portFile(options.portFile());
    if (!portFile.write(server.address(), server.port())) {
        stopWriter();
        qCCritical(lcApp, "cannot write the port file %s: %s", qUtf8Printable(options.portFile()),
                   qUtf8Printable(portFile.errorString()));
        return ExitFailure;
    }
    logPeers(options);
    ServiceNotifier::ready();
    // What `systemctl status harrox` shows.
    const auto figures = [&] {
        return QStringLiteral("%1 members, %2 connections, %3 lines stored")
                .arg(room.members().size())
                .arg(server.connectionCount())
                .arg(conversation.lastId());
    };
    QTimer statusTimer;
    const auto showStatus = [&] { ServiceNotifier::status(figures()); };
    QObject::connect(&statusTimer, &QTimer::timeout, &app, showStatus);
    statusTimer.start(StatusIntervalMs);
    showStatus();
    // harrox --status: the same figures and every connection.
    StatusSocket statusSocket([&] {
        QString text = QStringLiteral("%1 on %2:%3, database %4: %5\n")
                               .arg(ServerOptions::versionText(), server.address().toString())
                               .arg(server.port())
                               .arg(databasePath, figures());
        for (const QString &line : server.connectionLines())
            text += LogFormat::oneLine(line) + QLatin1Char('\n');
        return text;
    });
    const QString statusPath =
            options.statusSocket().isEmpty() ? StatusSocket::servicePath() : options.statusSocket();
    if (!statusPath.isEmpty() && !statusSocket.listen(statusPath))
        qCWarning(lcApp, "no status socket at %s: %s", qUtf8Printable(statusPath),
                  qUtf8Printable(statusSocket.errorString()));
    if (sharing) {
        sharing->follow(server, options.postgres(),
                        {options.beatMs(), options.expiryMs(), PgFollower::Settings().pollMs,
                         options.dbTimeoutMs()},
                        conversation.lastId());
        qCInfo(lcApp, "sharing the conversation: heartbeat every %d ms, servers silent %d ms dropped",
               options.beatMs(), options.expiryMs());
    }
    if (options.live())
        qCInfo(lcApp, "live delivery: pushes within %lld KiB/s, replies at least %d ms apart",
               qlonglong(options.pushBytesPerSecond() / ServerOptions::KiB), options.replyGapMs());
    else
        qCInfo(lcApp, "live delivery off (--no-live), replies at least %d ms apart",
               options.replyGapMs());

    if (options.keepDays() > 0)
        qInfo("messages older than %d days are removed (--keep-days)", options.keepDays());
    if (options.keepBytes() > 0)
        qInfo("the oldest messages are removed past %lld MiB (--keep-mib)",
              qlonglong(options.keepBytes() / ServerOptions::MiB));
    const PostBudget::Limits budget = options.postBudget();
    qInfo("posting budget of a member: %d posts and %lld KiB a minute, an address %d times that (0: "
          "none)",
          budget.postsPerMinute, qlonglong(budget.bytesPerMinute / ServerOptions::KiB),
          budget.hostFactor);
    DiskWatch diskWatch(QFileInfo(databasePath).absolutePath());
    QTimer housekeeping;
    const auto keepHouse = [&] {
        QMetaObject::invokeMethod(&retention,
                                  [&] { retention.sweep(QDateTime::currentDateTimeUtc()); });
        if (!shared)
            diskWatch.check();
    };
    QObject::connect(&housekeeping, &QTimer::timeout, &app, keepHouse);
    housekeeping.start(HousekeepingIntervalMs);
    keepHouse();

    const int status = QCoreApplication::exec();
    if (sharing)
        sharing->stop(StopGraceMs);
    stopWriter();
    qCInfo(lcApp, "stopped");
    return status;
}
