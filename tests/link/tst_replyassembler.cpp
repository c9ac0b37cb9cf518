// Replies put together from pieces and pauses at set times, as a socket
// feeds them: each piece at its time, a pause ends a reply when it reaches
// the window the assembler asks for, and silence follows the last piece.
#include "replyassembler.h"

#include <QTest>

class tst_ReplyAssembler : public QObject
{
    Q_OBJECT

private slots:
    void pieces_data()
    {
        QTest::addColumn<QList<qint64>>("linesAndRoundTrip");
        QTest::addColumn<QList<qint64>>("times");
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QByteArrayList>("shown"); // at: +continues !cut bytes
        QTest::newRow("whole by its lines") << QList<qint64>{2, 0} << QList<qint64>{0, 40} << QByteArrayList{"a\r\nb/*/1\r\n", "2\r\n"}
                                            << QByteArrayList{"40:a\r\nb/*/1\r\n2"};
        QTest::newRow("fewer lines: the quiet") << QList<qint64>{10, 0} << QList<qint64>{0} << QByteArrayList{"m/*/1\r\n2"} << QByteArrayList{"150:m/*/1\r\n2"};
        QTest::newRow("round trip widens it") << QList<qint64>{10, 100} << QList<qint64>{0, 240} << QByteArrayList{"m/*/1", "2"} << QByteArrayList{"960:m/*/12"};
        QTest::newRow("slow link: extended, then waited for")
                << QList<qint64>{10, 0} << QList<qint64>{0, 200, 400, 600} << QByteArrayList{"m/*/a", "b", "c", "d"}
                << QByteArrayList{"150:m/*/a", "350:+m/*/ab", "1200:+m/*/abcd"};
        QTest::newRow("next reply begins") << QList<qint64>{10, 0} << QList<qint64>{0, 1000, 1010} << QByteArrayList{"m/*/1", "n/", "*/2"}
                                           << QByteArrayList{"150:m/*/1", "1160:n/*/2"};
        QTest::newRow("notice after a whole reply") << QList<qint64>{1, 0} << QList<qint64>{0, 10} << QByteArrayList{"m/*/1\r\nX", "Y"}
                                                    << QByteArrayList{"0:m/*/1\r\nX", "160:+m/*/1\r\nXY"};
        QTest::newRow("members cut by a pause") << QList<qint64>{1, 0} << QList<qint64>{0, 500} << QByteArrayList{"a\r\n", "b/*/1\r\n"}
                                                << QByteArrayList{"150:a\r\n", "500:+a\r\nb/*/1"};
        // Cut where a double-byte character begins: its lead byte goes too.
        const QByteArray line = "m/*/" + QByteArray(ReplyAssembler::MaxLineBytes - 5, 'a');
        QTest::newRow("endless line") << QList<qint64>{1, 0} << QList<qint64>{0, 1} << QByteArrayList{line + "\x82\xA0" + QByteArray(300000, 'b'), "c\r\nd"}
                                      << QByteArrayList{"1:!" + line + "\x81\x63\nd"};
        // 亜 ends the line's room; its second byte could lead a character, but does not here.
        QTest::newRow("endless line, whole character") << QList<qint64>{1, 0} << QList<qint64>{0} << QByteArrayList{line.chopped(1) + "\x88\x9F" + QByteArray(300000, 'b') + "\r\nd"}
                                                       << QByteArrayList{"0:!" + line.chopped(1) + "\x88\x9F\x81\x63\nd"};
        // The separator by its bytes alone: one that starts again, and none across a line end.
        QTest::newRow("separator after a slash") << QList<qint64>{1, 0} << QList<qint64>{0} << QByteArrayList{"a//*/1\r\n"} << QByteArrayList{"0:a//*/1"};
        QTest::newRow("no separator across a line end") << QList<qint64>{2, 0} << QList<qint64>{0} << QByteArrayList{"a/*\n/b\r\n/*/1\r\n"} << QByteArrayList{"150:a/*\n/b\r\n/*/1"};
        // Lines counted from the separator, wherever the pause fell.
        QTest::newRow("members then lines, in three parts") << QList<qint64>{3, 0} << QList<qint64>{0, 500, 1000} << QByteArrayList{"a\r\n", "b\r\nc/*/1\r\n", "2\r\n"}
                                                            << QByteArrayList{"150:a\r\n", "650:+a\r\nb\r\nc/*/1", "1750:+a\r\nb\r\nc/*/1\r\n2"};
        // Still arriving after ShowEveryMs: shown as it stands, then extended.
        QList<qint64> steady;
        QByteArrayList drops;
        for (int k = 0; k <= 21; ++k) {
            steady << 100 * k;
            drops << (k == 0 ? "m/*/" : "a");
        }
        QTest::newRow("long arrival") << QList<qint64>{10, 0} << steady << drops << QByteArrayList{"2000:m/*/" + QByteArray(20, 'a'), "2250:+m/*/" + QByteArray(21, 'a')};
        // One byte past the most a reply keeps, in one part or in two.
        QByteArray lines;
        for (int k = 0; k < 2048; ++k)
            lines += QByteArray(1022, 'a') + "\r\n";
        const QByteArray first = "m/*/" + lines;
        const QByteArray over = lines + lines.chopped(1024) + QByteArray(1021, 'b');
        QTest::newRow("one byte too many") << QList<qint64>{10, 0} << QList<qint64>{0} << QByteArrayList{"m/*/" + over} << QByteArrayList{"0:!" + ("m/*/" + over).chopped(1)};
        QTest::newRow("one byte too many, continued") << QList<qint64>{10, 0} << QList<qint64>{0, 500} << QByteArrayList{first, lines.chopped(1024) + QByteArray(1021, 'b')}
                                                      << QByteArrayList{"0:" + first.chopped(2), "650:+!" + ("m/*/" + over).chopped(1)};
    }

    void pieces()
    {
        QFETCH(QList<qint64>, linesAndRoundTrip);
        QFETCH(QList<qint64>, times);
        QFETCH(QByteArrayList, pieces);
        QFETCH(QByteArrayList, shown);
        ReplyAssembler assembler;
        assembler.expect(int(linesAndRoundTrip[0]));
        assembler.setRoundTrip(linesAndRoundTrip[1]);
        QByteArrayList seen;
        const auto show = [&](qint64 at) {
            const ReplyAssembler::Reply r = assembler.take();
            seen.append(QByteArray::number(at) + ':' + (r.continues ? "+" : "") + (r.cut ? "!" : "") + r.bytes);
        };
        times.append(std::numeric_limits<qint64>::max()); // then silence
        for (qsizetype k = 0; k < times.size(); ++k) {
            const qint64 last = k > 0 ? times[k - 1] : 0;
            if (assembler.hasUnshown() && times[k] - last >= assembler.quietMs())
                show(last + assembler.quietMs());
            if (k < pieces.size() && assembler.add(pieces[k], times[k]))
                show(times[k]);
            QVERIFY(assembler.heldBytes() <= 2 * ReplyAssembler::MaxReplyBytes);
        }
        QCOMPARE(seen, shown);
    }
};

QTEST_GUILESS_MAIN(tst_ReplyAssembler)
#include "tst_replyassembler.moc"
