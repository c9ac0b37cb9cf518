#include "request.h"

#include "link/chatprotocol.h"
#include "platform/cp932.h"

#include <algorithm>

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

// The client's definitions are the reference; the byte forms must not drift.
static_assert(sameAscii(Request::JoinText, ChatProtocol::JoinVerb));
static_assert(sameAscii(Request::MessageText, ChatProtocol::MessageVerb));
static_assert(sameAscii(Request::RefreshText, ChatProtocol::RefreshVerb));
static_assert(sameAscii(Request::AddressSeparator, ChatProtocol::AddressSeparator));
static_assert(sameAscii(Request::LineCountSeparator, ChatProtocol::LineCountSeparator));
static_assert(sameAscii(Request::ReplySeparator, ChatProtocol::ReplySeparator));
} // namespace

int Request::linesFrom(QByteArrayView text)
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

QString Request::text() const
{
    return Cp932::decode(payload);
}

bool Request::hasValidEncoding() const
{
    // CP932 has no code for U+FFFD, so the decoder only produces it for
    // bytes it could not decode.
    return !text().contains(QChar::ReplacementCharacter);
}

QByteArrayView Request::verbText(Verb verb)
{
    switch (verb) {
    case Verb::Join:
        return JoinText;
    case Verb::Message:
        return MessageText;
    case Verb::Refresh:
        return RefreshText;
    }
    return RefreshText;
}
