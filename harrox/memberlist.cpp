#include "memberlist.h"

#include "wire/cp932.h"

namespace {
constexpr QByteArrayView LineEnd = "\r\n";
constexpr QByteArrayView SlashStar = "/*";
// "／＊" would do as well; only the asterisk needs to change.
constexpr QByteArrayView SlashWideStar = "/\x81\x96"; // "/＊" in CP932
} // namespace

bool MemberList::join(quint64 connection, const QString &name)
{
    m_renderedValid = false;
    const qsizetype index = indexOf(connection);
    if (index >= 0) {
        m_members[index].name = name;
        return false;
    }
    m_members.append({connection, name});
    return true;
}

bool MemberList::remove(quint64 connection)
{
    const qsizetype index = indexOf(connection);
    if (index < 0)
        return false;
    m_members.removeAt(index);
    m_renderedValid = false;
    return true;
}

bool MemberList::contains(quint64 connection) const
{
    return indexOf(connection) >= 0;
}

QString MemberList::nameOf(quint64 connection) const
{
    const qsizetype index = indexOf(connection);
    return index >= 0 ? m_members[index].name : QString();
}

QByteArray MemberList::render() const
{
    if (m_renderedValid)
        return m_rendered;
    m_rendered.clear();
    for (qsizetype i = 0; i < m_members.size(); ++i) {
        if (i > 0)
            m_rendered.append(LineEnd);
        m_rendered.append(leftPartBytes(m_members[i].name));
    }
    m_renderedValid = true;
    return m_rendered;
}

QString MemberList::displayName(QStringView name)
{
    QString shown = name.toString();
    shown.replace(QLatin1Char('\r'), QLatin1Char(' '));
    shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return shown;
}

QByteArray MemberList::leftPartBytes(QStringView name)
{
    // Altered after encoding: whatever the codec maps to "/" or "*", the
    // bytes on the wire are what the client searches. Neither byte is ever
    // the second byte of a double-byte character.
    QByteArray bytes = Cp932::encode(displayName(name));
    bytes.replace(SlashStar, SlashWideStar);
    return bytes;
}

qsizetype MemberList::indexOf(quint64 connection) const
{
    for (qsizetype i = 0; i < m_members.size(); ++i) {
        if (m_members[i].connection == connection)
            return i;
    }
    return -1;
}
