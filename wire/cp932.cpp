#include "wire/cp932.h"

#include <unicode/ucnv.h>

#include <array>
#include <cstring>
#include <memory>

namespace {

constexpr char16_t Replacement = u'\uFFFD';
constexpr char16_t Invalid = 0; // table entry: the byte (pair) does not decode

struct ConverterCloser
{
    void operator()(UConverter *c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter openConverter()
{
    UErrorCode error = U_ZERO_ERROR;
    Converter converter(ucnv_open("windows-31j", &error));
    if (U_FAILURE(error))
        qFatal("ICU has no windows-31j converter: %s", u_errorName(error));
    return converter;
}

// Decoding goes through tables read once from ICU's converter: a table look-up
// per character keeps a large reply cheap next to the toolkit's own work.
struct DecodeTables
{
    std::array<char16_t, 256> single{};
    std::array<char16_t, 256 * 256> pair{}; // indexed by lead << 8 | trail

    DecodeTables()
    {
        Converter converter = openConverter();
        auto decodeOne = [&](const char *bytes, int length) -> char16_t {
            UChar out[4];
            UErrorCode error = U_ZERO_ERROR;
            ucnv_reset(converter.get());
            ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                                &error);
            const int n = ucnv_toUChars(converter.get(), out, 4, bytes, length, &error);
            return (U_SUCCESS(error) && n == 1) ? out[0] : Invalid;
        };
        for (int b = 0; b < 256; ++b) {
            if (Cp932::isLeadByte(static_cast<unsigned char>(b)))
                continue;
            const char byte = static_cast<char>(b);
            single[b] = b == 0 ? u'\0' : decodeOne(&byte, 1);
        }
        for (int lead = 0x81; lead <= 0xFC; ++lead) {
            if (!Cp932::isLeadByte(static_cast<unsigned char>(lead)))
                continue;
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                pair[lead << 8 | trail] = decodeOne(bytes, 2);
            }
        }
    }
};

const DecodeTables &tables()
{
    static const DecodeTables instance; // immutable after construction
    return instance;
}

constexpr bool isTrailByte(unsigned char b)
{
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// Decodes bytes[0, size) into out, which has room for size characters.
// Returns the characters written; a lead byte at the end is left to the caller
// through *heldLead (or decoded as U+FFFD when heldLead is null).
qsizetype decodeInto(const unsigned char *bytes, qsizetype size, char16_t *out, int *heldLead)
{
    const DecodeTables &t = tables();
    char16_t *const start = out;
    qsizetype i = 0;
    while (i < size) {
        // Runs of ASCII are the common case on the wire.
        while (i + 8 <= size) {
            quint64 chunk;
            std::memcpy(&chunk, bytes + i, 8);
            if (chunk & 0x8080808080808080ULL)
                break;
            for (int k = 0; k < 8; ++k)
                out[k] = bytes[i + k];
            out += 8;
            i += 8;
        }
        if (i >= size)
            break;
        const unsigned char b = bytes[i];
        if (b < 0x80) {
            *out++ = b;
            ++i;
            continue;
        }
        if (!Cp932::isLeadByte(b)) {
            const char16_t c = t.single[b];
            *out++ = c == Invalid ? Replacement : c;
            ++i;
            continue;
        }
        if (i + 1 == size) {
            if (heldLead)
                *heldLead = b;
            else
                *out++ = Replacement;
            ++i;
            break;
        }
        const unsigned char trail = bytes[i + 1];
        if (!isTrailByte(trail)) {
            // Only the lead byte is bad; the next byte stands on its own.
            *out++ = Replacement;
            ++i;
            continue;
        }
        const char16_t c = t.pair[b << 8 | trail];
        *out++ = c == Invalid ? Replacement : c;
        i += 2;
    }
    return out - start;
}

QString decodeBytes(QByteArrayView bytes, int *heldLead)
{
    QString text(bytes.size(), Qt::Uninitialized);
    const qsizetype n = decodeInto(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                                   reinterpret_cast<char16_t *>(text.data()), heldLead);
    text.truncate(n);
    return text;
}

} // namespace

namespace Cp932 {

QByteArray encode(QStringView text)
{
    QByteArray out;
    out.reserve(text.size());
    Converter converter;
    qsizetype i = 0;
    while (i < text.size()) {
        // ASCII goes through unchanged. ICU's table would swap the controls
        // 0x1A, 0x1C and 0x7F as IBM code pages do; Windows keeps them.
        if (text[i].unicode() < 0x80) {
            out += char(text[i].unicode());
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && text[end].unicode() >= 0x80)
            ++end;
        if (!converter) {
            // Windows' best-fit mappings (fallbacks) on, "?" for what the
            // code page cannot hold.
            converter = openConverter();
            UErrorCode error = U_ZERO_ERROR;
            ucnv_setFallback(converter.get(), true);
            ucnv_setSubstChars(converter.get(), "?", 1, &error);
        }
        // Windows' best fit also maps these three Latin-1 signs to their
        // full-width forms; ICU's table has no fallback for them.
        QString latinSigns;
        QStringView run = text.sliced(i, end - i);
        if (run.contains(u'\u00A2') || run.contains(u'\u00A3') || run.contains(u'\u00AC')) {
            latinSigns = run.toString();
            latinSigns.replace(u'\u00A2', u'\uFFE0');
            latinSigns.replace(u'\u00A3', u'\uFFE1');
            latinSigns.replace(u'\u00AC', u'\uFFE2');
            run = latinSigns;
        }
        const qsizetype at = out.size();
        out.resize(at + UCNV_GET_MAX_BYTES_FOR_STRING(run.size(), 2));
        UErrorCode error = U_ZERO_ERROR;
        const int n =
                ucnv_fromUChars(converter.get(), out.data() + at, int(out.size() - at),
                                reinterpret_cast<const UChar *>(run.utf16()), int(run.size()), &error);
        if (U_FAILURE(error)) {
            out.resize(at);
            out.append(QByteArray(run.size(), '?'));
        } else {
            out.resize(at + n);
        }
        i = end;
    }
    return out;
}

QString decode(QByteArrayView bytes)
{
    return decodeBytes(bytes, nullptr);
}

} // namespace Cp932

QString Cp932Decoder::decode(QByteArrayView piece)
{
    if (m_pending < 0) {
        int held = -1;
        QString text = decodeBytes(piece, &held);
        m_pending = held;
        return text;
    }
    if (piece.isEmpty())
        return {};
    const char joined[2] = {static_cast<char>(m_pending), piece.front()};
    m_pending = -1;
    QString text = decodeBytes(QByteArrayView(joined, 2), nullptr);
    if (text.size() == 2) {
        // The held lead byte did not pair with this piece's first byte:
        // decode that byte with the rest of the piece instead.
        text.truncate(1);
        int held = -1;
        text += decodeBytes(piece, &held);
        m_pending = held;
        return text;
    }
    int held = -1;
    text += decodeBytes(piece.sliced(1), &held);
    m_pending = held;
    return text;
}

QString Cp932Decoder::flush()
{
    if (m_pending < 0)
        return {};
    m_pending = -1;
    return QString(QChar(Replacement));
}
