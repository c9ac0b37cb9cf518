#include "request.h"

#include "wire/cp932.h"

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
        return ChatProtocol::Bytes::JoinVerb;
    case Verb::Message:
        return ChatProtocol::Bytes::MessageVerb;
    case Verb::Refresh:
        return ChatProtocol::Bytes::RefreshVerb;
    }
    return ChatProtocol::Bytes::RefreshVerb;
}
