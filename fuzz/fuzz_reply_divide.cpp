// Divides arbitrary bytes as a reply: the parts must put the text back together.
#include "wire/chatprotocol.h"
#include "wire/cp932.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString reply =
            Cp932::decode(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    const ChatProtocol::ReplyParts parts = ChatProtocol::divideReply(reply);
    const QString joined = parts.divided
            ? parts.left + ChatProtocol::ReplySeparator.toString() + parts.right
            : parts.right;
    if (joined != reply || parts.left.contains(ChatProtocol::ReplySeparator)
        || (!parts.divided && !parts.left.isEmpty()))
        std::abort();
    return 0;
}
