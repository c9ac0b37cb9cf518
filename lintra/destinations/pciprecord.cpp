#include "pciprecord.h"

#include "wire/cp932.h"

#include <QtEndian>

void PCIPRecord::blankTextFields()
{
    IPAddress = QString(AddressWidth, u' ');
    PCName = QString(NameWidth, u' ');
}

QString PCIPRecord::trimmedName() const
{
    qsizetype begin = 0;
    qsizetype end = PCName.size();
    while (begin < end && PCName[begin] == u' ')
        ++begin;
    while (end > begin && PCName[end - 1] == u' ')
        --end;
    return PCName.sliced(begin, end - begin);
}

QString PCIPRecord::trimmedAddress() const
{
    qsizetype end = IPAddress.size();
    while (end > 0 && IPAddress[end - 1] == u' ')
        --end;
    return IPAddress.first(end);
}

QString PCIPRecord::fixedLength(QStringView text, int width)
{
    qsizetype cut = qMin<qsizetype>(text.size(), width);
    if (cut > 0 && cut < text.size() && text[cut - 1].isHighSurrogate())
        --cut;
    QString result = text.first(cut).toString();
    result.append(QString(width - cut, u' '));
    return result;
}

QByteArray PCIPRecord::encodeField(QStringView text, int width)
{
    const QByteArray encoded = Cp932::encode(fixedLength(text, width));
    qsizetype end = 0;
    while (end < encoded.size()) {
        const qsizetype step = Cp932::isLeadByte(static_cast<unsigned char>(encoded[end])) ? 2 : 1;
        if (end + step > width)
            break;
        end += step;
    }
    QByteArray field = encoded.first(end);
    field.append(QByteArray(width - end, ' '));
    return field;
}

QByteArray PCIPRecord::toBytes() const
{
    QByteArray bytes(NameOffset, Qt::Uninitialized);
    qToLittleEndian<qint16>(TryConnect, bytes.data());
    bytes += encodeField(PCName, NameWidth);
    bytes += encodeField(IPAddress, AddressWidth);
    return bytes;
}

void PCIPRecord::fromBytes(QByteArrayView bytes)
{
    Q_ASSERT(bytes.size() >= Length);
    TryConnect = qFromLittleEndian<qint16>(bytes.data());
    PCName = fixedLength(Cp932::decode(bytes.sliced(NameOffset, NameWidth)), NameWidth);
    IPAddress = fixedLength(Cp932::decode(bytes.sliced(AddressOffset, AddressWidth)), AddressWidth);
}
