#include "entrycheck.h"

namespace EntryCheck {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

bool isNumeric(QStringView text, const QLocale &locale)
{
    const QString decimal = locale.decimalPoint();
    qsizetype i = 0;
    qsizetype end = text.size();
    while (i < end && isBlank(text[i]))
        ++i;
    while (end > i && isBlank(text[end - 1]))
        --end;
    if (i < end && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < end && isDigit(text[i]))
        ++i, ++digits;
    if (!decimal.isEmpty() && text.sliced(i, end - i).startsWith(decimal)) {
        i += decimal.size();
        while (i < end && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return false;
    if (i < end && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < end && (text[i] == u'+' || text[i] == u'-'))
            ++i;
        qsizetype exponentDigits = 0;
        while (i < end && isDigit(text[i]))
            ++i, ++exponentDigits;
        if (exponentDigits == 0)
            return false;
    }
    return i == end;
}

Verdict check(const QString &name, const std::array<QString, 4> &groups, const QLocale &locale)
{
    if (name.isEmpty())
        return Verdict::Missing;
    for (const QString &group : groups)
        if (group.isEmpty())
            return Verdict::Missing;
    for (const QString &group : groups)
        if (!isNumeric(group, locale))
            return Verdict::NotNumeric;
    for (const QString &group : groups)
        if (group.size() > MaxGroupLength)
            return Verdict::TooLong;
    return Verdict::Accepted;
}

std::array<QString, 4> splitAddress(QStringView address)
{
    std::array<QString, 4> groups;
    qsizetype from = 0;
    for (int k = 0; k < 3; ++k) {
        const qsizetype dot = address.indexOf(u'.', from);
        if (dot < 0) {
            groups[k] = address.sliced(from).toString();
            return groups;
        }
        groups[k] = address.sliced(from, dot - from).toString();
        from = dot + 1;
    }
    groups[3] = address.sliced(from).toString();
    return groups;
}

} // namespace EntryCheck
