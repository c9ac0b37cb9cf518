// One layout pass of the main window: the arithmetic alone with fixed
// metrics, and the window's whole pass with the toolkit's real metrics and
// the placing of every control.
#include "displaylayout.h"
#include "fakebackedform1.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace {

class FixedMetrics final : public DisplayLayout::Metrics
{
public:
    float labelWidth(DisplayLayout::Control, int p) const override { return float(p * 60); }
    float labelHeight(DisplayLayout::Control, int p) const override { return float(p * 20 + 60); }
    float lineBoxHeight(DisplayLayout::Control, int p) const override { return float(p * 20 + 120); }
    float comboHeight(DisplayLayout::Control, int p) const override { return float(p * 20 + 150); }
};

void BM_LayoutArithmetic(benchmark::State &state)
{
    DisplayLayout::Geometry g = DisplayLayout::designGeometry();
    const FixedMetrics metrics;
    int k = 0;
    for (auto _ : state) {
        const int item = k++ % 3;
        benchmark::DoNotOptimize(DisplayLayout::run(g, {9000, 6000, 9120, 300},
                                                    item == 0           ? 18
                                                            : item == 1 ? 14
                                                                        : 9,
                                                    item, metrics));
    }
}

void BM_WindowPass(benchmark::State &state)
{
    FakeBackedForm1<> desk;
    form1 &window = desk.window;
    window.resize(900, 600);
    window.show();
    QCoreApplication::processEvents();
    int width = 0;
    for (auto _ : state) {
        // A drag of the window edge: the size changes a little each pass.
        window.resize(880 + (width++ % 40), 600);
        window.Form_Resize();
    }
}

} // namespace

BENCHMARK(BM_LayoutArithmetic);
BENCHMARK(BM_WindowPass)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
