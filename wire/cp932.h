#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Code page 932 (the Windows variant of Shift-JIS): the encoding of the wire
// and of PCIP.dat. Mappings follow ICU's Windows-31J converter; a character
// the code page cannot hold becomes "?", bytes that do not decode become
// U+FFFD, and neither ever swallows a neighbouring character.
namespace Cp932 {

QByteArray encode(QStringView text);

// Decodes a complete text: a lead byte left alone at the very end is U+FFFD.
QString decode(QByteArrayView bytes);

// The first byte of a double-byte character.
constexpr bool isLeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

} // namespace Cp932

// Decodes a byte stream that arrives in pieces (TCP reads). A lead byte at
// the end of a piece is held back until the next piece, so a double-byte
// character split across two reads is decoded whole.
class Cp932Decoder
{
public:
    QString decode(QByteArrayView piece);
    // Ends the stream: a held-back lead byte becomes U+FFFD.
    QString flush();
    void reset() { m_pending = -1; }

private:
    int m_pending = -1; // held-back lead byte, or -1
};
