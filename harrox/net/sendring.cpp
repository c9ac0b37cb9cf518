#include "sendring.h"

#include <algorithm>
#include <cerrno>
#include <limits>

#include <liburing.h>
#include <sys/socket.h>

namespace {
constexpr int SendFlags = MSG_NOSIGNAL | MSG_DONTWAIT;
// Submissions refused for want of resources before the ring is given up.
constexpr int MaxTries = 8;
constexpr ssize_t Unknown = std::numeric_limits<ssize_t>::min();

void sendEach(std::span<SendRing::Send> sends)
{
    for (SendRing::Send &s : sends) {
        do
            s.result = ::send(s.fd, s.data, s.size, SendFlags);
        while (s.result < 0 && errno == EINTR);
        if (s.result < 0)
            s.result = -errno;
    }
}
} // namespace

SendRing::SendRing(bool useRing)
{
    if (!useRing)
        return;
    auto ring = std::make_unique<io_uring>();
    if (openRestricted(*ring))
        m_ring = std::move(ring);
}

bool SendRing::openRestricted(io_uring &ring)
{
    // Disabled until restricted: what the ring may do is decided before it
    // can do anything. An entry the kernel refuses does not hold back the
    // ones behind it.
    constexpr unsigned Disabled = IORING_SETUP_R_DISABLED;
    if (io_uring_queue_init(Entries, &ring, Disabled | IORING_SETUP_SUBMIT_ALL) != 0
        && io_uring_queue_init(Entries, &ring, Disabled) != 0)
        return false;
    // Sends alone, and no register operation: the ring's entries pass by
    // the unit's system call filter, so they must not reach further than
    // the send() that the filter allows.
    io_uring_restriction onlySend{};
    onlySend.opcode = IORING_RESTRICTION_SQE_OP;
    onlySend.sqe_op = IORING_OP_SEND;
    // Through io_uring_register(): Debian's liburing 2.3 declares but does
    // not export io_uring_register_restrictions() and io_uring_enable_rings().
    if (io_uring_register(unsigned(ring.ring_fd), IORING_REGISTER_RESTRICTIONS, &onlySend, 1) != 0
        || io_uring_register(unsigned(ring.ring_fd), IORING_REGISTER_ENABLE_RINGS, nullptr, 0) != 0) {
        // A kernel that cannot restrict a ring gets no ring: plain sends.
        io_uring_queue_exit(&ring);
        return false;
    }
    return true;
}

SendRing::~SendRing()
{
    closeRing();
}

void SendRing::closeRing()
{
    // Entries it holds that were never submitted are dropped with it.
    if (m_ring)
        io_uring_queue_exit(m_ring.get());
    m_ring.reset();
}

void SendRing::sendAll(std::span<Send> sends)
{
    while (!sends.empty()) {
        const auto part = sends.first(std::min<size_t>(sends.size(), Entries));
        const size_t sent = m_ring ? submit(part) : 0;
        sendEach(part.subspan(sent));
        sends = sends.subspan(part.size());
    }
}

size_t SendRing::submit(std::span<Send> sends)
{
    for (size_t i = 0; i < sends.size(); ++i) {
        io_uring_sqe *entry = io_uring_get_sqe(m_ring.get());
        io_uring_prep_send(entry, sends[i].fd, sends[i].data, sends[i].size, SendFlags);
        io_uring_sqe_set_data64(entry, i);
        sends[i].result = Unknown;
    }
    size_t taken = 0;
    for (int tries = 0; taken < sends.size() && tries < MaxTries; ++tries) {
        const int n = io_uring_submit(m_ring.get());
        if (n > 0)
            taken += size_t(n);
        else if (n != -EINTR && n != -EAGAIN && n != -EBUSY)
            break;
    }
    // A send that cannot go at once completes at once (MSG_DONTWAIT), so
    // every result is in by now and the waits below return at once.
    size_t seen = 0;
    while (seen < taken) {
        io_uring_cqe *done = nullptr;
        const int error = io_uring_wait_cqe(m_ring.get(), &done);
        if (error == -EINTR)
            continue;
        if (error < 0)
            break;
        sends[size_t(io_uring_cqe_get_data64(done))].result = done->res;
        io_uring_cqe_seen(m_ring.get(), done);
        ++seen;
    }
    if (seen < taken) {
        // Sent or not, nobody can tell: those connections must end rather
        // than send a reply twice or not at all.
        for (Send &s : sends.first(taken)) {
            if (s.result == Unknown)
                s.result = -EIO;
        }
    }
    if (taken < sends.size() || seen < taken)
        closeRing(); // the rest go with send(), now and from now on
    return taken;
}
