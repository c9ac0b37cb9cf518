#pragma once

#include <algorithm>

// The wait before trying a database that went away again: a quarter second
// at first, doubling to two seconds, none once it answers. A down database
// is not hammered, and one that is back is found within two seconds.
class BackOff
{
public:
    static constexpr int FirstMs = 250;
    static constexpr int MostMs = 2000;

    // A try failed: returns the wait before the next.
    int failed() { return m_ms = m_ms == 0 ? FirstMs : std::min(2 * m_ms, MostMs); }
    void reset() { m_ms = 0; }
    // Zero while the database answers.
    int ms() const { return m_ms; }

private:
    int m_ms = 0;
};
