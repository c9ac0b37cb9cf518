#include "commandline.h"

#include "identity.h"

namespace {

// Qt's own options for every window program, which the toolkit takes itself;
// the first group is followed by a value.
const QStringList ToolkitOptionsWithValue{
        QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
        QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
        QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
        QStringLiteral("qwindowtitle"),    QStringLiteral("display"),
        QStringLiteral("geometry"),        QStringLiteral("style"),
        QStringLiteral("stylesheet"),      QStringLiteral("session"),
        QStringLiteral("qmljsdebugger")};
const QStringList ToolkitFlags{QStringLiteral("reverse"), QStringLiteral("nograb"),
                               QStringLiteral("dograb"), QStringLiteral("sync"),
                               QStringLiteral("widgetcount")};

} // namespace

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.action = Action::Help;
            return line;
        }
        if (argument == QLatin1String("--version") || argument == QLatin1String("-v")) {
            line.action = Action::Version;
            return line;
        }
        if (argument == QLatin1String("--data-folder"))
            continue;
        // The toolkit reads "-style x", "--style x" and "-style=x" alike.
        QString name = argument.startsWith(QLatin1String("--")) ? argument.mid(2) : argument.mid(1);
        const bool valueAttached = name.contains(QLatin1Char('='));
        name = name.section(QLatin1Char('='), 0, 0);
        if (argument.startsWith(QLatin1Char('-')) && ToolkitOptionsWithValue.contains(name)) {
            if (!valueAttached && ++i >= arguments.size()) {
                line.refused = argument;
                line.action = Action::Refuse;
                return line;
            }
            continue;
        }
        if (argument.startsWith(QLatin1Char('-')) && ToolkitFlags.contains(name) && !valueAttached)
            continue;
        line.refused = argument;
        line.action = Action::Refuse;
        return line;
    }
    return line;
}

QString CommandLine::usage()
{
    return QStringLiteral(
            "使い方: Lintra20 [--data-folder]\n"
            "Harroxサーバーと通信する文字チャットのウィンドウを開きます。\n"
            "\n"
            "  --data-folder  ~/.local/share/lintra を作業フォルダーにする（PCIP.dat の場所）\n"
            "  --help         この説明を表示して終わる\n"
            "  --version      版を表示して終わる\n");
}

QString CommandLine::versionText()
{
    return QStringLiteral("%1 %2\n").arg(Identity::applicationName(), Identity::version());
}
