#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>

// One posted message as the room shows it and the store keeps it.
struct StoredMessage
{
    QDateTime postedAt;
    QString name;
    QString body;
    QString peer; // the sender's real address
    qint64 id = 0; // the store's row: rising in the order the rows were stored
};

// Crosses threads on its way to the store.
Q_DECLARE_METATYPE(StoredMessage)
