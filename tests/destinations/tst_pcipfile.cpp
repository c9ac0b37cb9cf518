#include "destinations/pcipfile.h"

#include "support/records.h"

#include <QtTest>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using Kind = PCIPError::Kind;

namespace {

constexpr uid_t Nobody = 65534; // user nobody, group nogroup
const PCIPRecord X = destination(VBFalse, QStringLiteral("X"), QStringLiteral("127.0.0.9"));

// Appends X as user nobody in a child process; the exit status is the kind.
Kind appendAsNobody(const QString &path)
{
    const pid_t child = fork();
    PCIPError e;
    if (child == 0)
        _exit(setgroups(0, nullptr) == 0 && setgid(Nobody) == 0 && setuid(Nobody) == 0
                  ? (PCIPFile::appendTo(path, X, &e), int(e.kind)) : 99);
    int status = 0;
    waitpid(child, &status, 0);
    return Kind(WEXITSTATUS(status));
}

} // namespace

class tst_PCIPFile : public QObject
{
    Q_OBJECT

    QString path() const { return m_dir->filePath(QStringLiteral("PCIP.dat")); }
    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void records_data()
    {
        QTest::addColumn<int>("tryConnect");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("readBack");
        const QByteArray address = "127.0.0.10     ";
        QTest::newRow("tried") << -1 << "server1" << "\xFF\xFF" "server1             " + address << "server1";
        auto b = [&](const char *flag) { return QByteArray(flag, 2) + "b" + QByteArray(19, ' ') + address; };
        QTest::newRow("not tried") << 0 << "b" << b("\0\0") << "b";
        // Flags whose two bytes differ: each reads otherwise in the other byte order.
        QTest::newRow("flag 1") << 1 << "b" << b("\x01\0") << "b";
        QTest::newRow("flag 256") << 256 << "b" << b("\0\x01") << "b";
        QTest::newRow("12 double-byte") << -1 << "本社本社本社本社本社本社"
            << "\xFF\xFF" + QByteArray("\x96\x7B\x8E\xD0").repeated(5) + address << "本社本社本社本社本社";
        QTest::newRow("no lone lead byte at the cut") << -1 << "a本社本社本社本社本社"
            << "\xFF\xFF" "a" + QByteArray("\x96\x7B\x8E\xD0").repeated(4) + "\x96\x7B " + address
            << "a本社本社本社本社本";
    }

    void records()
    {
        QFETCH(int, tryConnect);
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, readBack);
        QVERIFY(PCIPFile::appendTo(path(), destination(VBBoolean(tryConnect), name, QStringLiteral("127.0.0.10"))));
        QCOMPARE(fileBytes(path()), bytes);
        PCIPRecord buffer;
        QList<PCIPRecord> list;
        QVERIFY(PCIPFile::readAll(path(), buffer, list));
        QCOMPARE(buffer.TryConnect, VBBoolean(tryConnect));
        QCOMPARE(buffer.trimmedName() + u' ' + buffer.trimmedAddress(), readBack + QStringLiteral(" 127.0.0.10"));
    }

    void edits_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("n");
        QTest::addColumn<QByteArray>("after"); // empty: refused, the file unchanged
        QTest::addColumn<Kind>("failure");
        const QByteArray beyond = longList(PCIPFile::MaxRecords + 10);
        const QByteArray none;
        QTest::newRow("append over a partial record") << ::records("ab") + "XY" << "append" << 0
                                                      << ::records("abX") << Kind::None;
        QTest::newRow("overwrite 2 of 2") << ::records("fa") << "overwrite" << 2 << ::records("fX") << Kind::None;
        QTest::newRow("overwrite 0") << ::records("ab") << "overwrite" << 0 << none << Kind::NoRecord;
        QTest::newRow("overwrite 3 of 2") << ::records("ab") << "overwrite" << 3 << none << Kind::NoRecord;
        QTest::newRow("remove the only one") << ::records("a") << "remove" << 1 << QByteArray("") << Kind::None;
        QTest::newRow("remove 32,767 of 32,777") << beyond << "remove" << PCIPFile::MaxRecords
            << beyond.first((PCIPFile::MaxRecords - 1) * 37) + beyond.mid(PCIPFile::MaxRecords * 37)
            << Kind::None;
        QTest::newRow("remove 32,768") << beyond << "remove" << PCIPFile::MaxRecords + 1 << none << Kind::NoRecord;
    }

    void edits()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, operation);
        QFETCH(int, n);
        QFETCH(QByteArray, after);
        QFETCH(Kind, failure);
        QVERIFY(writeFile(path(), before));
        PCIPError error;
        const bool ok = operation == u"append" ? PCIPFile::appendTo(path(), X, &error)
                        : operation == u"overwrite" ? PCIPFile::overwrite(path(), n, X, &error)
                                                   : PCIPFile::remove(path(), n, &error);
        QCOMPARE(error.kind, failure);
        QCOMPARE(fileBytes(path()), ok ? after : before);
    }

    void fileStaysWhatItIs_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("asNobody");
        QTest::addColumn<Kind>("failure");
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("link to a shared list, mode 0640") << "link" << false << Kind::None << false;
        QTest::newRow("group nogroup") << "group" << false << Kind::None << false;
        QTest::newRow("read-only file") << "read-only" << true << Kind::NoPermission << true;
        QTest::newRow("folder not writable") << "folder" << true << Kind::None << true;
        QTest::newRow("another user's file, group-writable") << "group" << true << Kind::None << true;
    }

    void fileStaysWhatItIs()
    {
        QFETCH(QString, setup);
        QFETCH(bool, asNobody);
        QFETCH(Kind, failure);
        QFETCH(bool, inPlace);
        if ((asNobody || setup == u"group") && geteuid() != 0)
            QSKIP("only root can act as user nobody or give a file another group");
        const QString target = setup == u"link" ? m_dir->filePath(QStringLiteral("list.dat")) : path();
        QVERIFY(writeFile(target, ::records("ab")));
        QVERIFY(setup != u"link" || symlink("list.dat", QFile::encodeName(path())) == 0);
        const QByteArray t = QFile::encodeName(target);
        chmod(QFile::encodeName(m_dir->path()), setup == u"folder" ? 0755 : 0777);
        chmod(t, setup == u"link" ? 0640 : setup == u"read-only" ? 0444 : setup == u"folder" ? 0666 : 0664);
        QVERIFY(setup != u"group" || chown(t, 0, Nobody) == 0);
        struct stat before {}, after {};
        QCOMPARE(stat(t, &before), 0);
        PCIPFile walk(path()); // a connect walk waiting with the file open
        QVERIFY(walk.open());
        PCIPError error;
        QCOMPARE(asNobody ? appendAsNobody(path()) : (PCIPFile::appendTo(path(), X, &error), error.kind), failure);
        QCOMPARE(stat(t, &after), 0);
        QCOMPARE(fileBytes(target), ::records(failure == Kind::None ? "abX" : "ab"));
        QCOMPARE(QFileInfo(path()).isSymLink(), setup == u"link");
        QVERIFY(std::tie(after.st_mode, after.st_uid, after.st_gid) == std::tie(before.st_mode, before.st_uid, before.st_gid));
        QCOMPARE(after.st_ino == before.st_ino, inPlace);
        // Renamed over, the file the walk reads keeps the list it opened.
        QCOMPARE(walk.count(), inPlace && failure == Kind::None ? 3 : 2);
    }
};

QTEST_GUILESS_MAIN(tst_PCIPFile)
#include "tst_pcipfile.moc"
