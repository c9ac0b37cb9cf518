#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>
#include <vector>

// A path to a PostgreSQL socket that can freeze as a paused host or a pulled
// cable does: nothing is forwarded either way, and every socket, new ones
// too, stays open. Lives in the caller's event loop; on a Unix socket only.
class PgRelay
{
public:
    // conninfo: the database's, with host= its socket folder.
    bool start(const QString &conninfo)
    {
        static const QRegularExpression host(QStringLiteral("host=(\\S+)"));
        m_conninfo = conninfo;
        m_target = host.match(conninfo).captured(1) + QStringLiteral("/.s.PGSQL.5432");
        m_conninfo.replace(host, QStringLiteral("host=") + m_dir.path());
        QObject::connect(&m_server, &QLocalServer::newConnection, [this] {
            while (QLocalSocket *client = m_server.nextPendingConnection()) {
                auto *db = new QLocalSocket(client);
                for (QLocalSocket *s : {client, db})
                    QObject::connect(s, &QLocalSocket::readyRead, [this] { pump(); });
                QObject::connect(client, &QLocalSocket::disconnected, [this] { pump(); });
                QObject::connect(db, &QLocalSocket::disconnected, [this] { pump(); });
                QObject::connect(db, &QLocalSocket::connected, [this] { pump(); });
                db->connectToServer(m_target);
                m_pairs.push_back({client, db});
            }
        });
        return m_dir.isValid() && m_server.listen(m_dir.filePath(QStringLiteral(".s.PGSQL.5432")));
    }
    QString conninfo() const { return m_conninfo; }
    // Freezes once a chunk from a client holding marker is passed on.
    void freezeAfter(const QByteArray &marker) { m_marker = marker; }
    void freeze() { m_frozen = true; }
    void thaw() { m_frozen = false, pump(); }
    bool frozen() const { return m_frozen; }

private:
    void pump()
    {
        for (auto &[client, db] : m_pairs) {
            if (m_frozen || !client)
                continue;
            if (db->state() == QLocalSocket::ConnectedState) {
                const QByteArray up = client->readAll();
                db->write(up);
                client->write(db->readAll());
                if (!m_marker.isEmpty() && up.contains(m_marker))
                    m_frozen = true, m_marker.clear();
            }
            // Closed on one side: closed on the other, unless frozen.
            if (client->state() == QLocalSocket::UnconnectedState || db->state() == QLocalSocket::UnconnectedState) {
                client->disconnectFromServer(), db->disconnectFromServer();
                client->deleteLater(), client = nullptr;
            }
        }
    }

    QTemporaryDir m_dir;
    QLocalServer m_server;
    QString m_conninfo;
    QString m_target;
    QByteArray m_marker;
    bool m_frozen = false;
    std::vector<std::pair<QPointer<QLocalSocket>, QLocalSocket *>> m_pairs;
};
