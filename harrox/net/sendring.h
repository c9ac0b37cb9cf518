#pragma once

#include <cstddef>
#include <memory>
#include <span>

#include <sys/types.h>

struct io_uring;

// Sends to many sockets in one system call, through io_uring: a push to
// every member of a room is one send per member, and on a virtual machine
// the entry into the kernel costs as much as the send itself. Where the
// kernel or a sandbox (a system call filter) refuses io_uring, each goes
// out with its own send(), as it does where the kernel cannot restrict the
// ring to sends. Sends never wait: a full socket buffer comes back
// as -EAGAIN, like a non-blocking send().
class SendRing
{
public:
    struct Send
    {
        int fd = -1;
        const char *data = nullptr;
        size_t size = 0;
        // Bytes the kernel took, or -errno.
        ssize_t result = 0;
    };

    // Entries submitted at once; longer lists go in several calls.
    static constexpr unsigned Entries = 256;

    explicit SendRing(bool useRing = true);
    ~SendRing();
    SendRing(const SendRing &) = delete;
    SendRing &operator=(const SendRing &) = delete;

    bool usesRing() const { return m_ring != nullptr; }
    // Sets up ring to take sends and nothing else; false, with nothing to
    // free, where the kernel refuses it or the restriction.
    static bool openRestricted(io_uring &ring);
    // Sends each and fills in its result.
    void sendAll(std::span<Send> sends);

private:
    // Sends what the ring takes; returns how many that was.
    size_t submit(std::span<Send> sends);
    void closeRing();

    std::unique_ptr<io_uring> m_ring;
};
