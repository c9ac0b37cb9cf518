#pragma once

#include "replyassembler.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <optional>

// The main window's socket, WSock: an asynchronous TCP client with the four
// events the chat link handles. Text goes out and comes in as code page 932.
// Closing it ourselves raises no event, and a send on a socket that is not
// connected does nothing: the close or error event that follows tells the
// window. A network delivers a long reply in pieces: the data event comes
// once the reply is whole (ReplyAssembler), and again as a later piece
// extends it. A dead link is noticed by the kernel within seconds, whether
// data waits for an acknowledgement or the link is idle.
class ChatSocket : public QObject
{
    Q_OBJECT

public:
    explicit ChatSocket(QObject *parent = nullptr);
    // Closes without an event: the link that owns it is going away.
    ~ChatSocket() override { close(); }

    void close();
    void setRemoteHost(const QString &host) { m_remoteHost = host; }
    void setRemotePort(quint16 port) { m_remotePort = port; }
    // Starts connecting to the remote host and port just set. Returns false,
    // with the reason in requestError(), when the request fails at once.
    bool connectToRemote();
    QString requestError() const { return m_requestError; }
    QString localAddress() const;
    // Sends a request asking for so many lines; false when not connected.
    bool send(const QString &text, int lines);

    // Dotted IPv4 with each group read as decimal, so that "010" is ten as
    // the user meant it; nothing else is an address here.
    static std::optional<quint32> parseAddress(QStringView text);

signals:
    void connected(); // WSock_Connect
    // WSock_DataArrival: a whole reply, or one that continues the last one.
    void dataArrival(const QString &text, bool continues);
    void received(); // bytes came: the link is alive
    void replyCut(); // a line or a reply was too long to keep whole
    void closed(); // WSock_Close: the server closed the connection
    void error(const QString &description); // WSock_Error

private:
    void onReadyRead();
    void onQuiet();
    void deliver();
    void reportClosed();
    // Bytes wait in the kernel beyond what the socket has read so far.
    bool moreBytesArrived() const;
    void onError(QAbstractSocket::SocketError code);
    void watchLink();

    QTcpSocket m_socket;
    ReplyAssembler m_assembler;
    QTimer m_quiet; // fires once the connection has been quiet
    QElapsedTimer m_monotonic;
    QString m_remoteHost;
    quint16 m_remotePort = 0;
    QString m_requestError;
    bool m_closeReported = false;
};
