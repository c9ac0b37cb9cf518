#pragma once

#include "memberobserver.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringView>

// The connections that have joined, in the order they joined, with the
// names they are shown under. Renders the left part of every reply.
class MemberList
{
public:
    // Holds any real name, in any script, with room to spare; a longer one is
    // cut, so that no client can fill everyone's member list.
    static constexpr qsizetype MaxNameLength = 64;

    // Joins, or renames a connection that has joined already (keeping its
    // place). The name is cleaned, cut to MaxNameLength and, when another
    // member shows it already, told apart as "name(2)", "name(3)"... Another
    // server's member of the same name from the same host does not count:
    // it is this member's own entry from before a crash or a fail-over,
    // still there until its server is swept. Returns false when it was a
    // rename.
    bool join(quint64 connection, const QString &name, const QString &host = {});
    bool remove(quint64 connection);
    bool contains(quint64 connection) const;
    QString nameOf(quint64 connection) const;
    qsizetype size() const { return m_members.size(); }

    // Other servers' members: shown after ours, and no name of ours is
    // given as one of theirs.
    void setOthers(const QList<OtherMember> &others);
    qsizetype othersFrom(const QString &host) const;

    // CP932, one name a line (CRLF between names); cached between changes.
    QByteArray render() const;
    // Changes with every join, rename and leave.
    quint64 revision() const { return m_revision; }

    // Text as it may be shown: CR, LF, NUL and the other C0 controls become
    // spaces, so that nothing a client sends can start a line of its own.
    static QString cleanText(QStringView text);
    // The name as it appears in the left part: every "/*" becomes "/＊", so
    // neither "/*/" nor a name ending in "/*" can move the reply's division.
    static QByteArray leftPartBytes(QStringView name);

private:
    struct Member
    {
        quint64 connection = 0;
        QString name;
    };

    qsizetype indexOf(quint64 connection) const;
    QString distinct(const QString &name, const QString &host) const;

    QList<Member> m_members;
    QSet<QString> m_shown;
    QList<OtherMember> m_others;
    // Name → the hosts other servers show it for.
    QHash<QString, QSet<QString>> m_othersShown;
    mutable QByteArray m_rendered;
    mutable bool m_renderedValid = false;
    quint64 m_revision = 0;
};
