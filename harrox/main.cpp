#include "chatroom.h"
#include "conversation.h"
#include "diskwatch.h"
#include "harroxserver.h"
#include "logformat.h"
#include "servicenotifier.h"
#include "pgconversationstore.h"
#include "pgfollower.h"
#include "pgimport.h"
#include "retention.h"
#include "serveroptions.h"
#include "signalwatcher.h"
#include "statussocket.h"
#include "sqliteconversationstore.h"
#include "storewriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostInfo>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <climits>
#include <cstdio>
#include <memory>

#include <sys/resource.h>

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
        qWarning("%s", qUtf8Printable(lowered));
}

int backup(const ServerOptions &options)
{
    QString error;
    if (!SqliteConversationStore::backup(options.databasePath(), options.backupPath(), &error)) {
        std::fprintf(stderr, "harrox: no backup of %s made: %s\n",
                     qPrintable(options.databasePath()), qPrintable(error));
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
        qCritical("cannot create %s", qUtf8Printable(directory));
        return nullptr;
    }
    auto store = std::make_unique<SqliteConversationStore>(path);
    if (!store->isOpen()) {
        qCritical("%s", qUtf8Printable(store->errorString()));
        return nullptr;
    }
    return store;
}

std::unique_ptr<PgConversationStore> openPostgres(const QString &conninfo, int timeoutMs)
{
    auto store = std::make_unique<PgConversationStore>(
        conninfo, QUuid::createUuid().toString(QUuid::WithoutBraces), timeoutMs);
    if (!store->isOpen()) {
        qCritical("PostgreSQL (%s): %s", qUtf8Printable(conninfo), qUtf8Printable(store->errorString()));
        return nullptr;
    }
    return store;
}
} // namespace

int main(int argc, char *argv[])
{
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
                    options.configPath().isEmpty() ? "" : qPrintable(QStringLiteral(" (%1)").arg(options.configPath())));
        return 0;
    case ServerOptions::Action::Status: {
        QString answer;
        const bool ok = StatusSocket::ask(options.statusSocket().isEmpty() ? QString::fromLatin1(StatusSocket::FallbackPath)
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
    const QString databasePath = shared ? QStringLiteral("PostgreSQL") : options.databasePath();
    PgConversationStore *pgStore = nullptr;
    std::unique_ptr<ConversationStore> store;
    if (shared) {
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
    HarroxServer *liveServer = nullptr;
    // Rows committed by any server, on this thread, in commit order.
    const auto showRows = [&](const QList<StoredMessage> &rows) {
        for (const StoredMessage &row : rows)
            room.addStored(row);
        if (liveServer)
            liveServer->roomChangedElsewhere();
    };
    if (pgStore) {
        // Queued before the writer reports the post stored, so that its
        // sender's reply shows everything committed before it.
        pgStore->setRowsHandler([&](const QList<StoredMessage> &rows) {
            QMetaObject::invokeMethod(&app, [&, rows] { showRows(rows); }, Qt::QueuedConnection);
        });
    }

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
        qWarning("SIGTERM and SIGINT are not watched; stop harrox with SIGKILL");
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &app,
                     [](int signalNumber) {
                         qInfo("signal %d: stopping", signalNumber);
                         ServiceNotifier::stopping();
                         QCoreApplication::quit();
                     });
    // SIGHUP: the configuration file and the command line again; what can
    // change while everyone stays connected changes, the rest is named.
    QObject::connect(&signalWatcher, &SignalWatcher::reloadRequested, &app, [&options] {
        ServiceNotifier::reloading();
        ServerOptions fresh;
        if (fresh.parse(QCoreApplication::arguments()) != ServerOptions::Action::Run) {
            qWarning("reload refused, the settings stay as they were: %s", qUtf8Printable(fresh.message()));
        } else {
            applyOpenFileLimit(fresh);
            const QStringList restart = options.takeReloadable(fresh);
            LogFormat::setLevel(options.logLevel());
            qInfo("reloaded: up to %d clients, %d from one address, log level %s",
                  options.maxClients(), options.maxPerHost(), qUtf8Printable(options.logLevel()));
            if (!restart.isEmpty())
                qWarning("changed, but only a restart applies it: %s", qUtf8Printable(restart.join(QLatin1String(", "))));
        }
        ServiceNotifier::ready();
    });

    QThread followerThread;
    followerThread.setObjectName(QStringLiteral("follower"));
    std::unique_ptr<PgFollower> follower;
    const auto stopFollower = [&] {
        if (!follower)
            return;
        room.setObserver(nullptr);
        QMetaObject::invokeMethod(follower.get(), [&] {
            follower->stop();
            follower->moveToThread(app.thread());
        }, Qt::BlockingQueuedConnection);
        followerThread.quit();
        followerThread.wait();
    };

    HarroxServer server(options, room, writer);
    if (!server.listen()) {
        stopWriter();
        qCritical("cannot listen on %s port %u: %s",
                  qUtf8Printable(options.listenAddress().toString()), unsigned(options.port()),
                  qUtf8Printable(server.errorString()));
        return ExitFailure;
    }
    qInfo("%s listening on %s:%u, database %s (its last %lld lines loaded), up to %d clients",
          qUtf8Printable(ServerOptions::versionText()),
          qUtf8Printable(server.address().toString()), unsigned(server.port()),
          qUtf8Printable(databasePath), qlonglong(conversation.lineCount()),
          options.maxClients());
    liveServer = &server;
    // After the options are read again (connected earlier, so called first).
    QObject::connect(&signalWatcher, &SignalWatcher::reloadRequested, &server, &HarroxServer::applyOptions);
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
    const QString statusPath = options.statusSocket().isEmpty() ? StatusSocket::servicePath() : options.statusSocket();
    if (!statusPath.isEmpty() && !statusSocket.listen(statusPath))
        qWarning("no status socket at %s: %s", qUtf8Printable(statusPath), qUtf8Printable(statusSocket.errorString()));
    if (shared) {
        const QString label = QStringLiteral("%1 %2:%3 pid %4")
                                  .arg(QHostInfo::localHostName(), server.address().toString())
                                  .arg(server.port()).arg(QCoreApplication::applicationPid());
        follower = std::make_unique<PgFollower>(
            options.postgres(), label,
            PgFollower::Settings{options.beatMs(), options.expiryMs(), PgFollower::Settings().pollMs,
                                 options.dbTimeoutMs()});
        QObject::connect(follower.get(), &PgFollower::rowsArrived, &server, showRows);
        QObject::connect(follower.get(), &PgFollower::othersChanged, &server,
                         [&](const QList<OtherMember> &others) {
                             room.setOthers(others);
                             server.roomChangedElsewhere();
                         });
        follower->setDelivered(&pgStore->delivered());
        room.setObserver(follower.get());
        follower->moveToThread(&followerThread);
        followerThread.start();
        QMetaObject::invokeMethod(follower.get(), [&, last = conversation.lastId()] {
            follower->start(last);
        });
        qInfo("sharing the conversation: heartbeat every %d ms, servers silent %d ms dropped",
              options.beatMs(), options.expiryMs());
    }
    if (options.live())
        qInfo("live delivery: pushes within %lld KiB/s, replies at least %d ms apart",
              qlonglong(options.pushBytesPerSecond() / ServerOptions::KiB), options.replyGapMs());
    else
        qInfo("live delivery off (--no-live), replies at least %d ms apart", options.replyGapMs());

    if (options.keepDays() > 0)
        qInfo("messages older than %d days are removed (--keep-days)", options.keepDays());
    if (options.keepBytes() > 0 && !shared)
        qInfo("the oldest messages are removed past %lld MiB (--keep-mib)",
              qlonglong(options.keepBytes() / ServerOptions::MiB));
    if (shared && options.keepBytes() > 0)
        qWarning("--keep-mib bounds the SQLite database only; with --postgres, --keep-days applies");
    const PostBudget::Limits budget = options.postBudget();
    qInfo("posting budget of a member: %d posts and %lld KiB a minute, an address %d times that (0: none)",
          budget.postsPerMinute, qlonglong(budget.bytesPerMinute / ServerOptions::KiB), budget.hostFactor);
    DiskWatch diskWatch(QFileInfo(databasePath).absolutePath());
    QTimer housekeeping;
    const auto keepHouse = [&] {
        QMetaObject::invokeMethod(&retention, [&] { retention.sweep(QDateTime::currentDateTimeUtc()); });
        if (!shared)
            diskWatch.check();
    };
    QObject::connect(&housekeeping, &QTimer::timeout, &app, keepHouse);
    housekeeping.start(HousekeepingIntervalMs);
    keepHouse();

    const int status = QCoreApplication::exec();
    // Whatever the database does: a hung one costs the stop this, no more.
    if (pgStore)
        pgStore->stopWithin(StopGraceMs);
    if (follower)
        follower->stopWithin(StopGraceMs);
    stopFollower();
    stopWriter();
    qInfo("stopped");
    return status;
}
