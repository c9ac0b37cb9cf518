#include "displaylayout.h"

#include <algorithm>

namespace {

using C = DisplayLayout::Control;

// Single precision throughout, as the design stores it: each sum or product
// is formed in floating point and stored as a float.
float f(double value)
{
    return static_cast<float>(value);
}

// The design's offsets and proportions, in twips and shares of the width.
constexpr double LabelLeft = 50; // the three labels of the left column
constexpr double NameLabelTop = 400;
constexpr double NameBoxTop = 350;
constexpr double LabelToBox = 550; // Label1's right edge to the name and message boxes
constexpr float NameBoxWidth = 1000;
constexpr double NameToMessageLabel = 250;
constexpr double GuardAMargin = 500; // guard A: Label1, this, then the send button
constexpr double NameToMessageBox = 130;
constexpr double MessageRowReserve = 2200; // times the message-row factor
constexpr double SendButtonRightMargin = 80;
constexpr double MessageToOptionRow = 400;
constexpr double Combo3ToLabel4 = 60;
constexpr double Label4ToCombo4 = 30;
constexpr double OptionRowToAreas = 30;
constexpr double BottomMargin = 10; // also guards B and C
constexpr double ButtonExtraHeight = 10; // Command2 and Command3 over the message box
constexpr double ConversationShare = 0.7;
constexpr double SideShare = 0.3;
constexpr double ButtonColumnShare = 0.71;
constexpr double ButtonWidthShare = 0.95; // of the side area
constexpr double ButtonsAboveAreaBottom = 2;

} // namespace

float DisplayLayout::messageRowFactor(int checkedItem)
{
    switch (checkedItem) {
    case 0:
        return 1.47f;
    case 1:
        return 1.2f;
    default:
        return 0.82f;
    }
}

DisplayLayout::Geometry DisplayLayout::designGeometry()
{
    Geometry g;
    g[Combo4] = {3240, 1080, 732, 276};
    g[Combo3] = {1200, 1080, 732, 276};
    g[Text4] = {3120, 1440, 1452, 1932};
    g[Command3] = {3200, 3720, 1212, 252};
    g[Command2] = {3240, 3480, 1212, 252};
    g[Command1] = {3000, 630, 972, 264};
    g[Text3] = {0, 1440, 3132, 2652};
    g[Text2] = {840, 630, 2052, 264};
    g[Text1] = {840, 270, 1452, 264};
    g[Label4] = {2520, 1080, 1020, 180};
    g[Label3] = {240, 1080, 1116, 180};
    g[Label2] = {180, 720, 540, 180};
    g[Label1] = {360, 360, 360, 180};
    return g;
}

DisplayLayout::Reached DisplayLayout::run(Geometry &g, const Window &win, int points, int checkedItem,
                                          const Metrics &m)
{
    constexpr float X0 = 0;
    constexpr float Y0 = 0;
    const float W = win.width;
    const float H = win.height;
    const float F = float(points);

    auto setFont = [&](C c) {
        g[c].fontPoints = points;
        // A label fits its caption and a list takes its font's height.
        switch (c) {
        case Label1:
        case Label2:
        case Label3:
        case Label4:
            g[c].width = m.labelWidth(c, points);
            g[c].height = m.labelHeight(c, points);
            break;
        case Combo3:
        case Combo4:
            g[c].height = m.comboHeight(c, points);
            break;
        default:
            break;
        }
    };
    // A single-line box never gets lower than one line of its font.
    auto setBoxHeight = [&](C c, float height) {
        g[c].height = std::max(height, m.lineBoxHeight(c, g[c].fontPoints));
    };

    // Name row.
    g[Label1].top = f(Y0 + NameLabelTop);
    g[Label1].left = f(X0 + LabelLeft);
    setFont(Label1);
    g[Text1].top = f(Y0 + NameBoxTop);
    g[Text1].left = f(double(g[Label1].left) + g[Label1].width + LabelToBox);
    g[Text1].width = NameBoxWidth;
    setFont(Text1);
    setBoxHeight(Text1, F);

    // Label of the message row.
    g[Label2].top = f(double(g[Label1].top) + g[Label1].height + NameToMessageLabel);
    g[Label2].left = f(X0 + LabelLeft);
    setFont(Label2);

    if (f(double(g[Label1].width) + GuardAMargin + g[Command1].width) >= W)
        return Reached::GuardA;

    // Message row.
    g[Text2].top = f(double(g[Text1].top) + g[Text1].height + NameToMessageBox);
    g[Text2].left = f(double(g[Label1].left) + g[Label1].width + LabelToBox);
    const float k = messageRowFactor(checkedItem);
    const float text2Width = f(double(W) - g[Label1].width - double(k) * MessageRowReserve);
    if (text2Width < 0)
        return Reached::NegativeSize;
    g[Text2].width = text2Width;
    setFont(Text2);
    setBoxHeight(Text2, F);
    g[Command1].top = g[Text2].top;
    g[Command1].left = f(double(g[Text2].left) + g[Text2].width);
    setFont(Command1);
    g[Command1].height = g[Text2].height;
    const float command1Width = f(double(win.outerWidth) - g[Label2].left - g[Text2].left
                                  - g[Text2].width - SendButtonRightMargin);
    if (command1Width < 0)
        return Reached::NegativeSize;
    g[Command1].width = command1Width;

    // Option row.
    g[Label3].top = f(double(g[Label2].top) + g[Label2].height + MessageToOptionRow);
    g[Label3].left = g[Label2].left;
    setFont(Label3);
    setFont(Combo3);
    g[Combo3].top = f(double(g[Label3].top) + g[Label3].height - g[Combo3].height);
    g[Combo3].left = f(double(g[Label3].left) + g[Label3].width);
    setFont(Label4);
    g[Label4].left = f(double(g[Combo3].left) + g[Combo3].width + Combo3ToLabel4);
    g[Label4].top = g[Label3].top;
    setFont(Combo4);
    g[Combo4].left = f(double(g[Label4].left) + g[Label4].width + Label4ToCombo4);
    g[Combo4].top = f(double(g[Label4].top) + g[Label4].height - g[Combo4].height);

    const double optionRowBottom = double(g[Label3].top) + g[Label3].height;
    if (f(win.statusBarHeight + optionRowBottom + BottomMargin) >= H)
        return Reached::GuardB;

    // Conversation area.
    g[Text3].top = f(optionRowBottom + OptionRowToAreas);
    g[Text3].left = X0;
    g[Text3].width = f(double(W) * ConversationShare);
    g[Text3].height =
            f(double(H) - win.statusBarHeight - g[Label3].top - g[Label3].height - BottomMargin);

    if (f(win.statusBarHeight + optionRowBottom + BottomMargin + g[Command2].height
          + g[Command3].height)
        >= H)
        return Reached::GuardC;

    // Side area and buttons.
    g[Command2].height = f(double(g[Text2].height) + ButtonExtraHeight);
    g[Command3].height = f(double(g[Text2].height) + ButtonExtraHeight);
    const float text4Height = f(double(H) - win.statusBarHeight - g[Label3].top - g[Label3].height
                                - BottomMargin - g[Command2].height - g[Command3].height);
    if (text4Height < 0)
        return Reached::NegativeSize;
    g[Text4].top = f(optionRowBottom + OptionRowToAreas);
    g[Text4].left = f(double(W) * ConversationShare);
    g[Text4].width = f(double(W) * SideShare);
    g[Text4].height = text4Height;
    setFont(Command2);
    g[Command2].top =
            f(double(g[Text3].top) + g[Text3].height - ButtonsAboveAreaBottom * g[Command2].height);
    g[Command2].left = f(double(W) * ButtonColumnShare);
    g[Command2].width = f(double(g[Text4].width) * ButtonWidthShare);
    setFont(Command3);
    g[Command3].top = f(double(g[Text3].top) + g[Text3].height - g[Command2].height);
    g[Command3].left = f(double(W) * ButtonColumnShare);
    g[Command3].width = f(double(g[Text4].width) * ButtonWidthShare);
    return Reached::End;
}
