#include "logformat.h"

#include <QLoggingCategory>
#include <QtGlobal>

#include <cstdio>
#include <sys/stat.h>

namespace {

void writeLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line =
            qFormatLogMessage(type, context, LogFormat::oneLine(message)).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

bool LogFormat::toJournal()
{
    // "device:inode" of the stream systemd connected; a shell's redirection
    // in the unit's command line would make standard error something else.
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = stream.indexOf(':');
    struct stat error
    { };
    if (colon < 0 || fstat(2, &error) != 0)
        return false;
    return stream.left(colon).toULongLong() == error.st_dev
            && stream.mid(colon + 1).toULongLong() == error.st_ino;
}

void LogFormat::install(bool journal)
{
    const QString words =
            QStringLiteral("%{if-warning}warning: %{endif}%{if-critical}error: %{endif}%{message}");
    qSetMessagePattern(
            journal ? QStringLiteral(
                              "%{if-debug}<7>%{endif}%{if-info}<6>%{endif}%{if-warning}<4>%{endif}"
                              "%{if-critical}<3>%{endif}%{if-fatal}<2>%{endif}")
                            + words
                    : QStringLiteral("%{time yyyy-MM-dd HH:mm:ss.zzz} harrox: ") + words);
    qInstallMessageHandler(writeLine);
}

void LogFormat::setLevel(const QString &level)
{
    QLoggingCategory::setFilterRules(
            level == QLatin1String("error") ? QStringLiteral("*.info=false\n*.warning=false")
                    : level == QLatin1String("warning") ? QStringLiteral("*.info=false")
                                                        : QString());
}

QString LogFormat::oneLine(QStringView message)
{
    const QStringView text = message.trimmed();
    QString line;
    line.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue; // the \n after it stands for both
        if (c == u'\n' || c == u'\r')
            line += QLatin1String("\\n");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f
                 || (c.unicode() >= 0x80 && c.unicode() < 0xa0))
            line += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            line += c;
    }
    return line;
}
