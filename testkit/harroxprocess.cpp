#include "harroxprocess.h"

#include <QFile>
#include <QTest>

#include <algorithm>

HarroxProcess::HarroxProcess()
{
#ifdef HARROX_PATH
    program = QStringLiteral(HARROX_PATH);
#endif
    portFile = m_dir.filePath(QStringLiteral("port"));
    QObject::connect(&process, &QProcess::readyReadStandardError,
                     [this] { log += QString::fromUtf8(process.readAllStandardError()); });
}

HarroxProcess::~HarroxProcess()
{
    process.kill();
    process.waitForFinished();
}

bool HarroxProcess::start(const QStringList &arguments, int withinMs, const QStringList &wrapper)
{
    log.clear();
    port = 0;
    QFile::remove(portFile);
    // Loopback and a free port unless the arguments say otherwise.
    const auto given = [&](const QString &option) {
        return std::any_of(arguments.cbegin(), arguments.cend(), [&](const QString &argument) {
            return argument == option || argument.startsWith(option + u'=');
        });
    };
    QStringList command = wrapper + QStringList{program};
    if (!given(QStringLiteral("--listen")))
        command << QStringLiteral("--listen=127.0.0.1");
    if (!given(QStringLiteral("--port")))
        command << QStringLiteral("--port=0");
    command << arguments << QStringLiteral("--port-file") << portFile;
    process.start(command.constFirst(), command.mid(1));
    (void)QTest::qWaitFor([&] { return readPortFile() || process.state() == QProcess::NotRunning; }, withinMs);
    // What harrox logged before its port file is in the pipe now: take it
    // before the caller reads the log, not at a later turn of the event loop.
    process.setReadChannel(QProcess::StandardError);
    (void)process.waitForReadyRead(0);
    process.setReadChannel(QProcess::StandardOutput);
    log += QString::fromUtf8(process.readAllStandardError());
    if (port == 0 && process.waitForFinished(withinMs))
        log += QString::fromUtf8(process.readAllStandardError());
    return port != 0;
}

bool HarroxProcess::readPortFile()
{
    QFile file(portFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // "address:port", an IPv6 address in brackets; written whole.
    const QString text = QString::fromUtf8(file.readAll()).trimmed();
    const qsizetype colon = text.lastIndexOf(u':');
    address = QHostAddress(text.left(colon).remove(u'[').remove(u']'));
    port = quint16(text.mid(colon + 1).toUInt());
    return port != 0;
}
