// Feeds the streaming decoder the input in pieces chosen by the input's first
// bytes; where the rest is text the encoder wrote, it must come back whole.
#include "wire/cp932.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t cuts = data[0] % 8;
    const uint8_t *cutBytes = data + 1;
    const size_t header = 1 + cuts;
    if (size < header)
        return 0;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data + header), qsizetype(size - header));

    Cp932Decoder decoder;
    QString streamed;
    qsizetype at = 0;
    for (size_t k = 0; k < cuts; ++k) {
        const qsizetype piece = qMin<qsizetype>(cutBytes[k], bytes.size() - at);
        streamed += decoder.decode(bytes.sliced(at, piece));
        at += piece;
    }
    streamed += decoder.decode(bytes.sliced(at));
    streamed += decoder.flush();

    // Pieces never change the result.
    if (streamed != Cp932::decode(bytes))
        std::abort();

    // Valid text survives a round trip, in pieces too.
    const QByteArray encoded = Cp932::encode(streamed);
    if (!streamed.contains(QChar(0xFFFD)) && Cp932::decode(encoded) != streamed)
        std::abort();
    return 0;
}
