#pragma once

#include <QDateTime>
#include <QString>

#include <memory>

// Formats a wall-clock time as the title clock shows it, in the Japanese era
// calendar: "ggge年m月d日(aaa)AMPMh時n分", for example
// 平成13年3月5日(月)午後3時7分. The era, weekday and morning/afternoon names
// come from ICU's Japanese calendar data.
class EraClock
{
public:
    EraClock();
    ~EraClock();

    // Uses the date and time as the QDateTime shows them (its own zone).
    QString format(const QDateTime &time) const;

private:
    struct Icu;
    std::unique_ptr<Icu> m_icu;
};
