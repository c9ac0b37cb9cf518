#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>

// Serves events until done() or the time is up; false on time-out. For
// benchmarks and tools, which have no QTRY_* to wait with. It sleeps between
// events, waking every few ms for what no event announces: a busy loop
// would take a core from the programs being measured.
inline bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    QTimer wake;
    wake.start(2);
    while (!done() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return done();
}

// Serves events for ms, as a program that waits does.
inline void serveFor(int ms)
{
    waitUntil([] { return false; }, ms);
}
