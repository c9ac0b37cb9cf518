#include "allowlist.h"
#include "serveroptions.h"

#include <QTest>

class TestServerOptions : public QObject
{
    Q_OBJECT

private slots:
    void lanDefaults_data();
    void lanDefaults();
    void explicitRanges_data();
    void explicitRanges();
    void badRanges_data();
    void badRanges();
    void defaults();
    void parses();
    void refuses_data();
    void refuses();
    void helpAndVersion();
    void databaseFollowsXdg();
};

void TestServerOptions::lanDefaults_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("loopback") << QStringLiteral("127.0.0.1") << true;
    QTest::newRow("loopback elsewhere") << QStringLiteral("127.5.6.7") << true;
    QTest::newRow("10/8") << QStringLiteral("10.200.1.2") << true;
    QTest::newRow("172.16/12 low") << QStringLiteral("172.16.0.1") << true;
    QTest::newRow("172.16/12 high") << QStringLiteral("172.31.255.254") << true;
    QTest::newRow("just past 172.16/12") << QStringLiteral("172.32.0.1") << false;
    QTest::newRow("192.168/16") << QStringLiteral("192.168.10.20") << true;
    QTest::newRow("link-local") << QStringLiteral("169.254.3.4") << true;
    QTest::newRow("public") << QStringLiteral("8.8.8.8") << false;
    QTest::newRow("documentation") << QStringLiteral("203.0.113.9") << false;
    QTest::newRow("IPv6 loopback") << QStringLiteral("::1") << true;
    QTest::newRow("mapped private") << QStringLiteral("::ffff:192.168.1.1") << true;
    QTest::newRow("mapped loopback") << QStringLiteral("::ffff:127.0.0.1") << true;
    QTest::newRow("mapped public") << QStringLiteral("::ffff:8.8.4.4") << false;
    QTest::newRow("IPv6 global") << QStringLiteral("2001:db8::1") << false;
}

void TestServerOptions::lanDefaults()
{
    QFETCH(QString, peer);
    QFETCH(bool, allowed);
    QCOMPARE(AllowList::lanDefaults().allows(QHostAddress(peer)), allowed);
}

void TestServerOptions::explicitRanges_data()
{
    QTest::addColumn<QString>("range");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("host inside") << QStringLiteral("127.0.0.2/32") << QStringLiteral("127.0.0.2") << true;
    QTest::newRow("host outside") << QStringLiteral("127.0.0.2/32") << QStringLiteral("127.0.0.1") << false;
    QTest::newRow("bare host") << QStringLiteral("10.1.1.1") << QStringLiteral("10.1.1.1") << true;
    QTest::newRow("/24 edge") << QStringLiteral("10.1.2.0/24") << QStringLiteral("10.1.2.255") << true;
    QTest::newRow("/24 past") << QStringLiteral("10.1.2.0/24") << QStringLiteral("10.1.3.0") << false;
    QTest::newRow("/0") << QStringLiteral("0.0.0.0/0") << QStringLiteral("1.2.3.4") << true;
    QTest::newRow("mapped peer") << QStringLiteral("10.0.0.0/8") << QStringLiteral("::ffff:10.9.9.9") << true;
    QTest::newRow("mapped range") << QStringLiteral("::ffff:10.0.0.0/104") << QStringLiteral("10.9.9.9") << true;
    QTest::newRow("IPv6") << QStringLiteral("fd00::/8") << QStringLiteral("fd12::1") << true;
    QTest::newRow("IPv6 range, IPv4 peer") << QStringLiteral("fd00::/8") << QStringLiteral("10.0.0.1") << false;
}

void TestServerOptions::explicitRanges()
{
    QFETCH(QString, range);
    QFETCH(QString, peer);
    QFETCH(bool, allowed);
    AllowList list;
    QVERIFY(list.add(range));
    QCOMPARE(list.allows(QHostAddress(peer)), allowed);
}

void TestServerOptions::badRanges_data()
{
    QTest::addColumn<QString>("range");
    QTest::newRow("empty") << QString();
    QTest::newRow("words") << QStringLiteral("office");
    QTest::newRow("prefix too long") << QStringLiteral("10.0.0.0/33");
    QTest::newRow("negative prefix") << QStringLiteral("10.0.0.0/-1");
    QTest::newRow("no prefix") << QStringLiteral("10.0.0.0/");
    QTest::newRow("bad octet") << QStringLiteral("10.0.0.256/8");
}

void TestServerOptions::badRanges()
{
    QFETCH(QString, range);
    AllowList list;
    QVERIFY(!list.add(range));
    QVERIFY(list.isEmpty());
}

void TestServerOptions::defaults()
{
    ServerOptions options;
    QCOMPARE(options.parse({QStringLiteral("harrox")}), ServerOptions::Action::Run);
    QCOMPARE(options.listenAddress(), QHostAddress(QHostAddress::AnyIPv4));
    QCOMPARE(options.port(), quint16(5001));
    QCOMPARE(options.maxClients(), 500);
    QCOMPARE(options.allowList().ranges().size(), AllowList::lanDefaultRanges().size());
    QVERIFY(options.databasePath().endsWith(QStringLiteral("/harrox/harrox.db")));
}

void TestServerOptions::parses()
{
    ServerOptions options;
    const QStringList arguments = {QStringLiteral("harrox"), QStringLiteral("--listen"),
                                   QStringLiteral("127.0.0.1"), QStringLiteral("--port=0"),
                                   QStringLiteral("--db"), QStringLiteral("/tmp/x.db"),
                                   QStringLiteral("--allow"), QStringLiteral("127.0.0.2/32"),
                                   QStringLiteral("--allow"), QStringLiteral("10.0.0.0/8"),
                                   QStringLiteral("--max-clients"), QStringLiteral("2"),
                                   QStringLiteral("--request-timeout"), QStringLiteral("300")};
    QCOMPARE(options.parse(arguments), ServerOptions::Action::Run);
    QCOMPARE(options.listenAddress(), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(options.port(), quint16(0));
    QCOMPARE(options.databasePath(), QStringLiteral("/tmp/x.db"));
    QCOMPARE(options.allowList().ranges(),
             QStringList({QStringLiteral("127.0.0.2/32"), QStringLiteral("10.0.0.0/8")}));
    QVERIFY(!options.allowList().allows(QHostAddress(QStringLiteral("127.0.0.1"))));
    QCOMPARE(options.maxClients(), 2);
    QCOMPARE(options.requestTimeoutMs(), 300);
}

void TestServerOptions::refuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("port too big") << QStringList{QStringLiteral("--port"), QStringLiteral("70000")};
    QTest::newRow("port not a number") << QStringList{QStringLiteral("--port"), QStringLiteral("http")};
    QTest::newRow("bad listen") << QStringList{QStringLiteral("--listen"), QStringLiteral("everywhere")};
    QTest::newRow("bad allow") << QStringList{QStringLiteral("--allow"), QStringLiteral("lan")};
    QTest::newRow("no clients") << QStringList{QStringLiteral("--max-clients"), QStringLiteral("0")};
    QTest::newRow("bad timeout") << QStringList{QStringLiteral("--request-timeout"), QStringLiteral("-1")};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--verbose")};
    QTest::newRow("stray argument") << QStringList{QStringLiteral("serve")};
    QTest::newRow("missing value") << QStringList{QStringLiteral("--port")};
}

void TestServerOptions::refuses()
{
    QFETCH(QStringList, arguments);
    ServerOptions options;
    arguments.prepend(QStringLiteral("harrox"));
    QCOMPARE(options.parse(arguments), ServerOptions::Action::Fail);
    QVERIFY(!options.message().isEmpty());
}

void TestServerOptions::helpAndVersion()
{
    ServerOptions help;
    QCOMPARE(help.parse({QStringLiteral("harrox"), QStringLiteral("--help")}),
             ServerOptions::Action::ShowHelp);
    QVERIFY(help.message().contains(QStringLiteral("--allow")));
    ServerOptions version;
    QCOMPARE(version.parse({QStringLiteral("harrox"), QStringLiteral("--version")}),
             ServerOptions::Action::ShowVersion);
    QVERIFY(version.message().startsWith(QStringLiteral("harrox ")));
}

void TestServerOptions::databaseFollowsXdg()
{
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", "/tmp/harrox-xdg-test");
    const QString path = ServerOptions::defaultDatabasePath();
    if (saved.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", saved);
    QCOMPARE(path, QStringLiteral("/tmp/harrox-xdg-test/harrox/harrox.db"));
}

QTEST_GUILESS_MAIN(TestServerOptions)
#include "tst_serveroptions.moc"
