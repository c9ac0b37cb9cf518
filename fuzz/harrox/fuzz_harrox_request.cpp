// Feeds arbitrary bytes to the request splitter in pieces, as TCP might
// deliver them. The first byte says how many cut points follow, each one
// byte giving the length of a piece; the rest is the stream.
#include "memberlist.h"
#include "requestsplitter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr int MaxPieces = 8;

void check(const Request &request)
{
    // The separators end the payload: the address never holds a "/".
    if (request.address.contains('/'))
        std::abort();
    const int lines = request.lines();
    if (lines < 0 || lines > ChatProtocol::MaxLineCount)
        std::abort();
    const bool valid = request.hasValidEncoding();
    (void)valid;
    // Whatever a name holds, it must not move the reply's division.
    if (request.verb == Request::Verb::Join) {
        // As the member list renders a name: cleaned when it joins, then encoded.
        const QByteArray shown = MemberList::leftPartBytes(MemberList::cleanText(request.text()));
        if (shown.contains("/*/") || shown.endsWith("/*") || shown.contains('\r')
            || shown.contains('\n'))
            std::abort();
    }
}

// Takes every request out; false once the stream is refused.
bool drain(RequestSplitter &splitter, qsizetype &taken)
{
    for (;;) {
        Request request;
        switch (splitter.next(&request)) {
        case RequestSplitter::Status::Ready:
            check(request);
            ++taken;
            continue;
        case RequestSplitter::Status::NeedMore:
            if (splitter.bufferedBytes() > 2 * RequestSplitter::MaxRequestBytes)
                std::abort();
            return true;
        case RequestSplitter::Status::MissingSeparators:
            std::abort(); // only finish() may say so
        case RequestSplitter::Status::UnknownVerb:
        case RequestSplitter::Status::Oversized:
            return false;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int pieces = data[0] % (MaxPieces + 1);
    size_t pos = 1;
    int cuts[MaxPieces] = {};
    for (int i = 0; i < pieces && pos < size; ++i)
        cuts[i] = data[pos++];

    const QByteArrayView stream(reinterpret_cast<const char *>(data) + pos, qsizetype(size - pos));
    RequestSplitter splitter;
    qsizetype offset = 0;
    qsizetype taken = 0;
    for (int i = 0; i <= pieces && offset < stream.size(); ++i) {
        const qsizetype length = i < pieces ? std::min<qsizetype>(cuts[i], stream.size() - offset)
                                            : stream.size() - offset;
        splitter.feed(stream.sliced(offset, length));
        offset += length;
        if (!drain(splitter, taken))
            return 0;
    }
    Request request;
    if (splitter.finish(&request) == RequestSplitter::Status::Ready) {
        check(request);
        ++taken;
    }
    // Each request holds at least a verb and both separators.
    if (taken * 17 > stream.size())
        std::abort();
    return 0;
}
