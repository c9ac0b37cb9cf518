#pragma once

#include <array>

// The main window's layout pass, in twips, as single-precision geometry.
// It places and sizes the controls from the client area's size and gives
// the upper rows and the three buttons the display size's font. The pass
// keeps no state of its own: it works on the geometry the controls hold,
// which the window keeps in a DisplayLayout::Geometry between passes.
class DisplayLayout
{
public:
    enum Control {
        Label1,
        Label2,
        Label3,
        Label4,
        Text1,
        Text2,
        Text3,
        Text4,
        Command1,
        Command2,
        Command3,
        Combo3,
        Combo4,
        ControlCount
    };

    struct Place
    {
        float left = 0;
        float top = 0;
        float width = 0;
        float height = 0;
        int fontPoints = 0; // 0: the window's default font
    };
    using Geometry = std::array<Place, ControlCount>;

    // What the pass reads of the real controls, in twips, for the font the
    // pass has just given them.
    class Metrics
    {
    public:
        virtual ~Metrics() = default;
        // A label's size fitted to its caption.
        virtual float labelWidth(Control label, int points) const = 0;
        virtual float labelHeight(Control label, int points) const = 0;
        // The least height of a single-line box that shows one line.
        virtual float lineBoxHeight(Control box, int points) const = 0;
        // The height a drop-down list takes for its font.
        virtual float comboHeight(Control combo, int points) const = 0;
    };

    struct Window
    {
        float width = 0; // W: the client area, the status bar's strip included
        float height = 0; // H
        float outerWidth = 0; // Wout: frame and borders included
        float statusBarHeight = 0; // SBH
    };

    // How far a pass got.
    enum class Reached { GuardA, GuardB, GuardC, NegativeSize, End };

    // Factor k of the message row for the checked display-size item
    // (0 大きい, 1 中くらい, 2 小さい).
    static float messageRowFactor(int checkedItem);

    // The geometry of the design.
    static Geometry designGeometry();

    // Runs one pass over geometry with font size points and the message-row
    // factor of the checked item.
    static Reached run(Geometry &geometry, const Window &window, int points, int checkedItem,
                       const Metrics &metrics);
};
