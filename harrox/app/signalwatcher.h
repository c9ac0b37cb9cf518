#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a stop and SIGHUP into a reload on the event
// loop, through a signalfd, so that shutdown runs the normal destructors (the
// database is closed properly) and no handler runs in the middle of a write.
// SIGUSR1 and SIGUSR2 are logged and ignored.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    // Must run before any thread starts: threads inherit the blocked mask,
    // and a blocked signal is only delivered through the signalfd.
    static bool blockTerminationSignals();

    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    bool isValid() const { return m_fd >= 0; }

signals:
    void terminationRequested(int signalNumber);
    void reloadRequested();

private:
    void readSignal();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};
