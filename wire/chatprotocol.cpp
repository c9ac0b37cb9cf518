#include "wire/chatprotocol.h"

#include <algorithm>

namespace ChatProtocol {

namespace {
constexpr int DecimalBase = 10;

constexpr bool sameAscii(QByteArrayView bytes, QStringView text)
{
    if (bytes.size() != text.size())
        return false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (char16_t(bytes[i]) != text[i].unicode())
            return false;
    }
    return true;
}

static_assert(sameAscii(Bytes::JoinVerb, JoinVerb));
static_assert(sameAscii(Bytes::MessageVerb, MessageVerb));
static_assert(sameAscii(Bytes::RefreshVerb, RefreshVerb));
static_assert(sameAscii(Bytes::AddressSeparator, AddressSeparator));
static_assert(sameAscii(Bytes::LineCountSeparator, LineCountSeparator));
static_assert(sameAscii(Bytes::ReplySeparator, ReplySeparator));
} // namespace

QByteArrayView withoutReplyEnd(QByteArrayView reply)
{
    return reply.endsWith(Bytes::ReplyLineEnd) ? reply.chopped(Bytes::ReplyLineEnd.size()) : reply;
}

QString composeRequest(QStringView verb, QStringView payload, QStringView clientAddress,
                       QStringView lineCount)
{
    QString request;
    request.reserve(verb.size() + payload.size() + AddressSeparator.size() + clientAddress.size()
                    + LineCountSeparator.size() + lineCount.size());
    request += verb;
    request += payload;
    request += AddressSeparator;
    request += clientAddress;
    request += LineCountSeparator;
    request += lineCount;
    return request;
}

ReplyParts divideReply(QStringView reply)
{
    const qsizetype at = reply.indexOf(ReplySeparator);
    if (at < 0)
        return {QString(), reply.toString(), false};
    return {reply.first(at).toString(), reply.sliced(at + ReplySeparator.size()).toString(), true};
}

int lineCountFrom(QByteArrayView text)
{
    if (text.isEmpty())
        return DefaultLineCount;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return DefaultLineCount;
        // Saturate instead of overflowing on absurdly long digit strings.
        value = std::min(value * DecimalBase + (c - '0'), MaxLineCount);
    }
    return value;
}

} // namespace ChatProtocol
