#include "requestsplitter.h"

#include "wire/cp932.h"

#include <QTest>

// Each case feeds pieces as separate reads ("<finish>": nothing more comes)
// and lists what comes out: "J|payload|address|count" for a request (J, M,
// R for the verbs), or the status that stopped the stream.
namespace {

QString take(RequestSplitter &splitter, bool finish)
{
    Request r;
    const RequestSplitter::Status status = finish ? splitter.finish(&r) : splitter.next(&r);
    if (status != RequestSplitter::Status::Ready)
        return QString::number(int(status));
    const char verb = "JMR"[int(r.verb)];
    return QStringLiteral("%1|%2|%3|%4").arg(QLatin1Char(verb)).arg(r.text(), QLatin1String(r.address), QLatin1String(r.lineCount));
}

} // namespace

class TestRequestSplitter : public QObject
{
    Q_OBJECT

private slots:
    void splits_data();
    void splits();
};

void TestRequestSplitter::splits_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QStringList>("expected");
    const QByteArray join = "CanEnter?bob/*/~127.0.0.5/**/10";
    const QByteArray refresh = "/Reflesh//*/~127.0.0.5/**/30";
    const QString joined = QStringLiteral("J|bob|127.0.0.5|10");
    const QString refreshed = QStringLiteral("R||127.0.0.5|30");
    const QString unknownVerb = QString::number(int(RequestSplitter::Status::UnknownVerb));
    const QString missing = QString::number(int(RequestSplitter::Status::MissingSeparators));
    const QString oversized = QString::number(int(RequestSplitter::Status::Oversized));
    const QByteArray tail = "/*/~1/**/10";
    const QByteArray longest = "NormalTel" + QByteArray(RequestSplitter::MaxRequestBytes - 9 - tail.size(), 'x');
    QByteArrayList bytes;
    for (const char c : join + "NormalTelhi/*/~1/**/20")
        bytes << QByteArray(1, c);

    QTest::newRow("three in one read") << QByteArrayList{join + "NormalTelhi/*/~1/**/20" + refresh}
                                       << QStringList{joined, QStringLiteral("M|hi|1|20"), refreshed};
    // Answered when a read ends after the count separator: an empty count,
    // and the digits that follow are dropped, never taken for a request.
    QTest::newRow("one byte a read") << bytes << QStringList{QStringLiteral("J|bob|127.0.0.5|"), QStringLiteral("M|hi|1|")};
    QTest::newRow("split in a separator") << QByteArrayList{"CanEnter?bob/*", "/~127.0.0.5/*", "*/10"} << QStringList{joined};
    QTest::newRow("split in the count, then more") << QByteArrayList{"/Reflesh//*/~127.0.0.5/**/3", "0" + join}
                                                   << QStringList{QStringLiteral("R||127.0.0.5|3"), joined};
    QTest::newRow("next verb split") << QByteArrayList{refresh + "Can", "Enter?bob/*/~127.0.0.5/**/10"}
                                     << QStringList{refreshed, joined};
    QTest::newRow("separators in the message") << QByteArrayList{"NormalTela/*/~b/**/c /*/ d/*/~1/**/20" + refresh}
                                               << QStringList{QStringLiteral("M|a/*/~b/**/c /*/ d|1|20"), refreshed};
    QTest::newRow("name ending in a slash") << QByteArrayList{"CanEnter?a//*/~1/**/10"} << QStringList{QStringLiteral("J|a/|1|10")};
    QTest::newRow("count that is not a number") << QByteArrayList{"/Reflesh//*/~1/**/abc " + join}
                                                << QStringList{QStringLiteral("R||1|abc "), joined};
    // "ソ" is 0x83 0x5C, cut between its bytes; "×" is 0x81 0x7E, a "~"
    // after "/*/"; 0x83 0x43 holds the "C" of "CanEnter?".
    QTest::newRow("double-byte cut") << QByteArrayList{"NormalTel\x83", "\x5C/*/~1/**/10"} << QStringList{QString::fromUtf8("M|ソ|1|10")};
    QTest::newRow("tilde as a trail byte") << QByteArrayList{"NormalTela/*/\x81\x7E/*/~1/**/10"}
                                           << QStringList{QString::fromUtf8("M|a/*/×|1|10")};
    QTest::newRow("verb letters as trail bytes") << QByteArrayList{"/Reflesh//*/~1/**/\x83"
                                                                   "CanEnter?"}
                                                 << QStringList{QStringLiteral("R||1|\x83"
                                                                               "CanEnter?")};
    QTest::newRow("unknown verb after a request") << QByteArrayList{join, "GET / HTTP/1.0\r\n\r\n"} << QStringList{joined, unknownVerb};
    QTest::newRow("no separators, finished") << QByteArrayList{"CanEnter?bob/*/~1", "<finish>"} << QStringList{missing};
    QTest::newRow("verb prefix, finished") << QByteArrayList{"Can", "<finish>"} << QStringList{missing};
    QTest::newRow("count then a verb prefix, finished") << QByteArrayList{"/Reflesh//*/~1/**/10Can", "<finish>"}
                                                        << QStringList{QStringLiteral("R||1|10Can")};
    // Without an end in sight, and complete: at the limit, and one byte over.
    QTest::newRow("unending, one byte over") << QByteArrayList{longest + QByteArray(tail.size(), 'x'), "x"} << QStringList{oversized};
    QTest::newRow("longest") << QByteArrayList{longest + tail + "/Reflesh/"}
                             << QStringList{QStringLiteral("M|%1|1|10").arg(QString(longest.size() - 9, u'x'))};
    QTest::newRow("one byte too long") << QByteArrayList{longest + "x" + tail + "/Reflesh/"} << QStringList{oversized};
}

void TestRequestSplitter::splits()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QStringList, expected);
    RequestSplitter splitter;
    QStringList out;
    const QString needMore = QString::number(int(RequestSplitter::Status::NeedMore));
    for (const QByteArray &piece : pieces) {
        const bool finish = piece == "<finish>";
        if (!finish)
            splitter.feed(piece);
        for (QString next; (next = take(splitter, finish)) != needMore;) {
            out << next;
            if (!next.contains(u'|') || finish)
                break;
        }
    }
    QCOMPARE(out, expected);
}

QTEST_GUILESS_MAIN(TestRequestSplitter)
#include "tst_requestsplitter.moc"
