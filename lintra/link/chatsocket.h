#pragma once

#include "wire/cp932.h"

#include <QObject>
#include <QString>
#include <QTcpSocket>

// The main window's socket, WSock: an asynchronous TCP client with the four
// events the chat link handles. Text goes out and comes in as code page 932.
// Closing it ourselves raises no event, and a send on a socket that is not
// connected does nothing: the close or error event that follows tells the
// window.
class ChatSocket : public QObject
{
    Q_OBJECT

public:
    explicit ChatSocket(QObject *parent = nullptr);

    void close();
    void setRemoteHost(const QString &host) { m_remoteHost = host; }
    void setRemotePort(quint16 port) { m_remotePort = port; }
    // Starts connecting to the remote host and port just set. Returns false,
    // with the reason in requestError(), when the request fails at once.
    bool connectToRemote();
    QString requestError() const { return m_requestError; }
    QString localAddress() const;
    void send(const QString &text);
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

signals:
    void connected();                     // WSock_Connect
    void dataArrival(const QString &text); // WSock_DataArrival: all received since the last one
    void closed();                        // WSock_Close: the server closed the connection
    void error(const QString &description); // WSock_Error

private:
    void onReadyRead();
    // Bytes wait in the kernel beyond what the socket has read so far.
    bool moreBytesArrived() const;
    void onError(QAbstractSocket::SocketError code);

    QTcpSocket m_socket;
    Cp932Decoder m_decoder;
    QString m_remoteHost;
    quint16 m_remotePort = 0;
    QString m_requestError;
    bool m_closeReported = false;
};
