#pragma once

#include <QString>
#include <QStringList>

// What the command line asks before any window opens: help and the version
// need no display, and an option the program does not know is refused
// rather than ignored.
struct CommandLine
{
    enum class Action { Run, Help, Version, Refuse };

    static CommandLine parse(const QStringList &arguments); // without the program's name
    static QString usage();
    static QString versionText();

    Action action = Action::Run;
    QString refused; // the argument refused
};
