#pragma once

#include <QString>

// How harrox's log lines look. On a terminal or in a file: a time stamp and
// the level in words. Under systemd, whose journal stamps and names each
// entry itself: no time stamp, and the level as a "<N>" prefix that the
// journal takes for the entry's priority (journalctl -p warning). Either way
// one event is one line, whatever a message holds.
namespace LogFormat {

// True when standard error is the journal stream that systemd set up.
bool toJournal();
void install(bool journal);
// info, warning or error: the least that is logged.
void setLevel(const QString &level);
// Line breaks and other control characters as visible escapes, so that
// neither a libpq error nor a client's text can start a line of its own.
QString oneLine(QStringView message);
// What a client claims, as one line of at most about ClientTextChars: a
// 60 KB name would otherwise flood the log and, under the journal's rate
// limit, push others' joins and leaves out of it.
constexpr qsizetype ClientTextChars = 64;
QString clientText(QStringView text);

} // namespace LogFormat
