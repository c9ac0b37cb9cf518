#pragma once

#include "allowlist.h"
#include "chatroom.h"
#include "postbudget.h"
#include "replypacer.h"

#include <QHostAddress>

#include <limits>

// What the server is told by whoever starts it: where to listen, whom to
// admit and how to pace replies. The defaults are the program's.
struct ServerSettings
{
    static constexpr quint16 DefaultPort = 5001;
    // An office behind one NAT router or terminal server reaches us from one
    // address: a terminal server rarely hosts more than a few hundred
    // sessions, and one host alone can then hold no more than this.
    static constexpr int DefaultMaxPerHost = 256;
    // How long a request may take from its first byte to its last, and a new
    // connection to its first request.
    static constexpr int DefaultRequestTimeoutMs = 5000;

    QHostAddress listenAddress{QHostAddress::AnyIPv4};
    quint16 port = DefaultPort; // 0: any free one
    AllowList allowList = AllowList::lanDefaults();
    // The program sizes it from the open-file limit.
    int maxClients = std::numeric_limits<int>::max();
    int maxPerHost = DefaultMaxPerHost;
    int requestTimeoutMs = DefaultRequestTimeoutMs;
    ReplyPacer::Settings pacing;
    PostBudget::Limits postBudget;
    qint64 replyCacheBytes = ChatRoom::DefaultCacheBytes;
    // The replies queued for all clients together, each shared one once:
    // past it long replies wait, so that a few members who ask for long
    // replies and read none cannot take the memory. Room for one reply of
    // the longest conversation and more.
    static constexpr qint64 DefaultQueuedBytes = 96 * 1024 * 1024;
    qint64 queuedBytesLimit = DefaultQueuedBytes;
};
