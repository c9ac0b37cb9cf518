#include "chatroom.h"
#include "conversation.h"
#include "harroxserver.h"
#include "serveroptions.h"
#include "signalwatcher.h"
#include "sqliteconversationstore.h"
#include "storewriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <climits>
#include <cstdio>

#include <sys/resource.h>

namespace {
constexpr int ExitUsage = 2;
constexpr int ExitFailure = 1;

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
} // namespace

int main(int argc, char *argv[])
{
    // Before QCoreApplication: no thread may exist with the signals open.
    SignalWatcher::blockTerminationSignals();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("harrox"));
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd HH:mm:ss.zzz} harrox: "
                                      "%{if-warning}warning: %{endif}"
                                      "%{if-critical}error: %{endif}%{message}"));

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
    case ServerOptions::Action::Run:
        break;
    }
    options.setOpenFileLimit(raiseOpenFileLimit());

    const QString databasePath = options.databasePath();
    const QString directory = QFileInfo(databasePath).absolutePath();
    if (!QDir().mkpath(directory)) {
        qCritical("cannot create %s", qUtf8Printable(directory));
        return ExitFailure;
    }
    SqliteConversationStore store(databasePath);
    if (!store.isOpen()) {
        qCritical("%s", qUtf8Printable(store.errorString()));
        return ExitFailure;
    }
    Conversation conversation(store.recent(Conversation::KeptLines));
    ChatRoom room(conversation);

    // From here on the store belongs to the writer's thread.
    StoreWriter writer(store);
    QThread storeThread;
    storeThread.setObjectName(QStringLiteral("store"));
    writer.moveToThread(&storeThread);
    storeThread.start();
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
                         QCoreApplication::quit();
                     });

    HarroxServer server(options, room, writer);
    if (!server.listen()) {
        stopWriter();
        qCritical("cannot listen on %s port %u: %s",
                  qUtf8Printable(options.listenAddress().toString()), unsigned(options.port()),
                  qUtf8Printable(server.errorString()));
        return ExitFailure;
    }
    qInfo("%s listening on %s:%u, database %s (%lld lines loaded), up to %d clients",
          qUtf8Printable(ServerOptions::versionText()),
          qUtf8Printable(server.address().toString()), unsigned(server.port()),
          qUtf8Printable(databasePath), qlonglong(conversation.lineCount()),
          options.maxClients());
    if (options.live())
        qInfo("live delivery: pushes within %lld KiB/s, replies at least %d ms apart",
              qlonglong(options.pushBytesPerSecond() / ServerOptions::KiB), options.replyGapMs());
    else
        qInfo("live delivery off (--no-live), replies at least %d ms apart", options.replyGapMs());

    const int status = QCoreApplication::exec();
    stopWriter();
    qInfo("stopped");
    return status;
}
