#include "pcipfile.h"

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
                      ? (PCIPFile::appendTo(path, X, &e), int(e.kind))
                      : 99);
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
    }

    void records_data()
    {
        QTest::addColumn<int>("tryConnect");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray address = "127.0.0.10     ";
        auto b = [&](const char *flag) { return QByteArray(flag, 2) + "b" + QByteArray(19, ' ') + address; };
        QTest::newRow("tried") << -1 << "b" << b("\xFF\xFF");
        QTest::newRow("not tried") << 0 << "b" << b("\0\0");
        // Flags whose two bytes differ: each reads otherwise in the other byte order.
        QTest::newRow("flag 1") << 1 << "b" << b("\x01\0");
        QTest::newRow("flag 256") << 256 << "b" << b("\0\x01");
        QTest::newRow("cut at 20 bytes, no lone lead byte") << -1 << "a本社本社本社本社本社"
                                                            << "\xFF\xFF"
                                                               "a"
                        + QByteArray("\x96\x7B\x8E\xD0").repeated(4) + "\x96\x7B " + address;
    }

    void records()
    {
        QFETCH(int, tryConnect);
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QVERIFY(PCIPFile::appendTo(path(), destination(VBBoolean(tryConnect), name, QStringLiteral("127.0.0.10"))));
        QCOMPARE(fileBytes(path()), bytes);
        PCIPRecord buffer;
        QList<PCIPRecord> list;
        QVERIFY(PCIPFile::readAll(path(), buffer, list));
        QCOMPARE(buffer.TryConnect, VBBoolean(tryConnect));
        QCOMPARE(buffer.toBytes(), bytes); // read back, nothing changes
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
        chmod(t, setup == u"link" ? 0640 : setup == u"read-only" ? 0444
                      : setup == u"folder"                       ? 0666
                                                                 : 0664);
        QVERIFY(setup != u"group" || chown(t, 0, Nobody) == 0);
        struct stat before
        {
        }, after{};
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
