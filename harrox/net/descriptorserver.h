#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <functional>

class QSocketNotifier;

// A listening socket that hands over each accepted connection as a bare
// descriptor: no QTcpSocket, with its objects and notifiers, is made for it.
// Out of descriptors, it stops accepting (the kernel keeps the newcomers
// waiting) until one is freed, instead of trying again on every wake-up.
class DescriptorServer final : public QObject
{
public:
    using Accepted = std::function<void(int fd)>;

    // Out of descriptors, accepting is tried again after this even if no
    // connection closed: something else may have freed one.
    static constexpr int RetryMs = 1000;

    explicit DescriptorServer(Accepted accepted, QObject *parent = nullptr);
    ~DescriptorServer() override;

    bool listen(const QHostAddress &address, quint16 port, int backlog);
    QString errorString() const { return m_error; }
    QHostAddress serverAddress() const { return m_address; }
    quint16 serverPort() const { return m_port; }
    bool accepting() const;
    // A descriptor was freed: accept again if we had stopped.
    void descriptorFreed();

private:
    void acceptAll();

    Accepted m_accepted;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_retry;
    QHostAddress m_address;
    quint16 m_port = 0;
    QString m_error;
};
