#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QRegularExpression>
#include <QTemporaryDir>

// A path to a PostgreSQL socket that can freeze as a paused host or a pulled
// cable does: nothing passes either way, and every socket, new ones too,
// stays open. It can also lose a commit's answer: the database commits, and
// the connection breaks before the client hears so. Lives in the caller's
// event loop; a Unix socket only.
class PgRelay
{
public:
    // conninfo: the database's, whose host= is its socket's folder. Returns
    // the relay's, or nothing when it cannot listen.
    QString start(const QString &conninfo)
    {
        static const QRegularExpression host(QStringLiteral("host=(\\S+)"));
        const QString target = host.match(conninfo).captured(1) + QStringLiteral("/.s.PGSQL.5432");
        QObject::connect(&m_server, &QLocalServer::newConnection, [this, target] {
            QLocalSocket *client = m_server.nextPendingConnection();
            auto *db = new QLocalSocket(client); // goes with it
            for (QLocalSocket *s : {client, db}) {
                QObject::connect(s, &QLocalSocket::readyRead, &m_alive, [this] { pump(); });
                QObject::connect(s, &QLocalSocket::stateChanged, &m_alive, [this] { pump(); });
            }
            db->connectToServer(target);
            m_pairs.append(qMakePair(QPointer(client), db));
        });
        const bool listening = m_dir.isValid() && m_server.listen(m_dir.filePath(QStringLiteral(".s.PGSQL.5432")));
        return listening ? QString(conninfo).replace(host, QStringLiteral("host=") + m_dir.path()) : QString();
    }
    // Freezes once a chunk from a client that holds marker is passed on.
    void freezeAfter(const QByteArray &marker) { m_marker = marker; }
    void thaw() { m_frozen = false, pump(); }
    bool frozen() const { return m_frozen; }
    // The transaction of the client that sends marker: its COMMIT is passed
    // on, and that connection closed before the answer comes back.
    void cutAtCommitAfter(const QByteArray &marker) { m_cutMarker = marker; }
    bool commitCut() const { return m_commitCut; }

private:
    void pump()
    {
        for (const auto &[client, db] : std::as_const(m_pairs)) {
            if (m_frozen || !client || db->state() == QLocalSocket::ConnectingState)
                continue;
            // Closed on one side: closed on the other.
            if (client->state() != QLocalSocket::ConnectedState || db->state() != QLocalSocket::ConnectedState) {
                client->deleteLater();
                continue;
            }
            const QByteArray up = client->readAll();
            db->write(up), client->write(db->readAll());
            if (!m_marker.isEmpty() && up.contains(m_marker))
                m_frozen = true, m_marker.clear();
            if (!m_cutMarker.isEmpty() && up.contains(m_cutMarker))
                m_cutting = client, m_cutMarker.clear();
            if (m_cutting == client && up.contains("COMMIT")) {
                db->flush(), db->disconnectFromServer();
                client->abort();
                m_commitCut = true, m_cutting = nullptr;
            }
        }
    }

    QTemporaryDir m_dir;
    QLocalServer m_server;
    QByteArray m_marker;
    bool m_frozen = false;
    QByteArray m_cutMarker;
    QPointer<QLocalSocket> m_cutting;
    bool m_commitCut = false;
    QList<QPair<QPointer<QLocalSocket>, QLocalSocket *>> m_pairs;
    // Gone first: sockets that close as the relay goes call nothing of it.
    QObject m_alive;
};
