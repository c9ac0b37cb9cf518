#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The request and reply texts exchanged with Harrox over TCP port 5001.
//
//   request = verb payload "/*/~" client-address "/**/" line-count
//   verb    = "CanEnter?" (payload: user name)
//           | "NormalTel" (payload: message line)
//           | "/Reflesh/" (payload: empty)
//   reply   = left "/*/" right     divided at the FIRST "/*/" only
//
// Nothing is escaped, trimmed or validated, and there is no framing. Harrox
// ends each conversation line of a reply with ReplyLineEnd, so a reply that
// holds as many line ends after its separator as the lines asked for is
// whole; that last line end is the reply's end and is not shown. Where the
// conversation is shorter than the count, a reply is taken as whole once the
// connection has been quiet for ReplyQuietMs: a LAN cuts a long reply into
// segments, and a busy one was seen to hold them up to 100 ms apart. A
// server therefore leaves at least ReplyGapMs between two replies to one
// client.
namespace ChatProtocol {

inline constexpr QStringView JoinVerb = u"CanEnter?";
inline constexpr QStringView MessageVerb = u"NormalTel";
inline constexpr QStringView RefreshVerb = u"/Reflesh/";
inline constexpr QStringView AddressSeparator = u"/*/~";
inline constexpr QStringView LineCountSeparator = u"/**/";
inline constexpr QStringView ReplySeparator = u"/*/";
inline constexpr quint16 Port = 5001;
inline constexpr int ReplyQuietMs = 150;
inline constexpr int ReplyGapMs = 2 * ReplyQuietMs;

// The same texts as bytes, for the server's splitter that works on the raw
// CP932 stream (all of them are ASCII, so both forms are one text).
namespace Bytes {
inline constexpr QByteArrayView JoinVerb = "CanEnter?";
inline constexpr QByteArrayView MessageVerb = "NormalTel";
inline constexpr QByteArrayView RefreshVerb = "/Reflesh/";
inline constexpr QByteArrayView AddressSeparator = "/*/~";
inline constexpr QByteArrayView LineCountSeparator = "/**/";
inline constexpr QByteArrayView ReplySeparator = "/*/";
inline constexpr QByteArrayView ReplyLineEnd = "\r\n";
} // namespace Bytes

// A reply as shown: without the line end that closes its last line (an older
// server's reply, which has none, is left as it is).
QByteArrayView withoutReplyEnd(QByteArrayView reply);

// The count a server uses when the line-count text holds no number, and the
// most lines a reply carries.
inline constexpr int DefaultLineCount = 10;
inline constexpr int MaxLineCount = 1000;

// The line count of a request: digits only, at most MaxLineCount; anything
// else is DefaultLineCount.
int lineCountFrom(QByteArrayView text);

QString composeRequest(QStringView verb, QStringView payload, QStringView clientAddress,
                       QStringView lineCount);

struct ReplyParts
{
    QString left; // members, shown in Text4
    QString right; // conversation, shown in Text3
    bool divided = false; // false: the reply held no separator
};

// A reply without any separator is shown whole in the conversation area
// (right) with the side area empty, so nothing the server sent is hidden.
ReplyParts divideReply(QStringView reply);

} // namespace ChatProtocol
