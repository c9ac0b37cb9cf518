#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <utility>

// The lines the user posted that no reply has shown yet: if the link fails
// first they go back to the message box, so no line is lost unnoticed.
// Harrox shows a stored post as "MM/dd HH:mm name> text" and one it could
// not store as its not-stored notice followed by the text; either way the
// line has arrived. A line that others' posts pushed out of the lines asked
// for before a reply showed it stays kept; coming back to the box twice is
// better than not at all.
class PostedLines
{
public:
    static constexpr QStringView NotStoredNotice = u"（保存できなかったため送信されていません）";

    void posted(const QString &line) { m_lines.append(line); }
    // Lets go of every kept line the conversation shows.
    void replyShown(QStringView conversation);
    QStringList takeAll() { return std::exchange(m_lines, {}); }

private:
    QStringList m_lines;
};
