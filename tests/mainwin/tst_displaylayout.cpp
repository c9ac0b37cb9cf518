// The layout pass in twips, with made-up font metrics, against geometry
// worked out by hand from the steps of the pass.
#include "displaylayout.h"

#include <QTest>

using L = DisplayLayout;

namespace {

// Label width: 20 twips per point per character; heights grow by 20 twips a point.
class FakeMetrics final : public DisplayLayout::Metrics
{
public:
    float labelWidth(L::Control label, int points) const override
    {
        const int characters[] = {2, 3, 9, 7}; // 名前, 送信文, 文字サイズ(pt), 表示行数(行)
        return float(characters[label - L::Label1] * points * 20);
    }
    float labelHeight(L::Control, int points) const override { return float(points * 20 + 60); }
    float lineBoxHeight(L::Control, int points) const override { return float(points * 20 + 120); }
    float comboHeight(L::Control, int points) const override { return float(points * 20 + 150); }
};

const L::Window Wide{9000, 6000, 9120, 300};

using Rect = std::array<float, 4>; // left, top, width, height
using Expected = std::array<Rect, L::ControlCount>;

Rect rect(const L::Place &p)
{
    return {p.left, p.top, p.width, p.height};
}

} // namespace

Q_DECLARE_METATYPE(Expected)
class tst_DisplayLayout : public QObject
{
    Q_OBJECT

private slots:
    void fullPass_data()
    {
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("points");
        QTest::addColumn<Expected>("expected");
        //                              Label1                Label2                Label3
        //                              Label4                Text1                 Text2
        //                              Text3                 Text4                 Command1
        //                              Command2              Command3              Combo3    Combo4
        QTest::newRow("小さい") << 2 << 9
                                << Expected{{{50, 400, 360, 240}, {50, 890, 540, 240}, {50, 1530, 1620, 240}, {2462, 1530, 1260, 240}, {960, 350, 1000, 300}, {960, 780, 6836, 300}, {0, 1800, 6300, 3920}, {6300, 1800, 2700, 3300}, {7796, 780, 1194, 300}, {6390, 5100, 2565, 310}, {6390, 5410, 2565, 310}, {1670, 1440, 732, 330}, {3752, 1440, 732, 330}}};
        QTest::newRow("大きい") << 0 << 18
                                << Expected{{{50, 400, 720, 420}, {50, 1070, 1080, 420}, {50, 1890, 3240, 420}, {4082, 1890, 2520, 420}, {1320, 350, 1000, 480}, {1320, 960, 5046, 480}, {0, 2340, 6300, 3380}, {6300, 2340, 2700, 2400}, {6366, 960, 2624, 480}, {6390, 4740, 2565, 490}, {6390, 5230, 2565, 490}, {3290, 1800, 732, 510}, {6632, 1800, 732, 510}}};
    }

    void fullPass()
    {
        QFETCH(int, item);
        QFETCH(int, points);
        QFETCH(Expected, expected);
        L::Geometry g = L::designGeometry();
        QCOMPARE(L::run(g, Wide, points, item, FakeMetrics()), L::Reached::End);
        for (int c = 0; c < L::ControlCount; ++c) {
            QCOMPARE(rect(g[c]), expected[c]);
            // The text size is not the display size's.
            QCOMPARE(g[c].fontPoints, c == L::Text3 || c == L::Text4 ? 0 : points);
        }
    }

    void passEndsEarly_data()
    {
        QTest::addColumn<QString>("before"); // the last pass: none, full, or full with small buttons
        QTest::addColumn<L::Window>("window");
        QTest::addColumn<L::Reached>("reached");
        QTest::addColumn<int>("lastFont"); // the last control the new font reached
        QTest::addColumn<int>("kept"); // a control this pass leaves as it was
        // Guard A: Label1 360 + 500 + Command1's designed 972. Guard B: the status
        // bar 300 + Label3's bottom 1770 + 10. Guard C: that + the buttons' heights,
        // designed 252 + 252, after a full pass 310 + 310.
        QTest::newRow("guard A at equality") << "" << L::Window{1832, 6000, 1832, 300} << L::Reached::GuardA
                                             << int(L::Label2) << int(L::Text2);
        QTest::newRow("past guard A, the message box negative") << "" << L::Window{1833, 6000, 1833, 300}
                                                                << L::Reached::NegativeSize << int(L::Label2) << int(L::Command1);
        QTest::newRow("guard B at equality") << "" << L::Window{9000, 2080, 9120, 300} << L::Reached::GuardB
                                             << int(L::Combo4) << int(L::Text3);
        QTest::newRow("guard C at equality") << "" << L::Window{9000, 2584, 9120, 300} << L::Reached::GuardC
                                             << int(L::Combo4) << int(L::Command2);
        QTest::newRow("guard C after a full pass") << "full" << L::Window{9000, 2700, 9120, 300}
                                                   << L::Reached::GuardC << int(L::Combo4) << int(L::Text4);
        // The buttons grow in this pass after guard C passed with their old heights.
        QTest::newRow("side area negative") << "small buttons" << L::Window{9000, 2600, 9120, 300}
                                            << L::Reached::NegativeSize << int(L::Combo4) << int(L::Text4);
        QTest::newRow("minimised") << "full" << L::Window{} << L::Reached::GuardA << int(L::Label2) << int(L::Text3);
    }

    void passEndsEarly()
    {
        QFETCH(QString, before);
        QFETCH(L::Window, window);
        QFETCH(L::Reached, reached);
        QFETCH(int, lastFont);
        QFETCH(int, kept);
        L::Geometry g = L::designGeometry();
        if (!before.isEmpty())
            L::run(g, Wide, 9, 2, FakeMetrics());
        if (before == u"small buttons")
            g[L::Command2].height = g[L::Command3].height = 1;
        const L::Geometry last = g;
        QCOMPARE(L::run(g, window, 9, 2, FakeMetrics()), reached);
        QCOMPARE(g[lastFont].fontPoints, 9);
        QCOMPARE(g[kept].fontPoints, last[kept].fontPoints);
        QCOMPARE(rect(g[kept]), rect(last[kept]));
        for (const L::Place &p : g)
            QVERIFY(p.width >= 0 && p.height >= 0);
        // The next pass in a wide window lays out all as a first one would.
        QCOMPARE(L::run(g, Wide, 9, 2, FakeMetrics()), L::Reached::End);
        L::Geometry fresh = L::designGeometry();
        L::run(fresh, Wide, 9, 2, FakeMetrics());
        for (int c = 0; c < L::ControlCount; ++c)
            QCOMPARE(rect(g[c]), rect(fresh[c]));
    }
};

QTEST_GUILESS_MAIN(tst_DisplayLayout)
#include "tst_displaylayout.moc"
