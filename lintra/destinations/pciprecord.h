#pragma once

#include "vbboolean.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// One destination of PCIP.dat, 37 bytes on disk:
//   offset 0, 2 bytes   TryConnect  little-endian int16, -1 = try, 0 = do not
//   offset 2, 20 bytes  PCName      code page 932, left-aligned, space-padded
//   offset 22, 15 bytes IPAddress   code page 932 (ASCII), space-padded
// No terminator and no NUL padding anywhere.
struct PCIPRecord
{
    static constexpr int Length = 37;
    static constexpr int NameWidth = 20;
    static constexpr int AddressWidth = 15;
    static constexpr int NameOffset = 2;
    static constexpr int AddressOffset = NameOffset + NameWidth;

    // In memory the text fields are fixed-length strings, always padded with
    // spaces to their width, as the design's record type holds them.
    VBBoolean TryConnect = VBFalse;
    QString PCName = QString(NameWidth, u' ');
    QString IPAddress = QString(AddressWidth, u' ');

    void setName(QStringView name) { PCName = fixedLength(name, NameWidth); }
    void setAddress(QStringView address) { IPAddress = fixedLength(address, AddressWidth); }
    void blankTextFields(); // IPAddress, then PCName, filled with spaces

    // What the list and the connect walk use of a record read: the name
    // without its spaces at either end, the address without trailing
    // spaces (leading ones stay). Only U+0020 counts as a space.
    QString trimmedName() const;
    QString trimmedAddress() const;

    QByteArray toBytes() const;
    // Reads all 37 bytes; bytes must hold at least Length bytes.
    void fromBytes(QByteArrayView bytes);

    // Cut to width characters (never between the halves of a surrogate pair)
    // and padded with spaces to exactly width characters.
    static QString fixedLength(QStringView text, int width);
    // The bytes of a text field: width characters to code page 932, then cut
    // to width bytes at a character boundary and padded with spaces, so a
    // double-byte character is never split into a lone lead byte.
    static QByteArray encodeField(QStringView text, int width);
};
