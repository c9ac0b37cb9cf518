#include "lan.h"
#include "measures.h"
#include "percentile.h"
#include "wire/chatprotocol.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int GapTransfers = 5;

double nowUs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

} // namespace

// Reads replies with plain blocking reads, as fast as they come, and notes
// the size of each read and the time since the one before.
void segmentGaps(qsizetype replyBytes)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(ChatProtocol::Port);
    inet_pton(AF_INET, qPrintable(ServerAddress), &to.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        std::printf("gaps: cannot connect, skipped\n");
        ::close(fd);
        return;
    }
    std::vector<double> gaps, sizes, transfers;
    std::vector<char> buffer(1 << 16);
    const QByteArray refresh = request("/Reflesh/", QString(), Lines);
    for (int k = 0; k < GapTransfers; ++k) {
        ::usleep(ChatProtocol::ReplyGapMs * 1000);
        if (::send(fd, refresh.constData(), size_t(refresh.size()), 0) != refresh.size())
            break;
        qsizetype got = 0;
        double last = 0, first = 0;
        while (got < replyBytes) {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                break;
            const double t = nowUs();
            if (got > 0)
                gaps.push_back((t - last) / 1e3);
            else
                first = t;
            last = t;
            got += n;
            sizes.push_back(double(n));
        }
        transfers.push_back((last - first) / 1e3);
    }
    ::close(fd);
    std::printf(
            "1. reply pieces on the shaped link, %d transfers of %lld bytes: %zu reads, median %.0f "
            "bytes a read; gaps between reads median %.3f ms, 99th percentile %.3f ms, largest %.3f "
            "ms; "
            "first to last byte %.1f ms. Quiet window %d ms = %.0f x the largest gap\n",
            GapTransfers, qlonglong(replyBytes), sizes.size(), median(sizes), median(gaps),
            percentile(gaps, 0.99), percentile(gaps, 1.0), median(transfers),
            ChatProtocol::ReplyQuietMs,
            ChatProtocol::ReplyQuietMs / std::max(percentile(gaps, 1.0), 1e-3));
}
