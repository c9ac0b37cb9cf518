#pragma once

#include "chatview.h"

#include <QList>
#include <QPair>
#include <QStringList>

#include <functional>
#include <utility>

// The main window as the chat link sees it, recording all it is told; the
// test fills in what the user typed.
class RecordingView : public ChatView
{
public:
    QString nameText() const override { return name; }
    QString messageText() const override { return message; }
    void setMessageText(const QString &text) override { message = text; }
    QString lineCountText() const override
    {
        if (onLineCount)
            std::exchange(onLineCount, {})();
        return lineCount;
    }
    void setStatusText(const QString &text) override
    {
        statuses.append(text);
        if (onStatus)
            onStatus(text);
    }
    void setCaption(const QString &text) override { caption = text; }
    void setSendEnabled(bool on) override { send = on; }
    void setJoinEnabled(bool on) override { join = on; }
    void setLeaveEnabled(bool on) override { leave = on; }
    void setMessageEnabled(bool on) override { messageBox = on; }
    void setRefreshChecked(int index) override { refreshChecked = index; }
    void showReply(const QString &l, const QString &r, bool) override { replies.append({l, r}); }
    void warnCut() override { ++cut; }
    void notifyUnread() override { ++unread; }
    void focusMessage() override { ++focused; }
    void closeWindow() override { closed = true; }

    QString name, message, lineCount = QStringLiteral("10"), caption;
    bool send = false, join = true, leave = false, messageBox = false, closed = false;
    int refreshChecked = -1, unread = 0, focused = 0, cut = 0;
    QStringList statuses;
    QList<QPair<QString, QString>> replies;
    std::function<void(const QString &)> onStatus;
    mutable std::function<void()> onLineCount;
};
