#pragma once

#include <QString>

// What the chat link needs of the main window: the boxes it reads and the
// controls it enables. The window implements it; the link holds no widget.
class ChatView
{
public:
    virtual ~ChatView() = default;

    virtual QString nameText() const = 0; // Text1
    virtual QString messageText() const = 0; // Text2
    virtual void setMessageText(const QString &text) = 0;
    virtual QString lineCountText() const = 0; // Combo4
    virtual void setStatusText(const QString &text) = 0; // SB
    virtual void setCaption(const QString &text) = 0; // the window title

    virtual void setSendEnabled(bool on) = 0; // Command1 送信/更新
    virtual void setJoinEnabled(bool on) = 0; // Command2 接続/参加
    virtual void setLeaveEnabled(bool on) = 0; // Command3 切断/退室
    virtual void setMessageEnabled(bool on) = 0; // Text2
    virtual void setRefreshChecked(int index) = 0; // set333: only index ticked

    // Replaces the content of Text4, then of Text3. keepView: a reply the
    // user did not ask for leaves the conversation where the reader was.
    virtual void showReply(const QString &left, const QString &right, bool keepView) = 0;
    // Part of a reply was too long to keep and was thrown away.
    virtual void warnCut() = 0;
    // The conversation changed: a window in the background asks for the
    // user's attention.
    virtual void notifyUnread() = 0;
    // After a join the cursor waits in Text2 for the first line.
    virtual void focusMessage() = 0;
    virtual void closeWindow() = 0;
};
