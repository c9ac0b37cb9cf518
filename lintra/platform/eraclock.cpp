#include "eraclock.h"

#include <unicode/calendar.h>
#include <unicode/dtfmtsym.h>
#include <unicode/gregocal.h>
#include <unicode/timezone.h>

#include <memory>

namespace {

QString toQString(const icu::UnicodeString &s)
{
    return QString(reinterpret_cast<const QChar *>(s.getBuffer()), s.length());
}

} // namespace

struct EraClock::Icu
{
    std::unique_ptr<icu::Calendar> japanese;
    std::unique_ptr<icu::DateFormatSymbols> symbols;
};

EraClock::EraClock() : m_icu(std::make_unique<Icu>())
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale("ja_JP@calendar=japanese");
    // The calendar runs in GMT on the wall-clock fields it is given, so the
    // machine's own zone never shifts the date.
    m_icu->japanese.reset(
            icu::Calendar::createInstance(icu::TimeZone::getGMT()->clone(), locale, status));
    m_icu->symbols = std::make_unique<icu::DateFormatSymbols>(locale, "japanese", status);
    if (U_FAILURE(status))
        qWarning("ICU Japanese calendar unavailable: %s", u_errorName(status));
}

EraClock::~EraClock() = default;

QString EraClock::format(const QDateTime &time) const
{
    const QDate date = time.date();
    const QTime clock = time.time();
    const int hour12 = clock.hour() % 12 == 0 ? 12 : clock.hour() % 12;

    QString era;
    int eraYear = date.year();
    int weekday = date.dayOfWeek() % 7 + UCAL_SUNDAY; // Qt: Monday 1 .. Sunday 7
    if (m_icu->japanese && m_icu->symbols) {
        UErrorCode status = U_ZERO_ERROR;
        const UDate utc = double(QDateTime(date, QTime(12, 0), Qt::UTC).toMSecsSinceEpoch());
        m_icu->japanese->setTime(utc, status);
        const int eraIndex = m_icu->japanese->get(UCAL_ERA, status);
        eraYear = m_icu->japanese->get(UCAL_YEAR, status);
        int count = 0;
        const icu::UnicodeString *names = m_icu->symbols->getEraNames(count);
        if (U_SUCCESS(status) && eraIndex >= 0 && eraIndex < count)
            era = toQString(names[eraIndex]);
    }
    QString day;
    QString amPm;
    if (m_icu->symbols) {
        int count = 0;
        const icu::UnicodeString *days = m_icu->symbols->getShortWeekdays(count);
        if (weekday < count)
            day = toQString(days[weekday]);
        const icu::UnicodeString *ampm = m_icu->symbols->getAmPmStrings(count);
        if (count >= 2)
            amPm = toQString(ampm[clock.hour() < 12 ? 0 : 1]);
    }
    return QStringLiteral("%1%2年%3月%4日(%5)%6%7時%8分")
            .arg(era)
            .arg(eraYear)
            .arg(date.month())
            .arg(date.day())
            .arg(day, amPm)
            .arg(hour12)
            .arg(clock.minute());
}
