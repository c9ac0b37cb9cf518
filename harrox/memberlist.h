#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

// The connections that have joined, in the order they joined, with the
// names they gave. Renders the left part of every reply.
class MemberList
{
public:
    // Joins, or renames a connection that has joined already (keeping its
    // place). Returns false when it was a rename.
    bool join(quint64 connection, const QString &name);
    bool remove(quint64 connection);
    bool contains(quint64 connection) const;
    QString nameOf(quint64 connection) const;
    qsizetype size() const { return m_members.size(); }

    // CP932, one name a line (CRLF between names); cached between changes.
    QByteArray render() const;

    // A name as it may be shown: CR and LF become spaces.
    static QString displayName(QStringView name);
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

    QList<Member> m_members;
    mutable QByteArray m_rendered;
    mutable bool m_renderedValid = false;
};
