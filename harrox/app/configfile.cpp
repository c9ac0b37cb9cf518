#include "configfile.h"

#include <QFile>

#include <algorithm>

namespace {

const QStringList Yes{QStringLiteral("yes"), QStringLiteral("true"), QStringLiteral("on"),
                      QStringLiteral("1")};
const QStringList No{QStringLiteral("no"), QStringLiteral("false"), QStringLiteral("off"),
                     QStringLiteral("0")};

} // namespace

QStringList ConfigFile::read(const QString &path, const QList<QCommandLineOption> &settable,
                             const QStringList &onCommandLine, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return {};
    }
    QStringList arguments;
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString key = line.left(equals).trimmed();
        const QString value = equals < 0 ? QString() : line.mid(equals + 1).trimmed();
        const auto fail = [&](const QString &what) {
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(number).arg(what);
            return QStringList();
        };
        const auto option =
                std::find_if(settable.cbegin(), settable.cend(),
                             [&](const QCommandLineOption &o) { return o.names().constLast() == key; });
        if (option == settable.cend())
            return fail(QStringLiteral("unknown setting \"%1\"").arg(key));
        const bool flag = option->valueName().isEmpty();
        const bool no = No.contains(value.toLower());
        if (flag && !value.isEmpty() && !no && !Yes.contains(value.toLower()))
            return fail(QStringLiteral("%1 takes yes or no, not \"%2\"").arg(key, value));
        if (!flag && (equals < 0 || value.isEmpty()))
            return fail(QStringLiteral("%1 needs a value (%1 = …)").arg(key));
        if (onCommandLine.contains(key) || (flag && no))
            continue;
        arguments.append(flag ? QStringLiteral("--") + key : QStringLiteral("--%1=%2").arg(key, value));
    }
    return arguments;
}
