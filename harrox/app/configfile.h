#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QStringList>

// harrox's configuration file: its long options one a line, without the
// dashes ("listen = 192.0.2.10", "allow = 10.0.0.0/8", "no-live = yes"),
// '#' starting a comment line. Read into command-line arguments that go
// before the real command line's, which therefore overrides the file.
namespace ConfigFile {

// The file's arguments for the options it may set, leaving out those the
// command line sets itself; on a fault, error says "FILE:LINE: what".
QStringList read(const QString &path, const QList<QCommandLineOption> &settable,
                 const QStringList &onCommandLine, QString *error);

} // namespace ConfigFile
