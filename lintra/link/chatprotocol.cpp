#include "link/chatprotocol.h"

namespace ChatProtocol {

QString composeRequest(QStringView verb, QStringView payload, QStringView clientAddress,
                       QStringView lineCount)
{
    QString request;
    request.reserve(verb.size() + payload.size() + AddressSeparator.size()
                    + clientAddress.size() + LineCountSeparator.size() + lineCount.size());
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

} // namespace ChatProtocol
