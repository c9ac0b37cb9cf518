#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

// Serves events until done() or the time is up; false on time-out. For
// benchmarks and tools, which have no QTRY_* to wait with.
inline bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}
