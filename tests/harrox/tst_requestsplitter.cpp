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
    void oversized();
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
    static const QStringList names{QStringLiteral("NeedMore"), QStringLiteral("Ready"),
                                   QStringLiteral("UnknownVerb"), QStringLiteral("Oversized"),
                                   QStringLiteral("MissingSeparators")};
    return names.at(int(status));
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

    const QByteArray join = "CanEnter?bob/*/~127.0.0.5/**/10";
    const QByteArray message = "NormalTelhello/*/~127.0.0.5/**/20";
    const QByteArray refresh = "/Reflesh//*/~127.0.0.5/**/30";
    const QString joined = QStringLiteral("J|bob|127.0.0.5|10");
    const QString said = QStringLiteral("M|hello|127.0.0.5|20");
    const QString refreshed = QStringLiteral("R||127.0.0.5|30");

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
    }()} << QStringList{QStringLiteral("J|bob|127.0.0.5|"), QStringLiteral("M|hello|127.0.0.5|")};
    QTest::newRow("split in the verb") << QByteArrayList{"Norma", "lTelhello/*/~127.0.0.5/**/20"}
                                       << QStringList{said};
    QTest::newRow("split in the separator")
        << QByteArrayList{"NormalTelhello/*", "/~127.0.0.5/*", "*/20"} << QStringList{said};
    QTest::newRow("split before the count")
        << QByteArrayList{"NormalTelhello/*/~127.0.0.5/**/", "20"}
        << QStringList{QStringLiteral("M|hello|127.0.0.5|")};
    QTest::newRow("split inside the count, then more")
        << QByteArrayList{"/Reflesh//*/~127.0.0.5/**/3", "0", refresh}
        << QStringList{QStringLiteral("R||127.0.0.5|3"), refreshed};
    QTest::newRow("split inside the count with the next request")
        << QByteArrayList{"/Reflesh//*/~127.0.0.5/**/3", "0" + join}
        << QStringList{QStringLiteral("R||127.0.0.5|3"), joined};
    QTest::newRow("next request starts in the same read")
        << QByteArrayList{refresh + "Can", "Enter?bob/*/~127.0.0.5/**/10"}
        << QStringList{refreshed, joined};
    QTest::newRow("separators inside the message")
        << QByteArrayList{"NormalTela/*/~b/**/c /*/ d/*/~127.0.0.5/**/20" + refresh}
        << QStringList{QStringLiteral("M|a/*/~b/**/c /*/ d|127.0.0.5|20"), refreshed};
    QTest::newRow("separators inside the name")
        << QByteArrayList{"CanEnter?x/*/*/~/**/127.0.0.5/*/~127.0.0.5/**/10"}
        << QStringList{QStringLiteral("J|x/*/*/~/**/127.0.0.5|127.0.0.5|10")};
    QTest::newRow("name ending in a slash")
        << QByteArrayList{"CanEnter?a//*/~127.0.0.5/**/10"}
        << QStringList{QStringLiteral("J|a/|127.0.0.5|10")};
    QTest::newRow("empty name and address")
        << QByteArrayList{"CanEnter?/*/~/**/10"} << QStringList{QStringLiteral("J|||10")};
    QTest::newRow("empty count")
        << QByteArrayList{"/Reflesh//*/~127.0.0.5/**/" + join}
        << QStringList{QStringLiteral("R||127.0.0.5|"), joined};
    QTest::newRow("count that is not a number")
        << QByteArrayList{"/Reflesh//*/~127.0.0.5/**/abc " + message}
        << QStringList{QStringLiteral("R||127.0.0.5|abc "), said};
    QTest::newRow("double-byte name")
        << QByteArrayList{"CanEnter?" + sjis("山田太郎") + "/*/~127.0.0.5/**/10"}
        << QStringList{QString::fromUtf8("J|山田太郎|127.0.0.5|10")};
    // "ソ" is 0x83 0x5C: split between its bytes.
    QTest::newRow("double-byte character split across reads")
        << QByteArrayList{"NormalTel\x83", "\x5C/*/~127.0.0.5/**/10"}
        << QStringList{QString::fromUtf8("M|ソ|127.0.0.5|10")};
    // "×" is 0x81 0x7E: its trail byte is "~", right after "/*/".
    QTest::newRow("tilde as a trail byte after slash-star-slash")
        << QByteArrayList{"NormalTela/*/" + sjis("×") + "/*/~127.0.0.5/**/10"}
        << QStringList{QString::fromUtf8("M|a/*/×|127.0.0.5|10")};
    // 0x83 0x43 is one double-byte character: its "C" must not be taken for
    // the start of "CanEnter?" in a count.
    QTest::newRow("verb letters as trail bytes in a count")
        << QByteArrayList{"/Reflesh//*/~127.0.0.5/**/\x83" "CanEnter?"}
        << QStringList{QStringLiteral("R||127.0.0.5|\x83" "CanEnter?")};
    QTest::newRow("unknown verb") << QByteArrayList{"HELLO/*/~1/**/10"}
                                  << QStringList{QStringLiteral("UnknownVerb")};
    QTest::newRow("unknown verb after a request")
        << QByteArrayList{join, "GET / HTTP/1.0\r\n\r\n"}
        << QStringList{joined, QStringLiteral("UnknownVerb")};
    QTest::newRow("verb prefix waits") << QByteArrayList{"Norm"} << QStringList{};
    QTest::newRow("no separators yet waits") << QByteArrayList{"CanEnter?bob"} << QStringList{};
    QTest::newRow("address separator without count separator waits")
        << QByteArrayList{"CanEnter?bob/*/~127.0.0.5"} << QStringList{};
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

void TestRequestSplitter::oversized()
{
    // Without an end in sight, and complete but one byte too long.
    RequestSplitter open;
    open.feed("NormalTel" + QByteArray(RequestSplitter::MaxRequestBytes - 9, 'x'));
    Request request;
    QCOMPARE(open.next(&request), RequestSplitter::Status::NeedMore);
    open.feed("x");
    QCOMPARE(open.next(&request), RequestSplitter::Status::Oversized);

    const QByteArray tail = "/*/~1/**/10";
    const qsizetype body = RequestSplitter::MaxRequestBytes - 9 - tail.size();
    RequestSplitter fits;
    fits.feed("NormalTel" + QByteArray(body, 'x') + tail);
    QCOMPARE(fits.next(&request), RequestSplitter::Status::Ready);
    RequestSplitter over;
    over.feed("NormalTel" + QByteArray(body + 1, 'x') + tail);
    QCOMPARE(over.next(&request), RequestSplitter::Status::Oversized);
}

QTEST_GUILESS_MAIN(TestRequestSplitter)
#include "tst_requestsplitter.moc"
