#include "commandline.h"
#include "startup.h"

#include <QString>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Before the application object: it would need a display even for --help.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine line = CommandLine::parse(arguments);
    switch (line.action) {
    case CommandLine::Action::Help:
        std::fputs(CommandLine::usage().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::fputs(CommandLine::versionText().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Action::Refuse:
        std::fprintf(stderr, "Lintra20: %s\n%s",
                     qPrintable(QStringLiteral("使えないオプションです: %1").arg(line.refused)),
                     "Lintra20 --help で使い方を表示します。\n");
        return 2;
    case CommandLine::Action::Run:
        break;
    }
    return runLintra(argc, argv);
}
