#include "chatlink.h"

#include "chatview.h"
#include "clock.h"
#include "messagebox.h"
#include "pcipfile.h"
#include "wire/chatprotocol.h"

#include <QEventLoop>
#include <QTimer>

namespace {

const QString Lintra = QStringLiteral("Lintra");
const QString NameMissing = QStringLiteral("名前を入力してください");
const QString NoDestinationFile =
        QStringLiteral("接続先の設定をしてから「接続/参加」ボタンを押してください");
const QString CheckDestinations = QStringLiteral("接続先の設定を確認してください");
const QString NotConnectedTitle = QStringLiteral("Lintra(接続できませんでした)");
const QString ConnectedStatus = QStringLiteral(" 接続できました！通信できます。");
const QString ServerClosedStatus = QStringLiteral("Harrox側がプログラムを閉じました");
const QString CaptionPrefix = QStringLiteral("Lintra時刻は");
const QString NoReplyStatus = QStringLiteral("Harroxから応答がありません");
const QString LinesBackStatus = QStringLiteral("（届かなかった文を送信文に戻しました）");

QString attemptStatus(const QString &name)
{
    return QStringLiteral("「Harrox」") + name + QStringLiteral("に接続中");
}

} // namespace

ChatLink::ChatLink(ChatView &view, MessageBox &messageBox, const Clock &clock, PCIPRecord &buffer,
                   QString destinations, QObject *parent)
    : QObject(parent),
      m_view(view),
      m_messageBox(messageBox),
      m_clock(clock),
      m_buffer(buffer),
      m_destinations(std::move(destinations))
{
    m_socket.setParent(this);
    connect(&m_socket, &ChatSocket::connected, this, &ChatLink::WSock_Connect);
    connect(&m_socket, &ChatSocket::dataArrival, this, &ChatLink::WSock_DataArrival);
    connect(&m_socket, &ChatSocket::closed, this, &ChatLink::WSock_Close);
    connect(&m_socket, &ChatSocket::error, this, &ChatLink::WSock_Error);
    connect(&m_socket, &ChatSocket::received, this, [this] { m_awaitingSince = {}; });
    connect(&m_socket, &ChatSocket::replyCut, this, [this] { m_view.warnCut(); });
}

ChatLink::~ChatLink()
{
    m_closing = true;
    wake();
}

void ChatLink::Command2_Click()
{
    if (m_view.nameText().isEmpty()) {
        m_messageBox.exclamation(NameMissing, Lintra);
        return;
    }
    // The error event re-enables the button during a wait; a second walk
    // inside the first would fight over the socket and the file.
    if (m_walking)
        return;
    ServerConnect();
}

void ChatLink::ServerConnect()
{
    m_walking = true;
    struct WalkEnd
    {
        bool &walking;
        ~WalkEnd() { walking = false; }
    } walkEnd{m_walking};

    // A failed step does not end the walk: its description is kept, the
    // error flag set, and the walk goes on.
    QString lastError;
    auto fail = [&](const QString &description) {
        lastError = description;
        ConnectError = VBTrue;
    };

    ConnectDone = VBFalse;
    ConnectError = VBFalse;
    PCIPFile file(m_destinations);
    const bool opened = file.open();
    if (!opened)
        fail(file.errorString());
    const int count = opened ? file.count() : 0;

    for (int n = 1; n <= count; ++n) {
        if (!file.read(n, m_buffer)) {
            fail(file.errorString());
            continue;
        }
        if (m_buffer.TryConnect != VBTrue)
            continue;
        m_socket.close();
        m_socket.setRemoteHost(m_buffer.trimmedAddress());
        m_socket.setRemotePort(ChatProtocol::Port);
        m_view.setStatusText(attemptStatus(m_buffer.trimmedName()));
        m_view.setJoinEnabled(false);
        ConnectError = VBFalse;
        ConnectDone = VBFalse;
        const QDateTime attemptStart = m_clock.now();
        if (!m_socket.connectToRemote())
            fail(m_socket.requestError());
        if (ConnectError)
            continue;
        const WaitResult result = waitForConnect(attemptStart);
        if (result == WaitResult::Aborted)
            return; // the window is gone: touch nothing of it
        if (result == WaitResult::Connected) {
            // A server that closed at once must not leave a live send button.
            if (LinkUp) {
                m_view.setSendEnabled(true);
                m_view.focusMessage();
            }
            break;
        }
    }

    if (!opened || file.size() == 0)
        m_messageBox.exclamation(NoDestinationFile, Lintra);
    file.close();
    if (m_closing)
        return;
    if (ConnectDone == VBFalse) {
        m_view.setJoinEnabled(true);
        m_view.setStatusText(lastError);
    }
    if (ConnectDone == VBFalse && ConnectError == VBFalse)
        m_messageBox.exclamation(CheckDestinations, NotConnectedTitle);
}

ChatLink::WaitResult ChatLink::waitForConnect(const QDateTime &attemptStart)
{
    // Yields to the event loop, which runs the timer, socket and user events
    // in between, and sleeps there until an event or the next look at the
    // clock: the wait costs no CPU.
    for (;;) {
        QEventLoop loop;
        m_wait = &loop;
        QTimer::singleShot(m_pollMs, &loop, &QEventLoop::quit);
        loop.exec();
        m_wait = nullptr;
        if (m_closing)
            return WaitResult::Aborted;
        if (ConnectDone == VBTrue)
            return WaitResult::Connected;
        if (attemptStart.secsTo(m_clock.now()) > AttemptWaitSeconds)
            return WaitResult::TimedOut;
    }
}

void ChatLink::wake()
{
    if (m_wait)
        m_wait->quit();
}

void ChatLink::windowClosing()
{
    m_socket.close();
    m_closing = true;
    wake();
}

bool ChatLink::sendRequest(QStringView verb, QStringView payload)
{
    const QString lineCount = m_view.lineCountText();
    if (!m_socket.send(ChatProtocol::composeRequest(verb, payload, m_socket.localAddress(), lineCount),
                       ChatProtocol::lineCountFrom(lineCount.toLatin1())))
        return false;
    if (!m_awaitingSince.isValid())
        m_awaitingSince = m_clock.now();
    m_asked = true;
    return true;
}

bool ChatLink::restoreLostLines()
{
    QStringList lost = m_posted.takeAll();
    if (lost.isEmpty())
        return false;
    // What the user typed since stays, after the lost lines.
    const QString typed = m_view.messageText();
    if (!typed.isEmpty())
        lost.append(typed);
    m_view.setMessageText(lost.join(u' '));
    return true;
}

void ChatLink::Command1_Click()
{
    const QString message = m_view.messageText();
    if (message.isEmpty()) {
        sendRequest(ChatProtocol::RefreshVerb, {});
        return;
    }
    // Not sent: the line stays in the box; the close or error event follows.
    if (!sendRequest(ChatProtocol::MessageVerb, message))
        return;
    m_posted.posted(message);
    m_view.setMessageText(QString());
}

void ChatLink::Command3_Click()
{
    m_socket.close();
    m_view.closeWindow();
}

void ChatLink::Timer1_Timer()
{
    const QDateTime now = m_clock.now();
    m_view.setCaption(CaptionPrefix + m_eraClock.format(now));
    if (LinkUp != VBFalse && m_awaitingSince.isValid()
        && m_awaitingSince.secsTo(now) > ReplyWaitSeconds) {
        WSock_Error(NoReplyStatus);
        return;
    }
    if (m_refreshIndex == 0)
        return;
    // 64-bit seconds: a link down for many hours keeps the test sound.
    const qint64 elapsed = LastRefresh.isValid() ? LastRefresh.secsTo(now) : 0;
    if (elapsed > RefreshSeconds && LinkUp != VBFalse) {
        LastRefresh = now;
        sendRequest(ChatProtocol::RefreshVerb, {});
    }
}

void ChatLink::set333_Click(int index)
{
    if (index < 0 || index >= int(std::size(RefreshIntervals)))
        return;
    m_view.setRefreshChecked(index);
    m_refreshIndex = index;
    RefreshSeconds = RefreshIntervals[index];
    if (index == 0)
        return;
    LastRefresh = m_clock.now();
    Timer1_Timer();
}

void ChatLink::ChatDisable()
{
    m_view.setLeaveEnabled(false);
    m_view.setMessageEnabled(false);
    m_view.setSendEnabled(false);
    LinkUp = VBFalse;
    m_awaitingSince = {};
}

void ChatLink::WSock_Connect()
{
    ConnectDone = VBTrue;
    m_view.setJoinEnabled(false);
    m_view.setLeaveEnabled(true);
    m_view.setMessageEnabled(true);
    m_view.setStatusText(ConnectedStatus);
    LinkUp = VBTrue;
    sendRequest(ChatProtocol::JoinVerb, m_view.nameText());
    wake();
}

void ChatLink::WSock_DataArrival(const QString &text, bool continues)
{
    const ChatProtocol::ReplyParts parts = ChatProtocol::divideReply(text);
    m_view.showReply(parts.left, parts.right, continues || !m_asked);
    if (!continues)
        m_asked = false;
    m_posted.replyShown(parts.right);
    if (parts.right != m_conversation) {
        m_conversation = parts.right;
        m_view.notifyUnread();
    }
}

void ChatLink::WSock_Close()
{
    const bool lost = restoreLostLines();
    m_view.setStatusText(lost ? ServerClosedStatus + LinesBackStatus : ServerClosedStatus);
    m_view.setJoinEnabled(true);
    m_socket.close();
    ChatDisable();
}

void ChatLink::WSock_Error(const QString &description)
{
    const bool lost = restoreLostLines();
    m_view.setStatusText(lost ? description + LinesBackStatus : description);
    m_view.setJoinEnabled(true);
    m_socket.close();
    ChatDisable();
}
