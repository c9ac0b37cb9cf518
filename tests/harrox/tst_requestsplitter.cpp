#include "requestsplitter.h"

#include "wire/cp932.h"

#include <QTest>

// Each case feeds pieces as separate reads and lists what comes out:
// "J|payload|address|count" for a request (J, M, R for the verbs), or the
// name of the error that stopped the stream.
class TestRequestSplitter : public QObject
{
    Q_OBJECT

private slots:
    void splits_data();
    void splits();
    void finishCompletesOrReports_data();
    void finishCompletesOrReports();
    void oversizedWithoutEnd();
    void oversizedComplete();
    void lineCount_data();
    void lineCount();
    void encodingCheck();
};

namespace {

QByteArray sjis(const char *utf8)
{
    return Cp932::encode(QString::fromUtf8(utf8));
}

QString describe(const Request &request)
{
    const char verb = request.verb == Request::Verb::Join      ? 'J'
                      : request.verb == Request::Verb::Message ? 'M'
                                                               : 'R';
    return QStringLiteral("%1|%2|%3|%4")
        .arg(QString(QLatin1Char(verb)), request.text(), QString::fromLatin1(request.address),
             QString::fromLatin1(request.lineCount));
}

QString statusName(RequestSplitter::Status status)
{
    switch (status) {
    case RequestSplitter::Status::NeedMore:
        return QStringLiteral("NeedMore");
    case RequestSplitter::Status::Ready:
        return QStringLiteral("Ready");
    case RequestSplitter::Status::UnknownVerb:
        return QStringLiteral("UnknownVerb");
    case RequestSplitter::Status::Oversized:
        return QStringLiteral("Oversized");
    case RequestSplitter::Status::MissingSeparators:
        return QStringLiteral("MissingSeparators");
    }
    return {};
}

// Feeds the pieces one read at a time, taking every request after each.
QStringList run(RequestSplitter &splitter, const QByteArrayList &pieces)
{
    QStringList out;
    for (const QByteArray &piece : pieces) {
        splitter.feed(piece);
        for (;;) {
            Request request;
            const RequestSplitter::Status status = splitter.next(&request);
            if (status == RequestSplitter::Status::Ready) {
                out << describe(request);
                continue;
            }
            if (status != RequestSplitter::Status::NeedMore) {
                out << statusName(status);
                return out;
            }
            break;
        }
    }
    return out;
}

} // namespace

void TestRequestSplitter::splits_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QStringList>("expected");

    const QByteArray join = "CanEnter?bob/*/~10.0.0.5/**/10";
    const QByteArray message = "NormalTelhello/*/~10.0.0.5/**/20";
    const QByteArray refresh = "/Reflesh//*/~10.0.0.5/**/30";
    const QString joined = QStringLiteral("J|bob|10.0.0.5|10");
    const QString said = QStringLiteral("M|hello|10.0.0.5|20");
    const QString refreshed = QStringLiteral("R||10.0.0.5|30");

    QTest::newRow("join") << QByteArrayList{join} << QStringList{joined};
    QTest::newRow("message") << QByteArrayList{message} << QStringList{said};
    QTest::newRow("refresh") << QByteArrayList{refresh} << QStringList{refreshed};
    QTest::newRow("three in one read")
        << QByteArrayList{join + message + refresh} << QStringList{joined, said, refreshed};
    // The worst case of answering when a read ends after the count
    // separator: an empty count is a count (10 lines), and the digits that
    // follow in later reads are dropped, never taken for a request.
    QTest::newRow("one byte a read") << QByteArrayList{[&] {
        QByteArrayList bytes;
        for (const char c : join + message)
            bytes << QByteArray(1, c);
        return bytes;
    }()} << QStringList{QStringLiteral("J|bob|10.0.0.5|"), QStringLiteral("M|hello|10.0.0.5|")};
    QTest::newRow("split in the verb") << QByteArrayList{"Norma", "lTelhello/*/~10.0.0.5/**/20"}
                                       << QStringList{said};
    QTest::newRow("split in the separator")
        << QByteArrayList{"NormalTelhello/*", "/~10.0.0.5/*", "*/20"} << QStringList{said};
    QTest::newRow("split before the count")
        << QByteArrayList{"NormalTelhello/*/~10.0.0.5/**/", "20"}
        << QStringList{QStringLiteral("M|hello|10.0.0.5|")};
    QTest::newRow("split inside the count, then more")
        << QByteArrayList{"/Reflesh//*/~10.0.0.5/**/3", "0", refresh}
        << QStringList{QStringLiteral("R||10.0.0.5|3"), refreshed};
    QTest::newRow("split inside the count with the next request")
        << QByteArrayList{"/Reflesh//*/~10.0.0.5/**/3", "0" + join}
        << QStringList{QStringLiteral("R||10.0.0.5|3"), joined};
    QTest::newRow("next request starts in the same read")
        << QByteArrayList{refresh + "Can", "Enter?bob/*/~10.0.0.5/**/10"}
        << QStringList{refreshed, joined};
    QTest::newRow("next request cut after its verb")
        << QByteArrayList{refresh + "NormalTel", "hello/*/~10.0.0.5/**/20"}
        << QStringList{refreshed, said};
    QTest::newRow("separators inside the message")
        << QByteArrayList{"NormalTela/*/~b/**/c /*/ d/*/~10.0.0.5/**/20" + refresh}
        << QStringList{QStringLiteral("M|a/*/~b/**/c /*/ d|10.0.0.5|20"), refreshed};
    QTest::newRow("separators inside the name")
        << QByteArrayList{"CanEnter?x/*/*/~/**/10.0.0.5/*/~10.0.0.5/**/10"}
        << QStringList{QStringLiteral("J|x/*/*/~/**/10.0.0.5|10.0.0.5|10")};
    QTest::newRow("name ending in a slash")
        << QByteArrayList{"CanEnter?a//*/~10.0.0.5/**/10"}
        << QStringList{QStringLiteral("J|a/|10.0.0.5|10")};
    QTest::newRow("empty name and address")
        << QByteArrayList{"CanEnter?/*/~/**/10"} << QStringList{QStringLiteral("J|||10")};
    QTest::newRow("empty count")
        << QByteArrayList{"/Reflesh//*/~10.0.0.5/**/" + join}
        << QStringList{QStringLiteral("R||10.0.0.5|"), joined};
    QTest::newRow("count that is not a number")
        << QByteArrayList{"/Reflesh//*/~10.0.0.5/**/abc " + message}
        << QStringList{QStringLiteral("R||10.0.0.5|abc "), said};
    QTest::newRow("count that is not a number, at the end of a read")
        << QByteArrayList{"/Reflesh//*/~10.0.0.5/**/abc", join}
        << QStringList{QStringLiteral("R||10.0.0.5|abc"), joined};
    QTest::newRow("double-byte name")
        << QByteArrayList{"CanEnter?" + sjis("山田太郎") + "/*/~10.0.0.5/**/10"}
        << QStringList{QString::fromUtf8("J|山田太郎|10.0.0.5|10")};
    // "ソ" is 0x83 0x5C: split between its bytes.
    QTest::newRow("double-byte character split across reads")
        << QByteArrayList{"NormalTel\x83", "\x5C/*/~10.0.0.5/**/10"}
        << QStringList{QString::fromUtf8("M|ソ|10.0.0.5|10")};
    // "×" is 0x81 0x7E: its trail byte is "~", right after "/*/".
    QTest::newRow("tilde as a trail byte after slash-star-slash")
        << QByteArrayList{"NormalTela/*/" + sjis("×") + "/*/~10.0.0.5/**/10"}
        << QStringList{QString::fromUtf8("M|a/*/×|10.0.0.5|10")};
    // 0x83 0x43 is one double-byte character: its "C" must not be taken for
    // the start of "CanEnter?" in a count.
    QTest::newRow("verb letters as trail bytes in a count")
        << QByteArrayList{"/Reflesh//*/~10.0.0.5/**/\x83" "CanEnter?"}
        << QStringList{QStringLiteral("R||10.0.0.5|\x83" "CanEnter?")};
    QTest::newRow("unknown verb") << QByteArrayList{"HELLO/*/~1/**/10"}
                                  << QStringList{QStringLiteral("UnknownVerb")};
    QTest::newRow("unknown verb after a request")
        << QByteArrayList{join, "GET / HTTP/1.0\r\n\r\n"}
        << QStringList{joined, QStringLiteral("UnknownVerb")};
    QTest::newRow("verb prefix waits") << QByteArrayList{"Norm"} << QStringList{};
    QTest::newRow("no separators yet waits") << QByteArrayList{"CanEnter?bob"} << QStringList{};
    QTest::newRow("address separator without count separator waits")
        << QByteArrayList{"CanEnter?bob/*/~10.0.0.5"} << QStringList{};
}

void TestRequestSplitter::splits()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QStringList, expected);
    RequestSplitter splitter;
    QCOMPARE(run(splitter, pieces), expected);
}

void TestRequestSplitter::finishCompletesOrReports_data()
{
    QTest::addColumn<QByteArray>("buffered");
    QTest::addColumn<QString>("expected");

    QTest::newRow("nothing") << QByteArray() << QStringLiteral("NeedMore");
    QTest::newRow("no separators") << QByteArray("CanEnter?bob")
                                   << QStringLiteral("MissingSeparators");
    QTest::newRow("verb prefix") << QByteArray("Can") << QStringLiteral("MissingSeparators");
    QTest::newRow("count then a verb prefix")
        << QByteArray("/Reflesh//*/~1/**/10Can") << QStringLiteral("R||1|10Can");
}

void TestRequestSplitter::finishCompletesOrReports()
{
    QFETCH(QByteArray, buffered);
    QFETCH(QString, expected);
    RequestSplitter splitter;
    splitter.feed(buffered);
    Request request;
    QCOMPARE(splitter.next(&request), RequestSplitter::Status::NeedMore);
    const RequestSplitter::Status status = splitter.finish(&request);
    QCOMPARE(status == RequestSplitter::Status::Ready ? describe(request) : statusName(status),
             expected);
}

void TestRequestSplitter::oversizedWithoutEnd()
{
    RequestSplitter splitter;
    splitter.feed("NormalTel");
    const QByteArray filler(1024, 'x');
    Request request;
    for (int i = 0; i < 63; ++i) {
        splitter.feed(filler);
        QCOMPARE(splitter.next(&request), RequestSplitter::Status::NeedMore);
    }
    splitter.feed(filler);
    QCOMPARE(splitter.next(&request), RequestSplitter::Status::Oversized);
}

void TestRequestSplitter::oversizedComplete()
{
    RequestSplitter splitter;
    splitter.feed("NormalTel" + QByteArray(RequestSplitter::MaxRequestBytes, 'x')
                  + "/*/~1/**/10");
    Request request;
    QCOMPARE(splitter.next(&request), RequestSplitter::Status::Oversized);

    RequestSplitter fits;
    const QByteArray tail = "/*/~1/**/10";
    fits.feed("NormalTel"
              + QByteArray(RequestSplitter::MaxRequestBytes - 9 - tail.size(), 'x') + tail);
    QCOMPARE(fits.next(&request), RequestSplitter::Status::Ready);
}

void TestRequestSplitter::lineCount_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("lines");

    QTest::newRow("ten") << QByteArray("10") << 10;
    QTest::newRow("fifty") << QByteArray("50") << 50;
    QTest::newRow("zero") << QByteArray("0") << 0;
    QTest::newRow("leading zeros") << QByteArray("007") << 7;
    QTest::newRow("the most") << QByteArray("1000") << 1000;
    QTest::newRow("more than the most") << QByteArray("1001") << 1000;
    QTest::newRow("huge") << QByteArray("99999999999999999999999") << 1000;
    QTest::newRow("empty") << QByteArray() << 10;
    QTest::newRow("letters") << QByteArray("abc") << 10;
    QTest::newRow("negative") << QByteArray("-5") << 10;
    QTest::newRow("space") << QByteArray(" 20") << 10;
    QTest::newRow("wide digits") << sjis("２０") << 10;
}

void TestRequestSplitter::lineCount()
{
    QFETCH(QByteArray, text);
    QFETCH(int, lines);
    QCOMPARE(ChatProtocol::lineCountFrom(text), lines);
}

void TestRequestSplitter::encodingCheck()
{
    Request request;
    request.payload = sjis("こんにちは");
    QVERIFY(request.hasValidEncoding());
    request.payload = "ok\x81";
    QVERIFY(!request.hasValidEncoding());
    request.payload = "\xFF\xFE";
    QVERIFY(!request.hasValidEncoding());
}

QTEST_GUILESS_MAIN(TestRequestSplitter)
#include "tst_requestsplitter.moc"
