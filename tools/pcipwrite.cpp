// Appends a destination to a PCIP.dat, for setting up a machine or a demo
// without opening the editor:
//   pcipwrite FILE NAME ADDRESS [--no-try]
// It takes only what the editor would take, by the same check; as no one
// looks at the result, it also refuses a group above 255.
#include "entrycheck.h"
#include "pcipfile.h"
#include "wire/cp932.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

constexpr int Refused = 2;
constexpr int WriteFailed = 1;
constexpr double MaxGroup = 255;

const char Usage[] = "usage: pcipwrite FILE NAME ADDRESS [--no-try]\n"
                     "Appends one destination to the end of the destination list FILE (created\n"
                     "when missing); the destinations already in it stay as they are.\n"
                     "ADDRESS is four groups joined by dots, each a number of at most three\n"
                     "characters and at most 255. NAME is kept in 20 bytes of code page 932;\n"
                     "a longer name is cut, and pcipwrite says so.\n"
                     "  --no-try  the destination is kept but not tried when connecting\n";

const char *refusal(const QString &name, const std::array<QString, 4> &groups)
{
    switch (EntryCheck::check(name, groups)) {
    case EntryCheck::Verdict::Missing:
        return "a name and four address groups are needed";
    case EntryCheck::Verdict::NotNumeric:
        return "each address group must be a number";
    case EntryCheck::Verdict::TooLong:
        return "each address group must be at most 3 characters long";
    case EntryCheck::Verdict::Accepted:
        break;
    }
    for (const QString &group : groups)
        if (QLocale().toDouble(group.trimmed()) > MaxGroup)
            return "an address group is above 255";
    return nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.contains(QStringLiteral("--help"))) {
        std::fputs(Usage, stdout);
        return 0;
    }
    const bool tryConnect = args.removeAll(QStringLiteral("--no-try")) == 0;
    if (args.size() != 3) {
        std::fputs(Usage, stderr);
        return Refused;
    }
    const QString &name = args[1];
    const std::array<QString, 4> groups = EntryCheck::splitAddress(args[2]);
    if (const char *why = refusal(name, groups)) {
        std::fprintf(stderr, "pcipwrite: refused: %s\n", why);
        return Refused;
    }
    PCIPRecord record;
    record.TryConnect = toVB(tryConnect);
    record.setName(name);
    // The address as the editor's add stores it.
    record.setAddress(QStringList{groups.begin(), groups.end()}.join(u'.').toLower());
    PCIPError error;
    if (!PCIPFile::appendTo(args[0], record, &error)) {
        std::fprintf(stderr, "pcipwrite: %s\n", qPrintable(error.detail));
        return WriteFailed;
    }
    if (Cp932::encode(name).size() > PCIPRecord::NameWidth) {
        PCIPRecord stored;
        stored.fromBytes(record.toBytes());
        std::fprintf(stderr, "pcipwrite: the name was cut to %d bytes: %s\n", PCIPRecord::NameWidth,
                     qPrintable(stored.trimmedName()));
    }
    return 0;
}
