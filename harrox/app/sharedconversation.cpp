#include "sharedconversation.h"

#include "chatroom.h"
#include "harroxserver.h"
#include "pgconversationstore.h"

#include <QCoreApplication>
#include <QHostInfo>

SharedConversation::SharedConversation(PgConversationStore &store, ChatRoom &room, QObject *parent)
    : QObject(parent), m_store(store), m_room(room)
{
    m_followerThread.setObjectName(QStringLiteral("follower"));
    // Queued before the writer reports the post stored, so that its
    // sender's reply shows everything committed before it.
    m_store.setRowsHandler([this](const QList<StoredMessage> &rows) {
        QMetaObject::invokeMethod(
                this, [this, rows] { showRows(rows); }, Qt::QueuedConnection);
    });
}

SharedConversation::~SharedConversation()
{
    endFollower(0);
}

void SharedConversation::follow(HarroxServer &server, const QString &conninfo,
                                const PgFollower::Settings &settings, qint64 lastId)
{
    m_server = &server;
    const QString label = QStringLiteral("%1 %2:%3 pid %4")
                                  .arg(QHostInfo::localHostName(), server.address().toString())
                                  .arg(server.port())
                                  .arg(QCoreApplication::applicationPid());
    m_follower = std::make_unique<PgFollower>(conninfo, label, settings);
    connect(m_follower.get(), &PgFollower::rowsArrived, this, &SharedConversation::showRows);
    connect(m_follower.get(), &PgFollower::othersChanged, this,
            [this](const QList<OtherMember> &others) {
                m_room.setOthers(others);
                m_server->roomChangedElsewhere();
            });
    m_follower->setDelivered(&m_store.delivered());
    m_room.setObserver(m_follower.get());
    m_follower->moveToThread(&m_followerThread);
    m_followerThread.start();
    QMetaObject::invokeMethod(m_follower.get(),
                              [follower = m_follower.get(), lastId] { follower->start(lastId); });
}

void SharedConversation::stop(int graceMs)
{
    // Whatever the database does: a hung one costs the stop this, no more.
    m_store.stopWithin(graceMs);
    endFollower(graceMs);
}

void SharedConversation::endFollower(int graceMs)
{
    if (!m_follower)
        return;
    m_follower->stopWithin(graceMs);
    m_room.setObserver(nullptr);
    QMetaObject::invokeMethod(
            m_follower.get(),
            [this] {
                m_follower->stop();
                m_follower->moveToThread(thread());
            },
            Qt::BlockingQueuedConnection);
    m_followerThread.quit();
    m_followerThread.wait();
    m_follower.reset();
}

void SharedConversation::showRows(const QList<StoredMessage> &rows)
{
    // Rows committed by any server, on this thread, in commit order.
    for (const StoredMessage &row : rows)
        m_room.addStored(row);
    if (m_server)
        m_server->roomChangedElsewhere();
}
