#pragma once

#include <QTcpServer>

#include <functional>

// A listening socket that hands over each accepted connection as a bare
// descriptor: no QTcpSocket, with its objects and notifiers, is made for it.
class DescriptorServer final : public QTcpServer
{
public:
    using Accepted = std::function<void(int fd)>;

    explicit DescriptorServer(Accepted accepted, QObject *parent = nullptr)
        : QTcpServer(parent)
        , m_accepted(std::move(accepted))
    {
    }

protected:
    void incomingConnection(qintptr fd) override { m_accepted(int(fd)); }

private:
    Accepted m_accepted;
};
