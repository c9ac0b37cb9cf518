#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// A member held by another server that shares the conversation.
struct OtherMember
{
    QString name; // as that server shows it
    QString host;
    friend bool operator==(const OtherMember &, const OtherMember &) = default;
};
Q_DECLARE_METATYPE(OtherMember)

// Told of every change to the room's own members, so that servers sharing
// one conversation can show each other's. Called on the room's thread.
class MemberObserver
{
public:
    virtual ~MemberObserver() = default;
    // Joined, or renamed; name as shown.
    virtual void memberShown(quint64 connection, const QString &name, const QString &host) = 0;
    virtual void memberLeft(quint64 connection) = 0;
};
