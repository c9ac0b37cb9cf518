#pragma once

#include "chatsocket.h"
#include "eraclock.h"
#include "postedlines.h"
#include "vbboolean.h"

#include <QDateTime>
#include <QObject>

class ChatView;
class Clock;
class MessageBox;
struct PCIPRecord;
class QEventLoop;

// The chat link of the main window: connecting and joining, sending and
// refreshing, the title clock with the automatic refresh, leaving and the
// socket's events. Handler names are the design's.
class ChatLink : public QObject
{
    Q_OBJECT

public:
    // Intervals of the set333 menu items, in seconds.
    static constexpr qint16 RefreshIntervals[] = {0, 10, 30, 60, 300, 600};
    // An attempt is given up once more than this many whole seconds passed.
    static constexpr qint64 AttemptWaitSeconds = 2;
    // A request whose reply has not begun after more than this many whole
    // seconds means a dead link or server.
    static constexpr qint64 ReplyWaitSeconds = 15;

    // destinations: the path of PCIP.dat, which each connect walk reads.
    ChatLink(ChatView &view, MessageBox &messageBox, const Clock &clock, PCIPRecord &buffer,
             QString destinations, QObject *parent = nullptr);
    ~ChatLink() override;

    void Command1_Click(); // send, or refresh when the message box is empty
    void Text2_Enter() { Command1_Click(); }
    void Command2_Click(); // join
    void Command3_Click(); // leave: close the socket and the window
    void f11_Click(int) { Command3_Click(); }
    void Timer1_Timer();
    void set333_Click(int index);
    void ChatDisable();

    // The window is closing: close the socket and end a waiting walk
    // without touching the window again.
    void windowClosing();

    // How often a waiting walk looks at the clock; tests shorten it.
    void setPollInterval(int ms) { m_pollMs = ms; }

    VBBoolean ConnectDone = VBFalse;
    VBBoolean ConnectError = VBFalse;
    VBBoolean LinkUp = VBFalse;
    qint16 RefreshSeconds = 0;
    QDateTime LastRefresh;

private:
    enum class WaitResult { Connected, TimedOut, Aborted };

    void ServerConnect();
    WaitResult waitForConnect(const QDateTime &attemptStart);
    void wake();
    bool sendRequest(QStringView verb, QStringView payload);
    // The link failed: lines no reply showed go back to Text2. True if any did.
    bool restoreLostLines();

    void WSock_Connect();
    void WSock_DataArrival(const QString &text, bool continues);
    void WSock_Close();
    void WSock_Error(const QString &description);

    ChatView &m_view;
    MessageBox &m_messageBox;
    const Clock &m_clock;
    PCIPRecord &m_buffer; // PCIPBuffer
    const QString m_destinations;
    ChatSocket m_socket; // WSock
    EraClock m_eraClock;
    int m_refreshIndex = 0;
    int m_pollMs = 100;
    bool m_walking = false;
    bool m_closing = false;
    QEventLoop *m_wait = nullptr;
    QString m_conversation; // as last shown, to tell a change
    PostedLines m_posted;
    QDateTime m_awaitingSince; // the oldest request no byte has answered yet
    bool m_asked = false; // a request went out since the last reply began
};
