#include "destinations/pcipfile.h"

#include "support/records.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {


QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// Makes every write past `bytes` fail with EFBIG, as a full disk would, even
// for root, for as long as the object lives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = nullptr;
};

} // namespace

class tst_PCIPFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void recordBytes_data();
    void recordBytes();
    void fieldsReadBack_data();
    void fieldsReadBack();
    void missingFileReadsEmptyAndIsCreated();
    void partialRecordIgnoredAndOverwrittenByAppend();
    void overwriteKeepsLength();
    void readerKeepsItsSnapshotAcrossWrites();
    void rewriteDeletingTheOnlyEntry();
    void countCappedAtMaximum();
    void rewriteFailureKeepsOldFile();
    void appendFailureReported();
    void unopenableFileReported();
    void readAllLeavesLastRecordInBuffer();
    void trimmingTakesOnlySpaces();

private:
    QString path() const { return m_dir->filePath(QStringLiteral("PCIP.dat")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_PCIPFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_PCIPFile::recordBytes_data()
{
    QTest::addColumn<int>("tryConnect");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("tried server1")
        << -1 << QStringLiteral("server1") << QStringLiteral("127.0.0.10")
        << QByteArray("\xFF\xFF" "server1             " "127.0.0.10     ");
    QTest::newRow("not tried") << 0 << QStringLiteral("b") << QStringLiteral("127.0.0.5")
                               << QByteArray("\0\0" "b                   " "127.0.0.5      ", 37);
    QTest::newRow("full-width address unpadded")
        << -1 << QStringLiteral("x") << QStringLiteral("127.100.100.200")
        << QByteArray("\xFF\xFF" "x                   " "127.100.100.200");
    QTest::newRow("double-byte name cut at 20 bytes")
        << -1 << QStringLiteral("本社本社本社本社本社本社") << QStringLiteral("127.0.0.1")
        << QByteArray("\xFF\xFF" "\x96\x7B\x8E\xD0\x96\x7B\x8E\xD0\x96\x7B\x8E\xD0\x96\x7B\x8E\xD0"
                      "\x96\x7B\x8E\xD0" "127.0.0.1      ");
    QTest::newRow("no lone lead byte at the cut")
        << -1 << QStringLiteral("a本社本社本社本社本社") << QStringLiteral("127.0.0.1")
        << QByteArray("\xFF\xFF" "a\x96\x7B\x8E\xD0\x96\x7B\x8E\xD0\x96\x7B\x8E\xD0\x96\x7B\x8E\xD0"
                      "\x96\x7B " "127.0.0.1      ");
    QTest::newRow("unmappable becomes ?")
        << -1 << QStringLiteral("a😀b") << QStringLiteral("127.0.0.1")
        << QByteArray("\xFF\xFF" "a?b                 " "127.0.0.1      ");
}

void tst_PCIPFile::recordBytes()
{
    QFETCH(int, tryConnect);
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(QByteArray, bytes);
    QVERIFY(PCIPFile::appendTo(path(), destination(VBBoolean(tryConnect), name, address)));
    QCOMPARE(readBytes(path()), bytes);
    QCOMPARE(bytes.size(), PCIPRecord::Length);
}

void tst_PCIPFile::fieldsReadBack_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("12 double-byte read back as 10")
        << QStringLiteral("あいうえおかきくけこさし") << QStringLiteral("あいうえおかきくけこ");
    QTest::newRow("25 ascii read back as 20")
        << QStringLiteral("abcdefghijklmnopqrstuvwxy") << QStringLiteral("abcdefghijklmnopqrst");
    QTest::newRow("mixed cut at a boundary")
        << QStringLiteral("a本社本社本社本社本社") << QStringLiteral("a本社本社本社本社本");
    QTest::newRow("half-width kana") << QStringLiteral("ｻｰﾊﾞｰ") << QStringLiteral("ｻｰﾊﾞｰ");
}

void tst_PCIPFile::fieldsReadBack()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QVERIFY(PCIPFile::appendTo(path(), destination(VBTrue, name, QStringLiteral("127.0.0.1"))));
    PCIPRecord buffer;
    QList<PCIPRecord> records;
    QVERIFY(PCIPFile::readAll(path(), buffer, records));
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].PCName.trimmed(), expected);
    QCOMPARE(records[0].PCName.size(), PCIPRecord::NameWidth);
    QCOMPARE(records[0].IPAddress, QStringLiteral("127.0.0.1      "));
}

void tst_PCIPFile::missingFileReadsEmptyAndIsCreated()
{
    PCIPRecord buffer;
    QList<PCIPRecord> records{PCIPRecord()};
    QVERIFY(PCIPFile::readAll(path(), buffer, records));
    QVERIFY(records.isEmpty());
    QVERIFY(QFile::exists(path()));
    QCOMPARE(QFileInfo(path()).size(), 0);
}

void tst_PCIPFile::partialRecordIgnoredAndOverwrittenByAppend()
{
    const PCIPRecord first = destination(VBTrue, QStringLiteral("one"), QStringLiteral("127.0.0.1"));
    writeBytes(path(), first.toBytes() + QByteArray("XYZ"));
    PCIPFile file(path());
    QVERIFY(file.open());
    QCOMPARE(file.count(), 1);
    file.close();

    const PCIPRecord second = destination(VBFalse, QStringLiteral("two"), QStringLiteral("127.0.0.2"));
    QVERIFY(PCIPFile::appendTo(path(), second));
    QCOMPARE(readBytes(path()), first.toBytes() + second.toBytes());
    QCOMPARE(QFileInfo(path()).size(), 74);
}

void tst_PCIPFile::overwriteKeepsLength()
{
    const PCIPRecord a = destination(VBTrue, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    const PCIPRecord b = destination(VBTrue, QStringLiteral("b"), QStringLiteral("127.0.0.2"));
    const PCIPRecord c = destination(VBFalse, QStringLiteral("c"), QStringLiteral("127.0.0.3"));
    QVERIFY(PCIPFile::rewrite(path(), {a, b}));
    QVERIFY(PCIPFile::overwrite(path(), 2, c));
    QCOMPARE(readBytes(path()), a.toBytes() + c.toBytes());
    QVERIFY(!PCIPFile::overwrite(path(), 0, c));
    QVERIFY(!PCIPFile::overwrite(path(), 3, c));
    QCOMPARE(readBytes(path()), a.toBytes() + c.toBytes());
}

void tst_PCIPFile::readerKeepsItsSnapshotAcrossWrites()
{
    const PCIPRecord a = destination(VBTrue, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    const PCIPRecord b = destination(VBTrue, QStringLiteral("b"), QStringLiteral("127.0.0.2"));
    QVERIFY(PCIPFile::rewrite(path(), {a, b}));
    PCIPFile walk(path());
    QVERIFY(walk.open());
    QVERIFY(PCIPFile::overwrite(path(), 2, a));
    QVERIFY(PCIPFile::appendTo(path(), b));
    QVERIFY(PCIPFile::rewrite(path(), {b}));
    PCIPRecord buffer;
    QCOMPARE(walk.count(), 2);
    QVERIFY(walk.read(2, buffer));
    QCOMPARE(buffer.PCName.trimmed(), QStringLiteral("b"));
    QCOMPARE(readBytes(path()), b.toBytes());
}

void tst_PCIPFile::rewriteDeletingTheOnlyEntry()
{
    QVERIFY(PCIPFile::appendTo(path(), destination(VBTrue, QStringLiteral("a"), QStringLiteral("1.2.3.4"))));
    QVERIFY(PCIPFile::rewrite(path(), {}));
    QVERIFY(QFile::exists(path()));
    QCOMPARE(QFileInfo(path()).size(), 0);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("PCIP.dat")});
}

void tst_PCIPFile::countCappedAtMaximum()
{
    const PCIPRecord r = destination(VBTrue, QStringLiteral("r"), QStringLiteral("127.0.0.1"));
    writeBytes(path(), r.toBytes().repeated(PCIPFile::MaxRecords + 1) + "xx");
    PCIPFile file(path());
    QVERIFY(file.open());
    QCOMPARE(file.count(), PCIPFile::MaxRecords);
    PCIPRecord buffer;
    QVERIFY(file.read(PCIPFile::MaxRecords, buffer));
    QVERIFY(!file.read(PCIPFile::MaxRecords + 1, buffer));
    file.close();
    QVERIFY(!PCIPFile::appendTo(path(), r)); // the count cannot grow past the maximum
    QCOMPARE(QFileInfo(path()).size(), qint64(PCIPFile::MaxRecords + 1) * 37 + 2);
}

void tst_PCIPFile::rewriteFailureKeepsOldFile()
{
    const PCIPRecord r = destination(VBTrue, QStringLiteral("keep"), QStringLiteral("127.0.0.1"));
    QVERIFY(PCIPFile::rewrite(path(), {r, r}));
    const QByteArray before = readBytes(path());
    QString error;
    {
        FileSizeLimit limit(50);
        QVERIFY(!PCIPFile::rewrite(path(), {r, r, r}, &error));
    }
    QVERIFY(!error.isEmpty());
    QCOMPARE(readBytes(path()), before);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("PCIP.dat")});
}

void tst_PCIPFile::appendFailureReported()
{
    const PCIPRecord r = destination(VBTrue, QStringLiteral("r"), QStringLiteral("127.0.0.1"));
    QVERIFY(PCIPFile::appendTo(path(), r));
    QString error;
    {
        FileSizeLimit limit(50);
        QVERIFY(!PCIPFile::appendTo(path(), r, &error));
    }
    QVERIFY(!error.isEmpty());
}

void tst_PCIPFile::unopenableFileReported()
{
    // A directory in the file's place cannot be opened, even by root.
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("PCIP.dat")));
    PCIPRecord buffer;
    QList<PCIPRecord> records;
    QString error;
    QVERIFY(!PCIPFile::readAll(path(), buffer, records, &error));
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(!PCIPFile::appendTo(path(), buffer, &error));
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(!PCIPFile::rewrite(path(), {buffer}, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFileInfo(path()).isDir());
}

void tst_PCIPFile::readAllLeavesLastRecordInBuffer()
{
    const PCIPRecord a = destination(VBTrue, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    const PCIPRecord b = destination(VBFalse, QStringLiteral("b"), QStringLiteral("127.0.0.2"));
    QVERIFY(PCIPFile::rewrite(path(), {a, b}));
    PCIPRecord buffer;
    QList<PCIPRecord> records;
    QVERIFY(PCIPFile::readAll(path(), buffer, records));
    QCOMPARE(records.size(), 2);
    QCOMPARE(buffer.PCName, b.PCName);
    QCOMPARE(buffer.TryConnect, VBFalse);
    QCOMPARE(records[0].TryConnect, VBTrue);
}

void tst_PCIPFile::trimmingTakesOnlySpaces()
{
    const PCIPRecord r = destination(VBTrue, QStringLiteral(" \u3000本社\t "),
                                     QStringLiteral(" 127.0.0.1"));
    QCOMPARE(r.trimmedName(), QStringLiteral("\u3000本社\t"));
    QCOMPARE(r.trimmedAddress(), QStringLiteral(" 127.0.0.1"));
}

QTEST_GUILESS_MAIN(tst_PCIPFile)
#include "tst_pcipfile.moc"
