#pragma once

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
// Nothing is escaped, trimmed or validated, and there is no framing: each
// data event is taken to hold exactly one reply.
namespace ChatProtocol {

inline constexpr QStringView JoinVerb = u"CanEnter?";
inline constexpr QStringView MessageVerb = u"NormalTel";
inline constexpr QStringView RefreshVerb = u"/Reflesh/";
inline constexpr QStringView AddressSeparator = u"/*/~";
inline constexpr QStringView LineCountSeparator = u"/**/";
inline constexpr QStringView ReplySeparator = u"/*/";
inline constexpr quint16 Port = 5001;

QString composeRequest(QStringView verb, QStringView payload, QStringView clientAddress,
                       QStringView lineCount);

struct ReplyParts
{
    QString left;  // members, shown in Text4
    QString right; // conversation, shown in Text3
    bool divided = false; // false: the reply held no separator
};

// A reply without any separator is shown whole in the conversation area
// (right) with the side area empty, so nothing the server sent is hidden.
ReplyParts divideReply(QStringView reply);

} // namespace ChatProtocol
