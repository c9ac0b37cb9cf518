#pragma once

#include <QByteArray>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A destination that never answers, on this machine: a listener whose accept
// queue is full, so the kernel drops every further connection request and
// the client's attempt stays pending.
class SilentListener
{
public:
    bool listen(const char *address, quint16 port)
    {
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        if (inet_pton(AF_INET, address, &where.sin_addr) != 1)
            return false;
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0
            || ::listen(m_listener, 0) != 0)
            return false;
        // One completed connection fills a queue of length 0.
        m_filler = ::socket(AF_INET, SOCK_STREAM, 0);
        return ::connect(m_filler, reinterpret_cast<sockaddr *>(&where), sizeof where) == 0;
    }
    ~SilentListener()
    {
        if (m_filler >= 0)
            ::close(m_filler);
        if (m_listener >= 0)
            ::close(m_listener);
    }

private:
    int m_listener = -1;
    int m_filler = -1;
};
