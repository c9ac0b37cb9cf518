// The layout pass in twips, with made-up font metrics, against geometry
// worked out by hand from the steps of the pass.
#include "mainwin/displaylayout.h"

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
    void fullPass_data();
    void fullPass();
    void guardAAtEquality();
    void guardBAtEquality();
    void guardCAtEquality();
    void negativeWidthEndsThePass();
    void minimisedWindowEndsAtGuardA();
};

void tst_DisplayLayout::fullPass_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<int>("points");
    QTest::addColumn<Expected>("expected");
    //                              Label1                Label2                Label3
    //                              Label4                Text1                 Text2
    //                              Text3                 Text4                 Command1
    //                              Command2              Command3              Combo3    Combo4
    QTest::newRow("小さい") << 2 << 9
        << Expected{{{50, 400, 360, 240},    {50, 890, 540, 240},    {50, 1530, 1620, 240},
                     {2462, 1530, 1260, 240}, {960, 350, 1000, 300},  {960, 780, 6836, 300},
                     {0, 1800, 6300, 3920},  {6300, 1800, 2700, 3300}, {7796, 780, 1194, 300},
                     {6390, 5100, 2565, 310}, {6390, 5410, 2565, 310},
                     {1670, 1440, 732, 330}, {3752, 1440, 732, 330}}};
    QTest::newRow("中くらい") << 1 << 14
        << Expected{{{50, 400, 560, 340},    {50, 990, 840, 340},    {50, 1730, 2520, 340},
                     {3362, 1730, 1960, 340}, {1160, 350, 1000, 400}, {1160, 880, 5800, 400},
                     {0, 2100, 6300, 3620},  {6300, 2100, 2700, 2800}, {6960, 880, 2030, 400},
                     {6390, 4900, 2565, 410}, {6390, 5310, 2565, 410},
                     {2570, 1640, 732, 430}, {5352, 1640, 732, 430}}};
    QTest::newRow("大きい") << 0 << 18
        << Expected{{{50, 400, 720, 420},    {50, 1070, 1080, 420},  {50, 1890, 3240, 420},
                     {4082, 1890, 2520, 420}, {1320, 350, 1000, 480}, {1320, 960, 5046, 480},
                     {0, 2340, 6300, 3380},  {6300, 2340, 2700, 2400}, {6366, 960, 2624, 480},
                     {6390, 4740, 2565, 490}, {6390, 5230, 2565, 490},
                     {3290, 1800, 732, 510}, {6632, 1800, 732, 510}}};
}

void tst_DisplayLayout::fullPass()
{
    QFETCH(int, item);
    QFETCH(int, points);
    QFETCH(Expected, expected);
    L::Geometry g = L::designGeometry();
    QCOMPARE(L::run(g, Wide, points, item, FakeMetrics()), L::Reached::End);
    for (int c = 0; c < L::ControlCount; ++c) {
        QCOMPARE(rect(g[c]), expected[c]);
        if (c != L::Text3 && c != L::Text4)
            QCOMPARE(g[c].fontPoints, points);
    }
    QCOMPARE(g[L::Text3].fontPoints, 0); // the text size is not the display size's
    // The rules the steps add up to.
    QCOMPARE(g[L::Command1].left + g[L::Command1].width, Wide.outerWidth - 130);
    QCOMPARE(g[L::Text3].top + g[L::Text3].height, Wide.height - Wide.statusBarHeight + 20);
    QCOMPARE(g[L::Command3].top + g[L::Command3].height, g[L::Text3].top + g[L::Text3].height);
    QCOMPARE(g[L::Text1].left, g[L::Text2].left);
}

void tst_DisplayLayout::guardAAtEquality()
{
    L::Geometry g = L::designGeometry();
    // Label1 360 + 500 + Command1's designed 972.
    const L::Window narrow{1832, 6000, 1832, 300};
    QCOMPARE(L::run(g, narrow, 9, 2, FakeMetrics()), L::Reached::GuardA);
    // The name row and the message-row label took the new font; the rest not.
    QCOMPARE(g[L::Label2].fontPoints, 9);
    QCOMPARE(g[L::Text2].fontPoints, 0);
    QCOMPARE(rect(g[L::Text2]), rect(L::designGeometry()[L::Text2]));

    g = L::designGeometry();
    QCOMPARE(L::run(g, {1833, 6000, 1833, 300}, 9, 2, FakeMetrics()), L::Reached::NegativeSize);
}

void tst_DisplayLayout::guardBAtEquality()
{
    L::Geometry g = L::designGeometry();
    // SBH 300 + Label3 bottom 1770 + 10.
    QCOMPARE(L::run(g, {9000, 2080, 9120, 300}, 9, 2, FakeMetrics()), L::Reached::GuardB);
    QCOMPARE(rect(g[L::Text3]), rect(L::designGeometry()[L::Text3]));
    QCOMPARE(g[L::Combo4].fontPoints, 9);
    QCOMPARE(L::run(g, {9000, 2081, 9120, 300}, 9, 2, FakeMetrics()), L::Reached::GuardC);
}

void tst_DisplayLayout::guardCAtEquality()
{
    L::Geometry g = L::designGeometry();
    // ... + the buttons' designed heights 252 + 252.
    QCOMPARE(L::run(g, {9000, 2584, 9120, 300}, 9, 2, FakeMetrics()), L::Reached::GuardC);
    QCOMPARE(g[L::Text3].height, 2584.0f - 300 - 1770 - 10);
    QCOMPARE(rect(g[L::Text4]), rect(L::designGeometry()[L::Text4]));
    QCOMPARE(g[L::Command2].fontPoints, 0);

    // Next pass: the guard reads the heights the last full pass gave (310).
    L::run(g, Wide, 9, 2, FakeMetrics());
    QCOMPARE(L::run(g, {9000, 2700, 9120, 300}, 9, 2, FakeMetrics()), L::Reached::GuardC);
}

void tst_DisplayLayout::negativeWidthEndsThePass()
{
    // Just wider than guard A's limit, the message box would come out negative.
    L::Geometry g = L::designGeometry();
    QCOMPARE(L::run(g, {1900, 6000, 1900, 300}, 9, 2, FakeMetrics()), L::Reached::NegativeSize);
    QCOMPARE(g[L::Text2].width, L::designGeometry()[L::Text2].width);
    for (const L::Place &p : g)
        QVERIFY(p.width >= 0 && p.height >= 0);

    // The side area when the buttons grew in this pass after guard C
    // passed with their old heights.
    g = L::designGeometry();
    L::run(g, Wide, 9, 2, FakeMetrics());
    const float guardCLimit = 300 + 1770 + 10 + 310 + 310;
    g[L::Command2].height = g[L::Command3].height = 1; // as if the last pass had small buttons
    QCOMPARE(L::run(g, {9000, guardCLimit - 100, 9120, 300}, 9, 2, FakeMetrics()),
             L::Reached::NegativeSize);
}

void tst_DisplayLayout::minimisedWindowEndsAtGuardA()
{
    L::Geometry g = L::designGeometry();
    L::run(g, Wide, 9, 2, FakeMetrics());
    const L::Geometry before = g;
    QCOMPARE(L::run(g, L::Window{}, 9, 2, FakeMetrics()), L::Reached::GuardA);
    QCOMPARE(rect(g[L::Text3]), rect(before[L::Text3]));
    QCOMPARE(L::run(g, Wide, 9, 2, FakeMetrics()), L::Reached::End);
    for (int c = 0; c < L::ControlCount; ++c)
        QCOMPARE(rect(g[c]), rect(before[c]));
}

QTEST_GUILESS_MAIN(tst_DisplayLayout)
#include "tst_displaylayout.moc"
