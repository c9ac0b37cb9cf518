// Appends a destination to a PCIP.dat, for setting up a machine or a demo
// without opening the editor:
//   pcipwrite FILE NAME ADDRESS [--no-try]
#include "destinations/pcipfile.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool tryConnect = args.removeAll(QStringLiteral("--no-try")) == 0;
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: pcipwrite FILE NAME ADDRESS [--no-try]\n");
        return 2;
    }
    PCIPRecord record;
    record.TryConnect = toVB(tryConnect);
    record.setName(args[1]);
    record.setAddress(args[2]);
    QString error;
    if (!PCIPFile::appendTo(args[0], record, &error)) {
        std::fprintf(stderr, "pcipwrite: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
