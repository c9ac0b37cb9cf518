// Decoding and dividing a reply, beside a plain memcpy and the toolkit's own
// UTF-8 decoding of the same number of bytes; reading a 1,000-record list.
#include "pcipfile.h"
#include "wire/chatprotocol.h"
#include "wire/cp932.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

// A reply as Harrox sends it: members, separator, conversation lines.
QString replyText(qsizetype bytes)
{
    QString text = QStringLiteral("山田\r\n鈴木\r\nsato\r\n/*/");
    const QString lines[] = {
            QStringLiteral("12:01 山田> おはようございます。今日の会議は15時からです。\r\n"),
            QStringLiteral("12:02 sato> OK, I'll bring the printouts (資料) for everyone.\r\n"),
            QStringLiteral("12:03 鈴木> 了解です～ 会議室Ａでお願いします①\r\n"),
    };
    for (int k = 0; Cp932::encode(text).size() < bytes; ++k)
        text += lines[k % 3];
    return text;
}

QByteArray cp932Reply(qsizetype bytes)
{
    return Cp932::encode(replyText(bytes)).first(bytes);
}

QByteArray utf8Reply(qsizetype bytes)
{
    QByteArray utf8 = replyText(bytes).toUtf8();
    qsizetype cut = bytes;
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80)
        --cut; // whole characters only
    return utf8.first(cut);
}

void BM_Memcpy(benchmark::State &state)
{
    const QByteArray in = cp932Reply(state.range(0));
    QByteArray out(in.size(), Qt::Uninitialized);
    for (auto _ : state) {
        std::memcpy(out.data(), in.constData(), size_t(in.size()));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * in.size());
}

void BM_QtUtf8Decode(benchmark::State &state)
{
    const QByteArray in = utf8Reply(state.range(0));
    for (auto _ : state) {
        QString text = QString::fromUtf8(in);
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * in.size());
}

void BM_Cp932DecodeAndDivide(benchmark::State &state)
{
    const QByteArray in = cp932Reply(state.range(0));
    for (auto _ : state) {
        Cp932Decoder decoder;
        const ChatProtocol::ReplyParts parts = ChatProtocol::divideReply(decoder.decode(in));
        benchmark::DoNotOptimize(parts);
    }
    state.SetBytesProcessed(state.iterations() * in.size());
}

void BM_ReadPcip1000(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PCIP.dat"));
    QList<PCIPRecord> records;
    for (int k = 0; k < 1000; ++k) {
        PCIPRecord r;
        r.TryConnect = k % 2 ? VBTrue : VBFalse;
        r.setName(QStringLiteral("本社サーバー%1").arg(k));
        r.setAddress(QStringLiteral("127.0.%1.%2").arg(k / 250).arg(k % 250 + 1));
        records.append(r);
    }
    if (!PCIPFile::rewrite(path, records)) {
        state.SkipWithError("cannot write PCIP.dat");
        return;
    }
    PCIPRecord buffer;
    for (auto _ : state) {
        QList<PCIPRecord> read;
        PCIPFile::readAll(path, buffer, read);
        benchmark::DoNotOptimize(read);
    }
}

} // namespace

BENCHMARK(BM_Memcpy)->Arg(4096)->Arg(80 * 1024);
BENCHMARK(BM_QtUtf8Decode)->Arg(4096)->Arg(80 * 1024);
BENCHMARK(BM_Cp932DecodeAndDivide)->Arg(4096)->Arg(80 * 1024);
BENCHMARK(BM_ReadPcip1000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
