#pragma once

#include <QDateTime>

// The wall clock, to the whole second as the design reads it. Tests pass a
// fixed or stepped clock instead of sleeping.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock
{
public:
    QDateTime now() const override
    {
        const QDateTime t = QDateTime::currentDateTime();
        return t.addMSecs(-t.time().msec());
    }
};
