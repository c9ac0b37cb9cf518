#include "memberlist.h"

#include "wire/cp932.h"

#include <algorithm>

namespace {
constexpr QByteArrayView LineEnd = "\r\n";
constexpr QByteArrayView SlashStar = "/*";
// "／＊" would do as well; only the asterisk needs to change.
constexpr QByteArrayView SlashWideStar = "/\x81\x96"; // "/＊" in CP932
} // namespace

bool MemberList::join(quint64 connection, const QString &name, const QString &host)
{
    m_renderedValid = false;
    ++m_revision;
    const qsizetype index = indexOf(connection);
    if (index >= 0)
        m_shown.remove(m_members[index].name);
    const QString shown = distinct(cleanText(name).left(MaxNameLength), host);
    m_shown.insert(shown);
    if (index >= 0) {
        m_members[index].name = shown;
        return false;
    }
    m_members.append({connection, shown});
    return true;
}

QString MemberList::distinct(const QString &name, const QString &host) const
{
    const auto heldElsewhere = [&](const QString &shown) {
        const auto hosts = m_othersShown.constFind(shown);
        return hosts != m_othersShown.cend() && (hosts->size() > 1 || !hosts->contains(host));
    };
    QString shown = name;
    for (int n = 2; m_shown.contains(shown) || heldElsewhere(shown); ++n)
        shown = QStringLiteral("%1(%2)").arg(name).arg(n);
    return shown;
}

bool MemberList::remove(quint64 connection)
{
    const qsizetype index = indexOf(connection);
    if (index < 0)
        return false;
    m_shown.remove(m_members[index].name);
    m_members.removeAt(index);
    m_renderedValid = false;
    ++m_revision;
    return true;
}

void MemberList::setOthers(const QList<OtherMember> &others)
{
    m_others = others;
    m_othersShown.clear();
    for (const OtherMember &other : others)
        m_othersShown[other.name].insert(other.host);
    m_renderedValid = false;
    ++m_revision;
}

qsizetype MemberList::othersFrom(const QString &host) const
{
    return std::count_if(m_others.cbegin(), m_others.cend(),
                         [&](const OtherMember &other) { return other.host == host; });
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
    for (qsizetype i = 0; i < m_others.size(); ++i) {
        if (i > 0 || !m_members.isEmpty())
            m_rendered.append(LineEnd);
        m_rendered.append(leftPartBytes(m_others[i].name));
    }
    m_renderedValid = true;
    return m_rendered;
}

QString MemberList::cleanText(QStringView text)
{
    QString shown = text.toString();
    for (QChar &c : shown) {
        if (c.unicode() < u' ')
            c = QLatin1Char(' ');
    }
    return shown;
}

QByteArray MemberList::leftPartBytes(QStringView name)
{
    // Altered after encoding: whatever the codec maps to "/" or "*", the
    // bytes on the wire are what the client searches. Neither byte is ever
    // the second byte of a double-byte character.
    QByteArray bytes = Cp932::encode(name);
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
