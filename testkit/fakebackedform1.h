#pragma once

#include "fakes.h"
#include "form1.h"
#include "module1.h"

#include <utility>

// The main window on fakes, as the tests, the benchmarks and the screenshot
// tool drive it: message boxes and help launches are recorded, not shown,
// and the clock is the wall clock or one the caller sets.
template<typename ClockType = SystemClock>
struct FakeBackedForm1
{
    template<typename... ClockArgs>
    explicit FakeBackedForm1(ClockArgs &&...clockArgs)
        : clock(std::forward<ClockArgs>(clockArgs)...)
    {
    }

    Module1 module;
    RecordingMessageBox box;
    RecordingShellOpen shell;
    ClockType clock;
    form1 window{module, box, clock, shell};
};
