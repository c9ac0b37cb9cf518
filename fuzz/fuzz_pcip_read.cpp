// Reads arbitrary bytes as PCIP.dat; every record read must write back to
// 37 bytes and read back the same.
#include "pcipfile.h"

#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PCIP.dat"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    PCIPRecord buffer;
    QList<PCIPRecord> records;
    if (!PCIPFile::readAll(path, buffer, records))
        std::abort();
    if (records.size() != qsizetype(size / PCIPRecord::Length))
        std::abort();
    for (const PCIPRecord &record : records) {
        const QByteArray bytes = record.toBytes();
        if (bytes.size() != PCIPRecord::Length)
            std::abort();
        PCIPRecord again;
        again.fromBytes(bytes);
        if (again.TryConnect != record.TryConnect || again.PCName.size() != PCIPRecord::NameWidth
            || again.IPAddress.size() != PCIPRecord::AddressWidth)
            std::abort();
    }
    return 0;
}
