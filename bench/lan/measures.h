#pragma once

#include "lanwindow.h"

#include <QString>
#include <QStringList>

// The default run's four figures, each printed beside its baseline.

// Lintra's window as the default run drives it.
struct BenchWindow : LanWindow
{
    BenchWindow();
    // Asks with lines, and waits for the reply to show.
    bool refresh(int lines);
};

// 1. The gaps between the pieces of a long reply of replyBytes as a socket
// reads them: what the reply's quiet window must bridge.
void segmentGaps(qsizetype replyBytes);

// 2. A refresh of Lines lines to both areas replaced, against the bare
// transfer of the same bytes plus setPlainText alone.
void refreshRoundTrip(BenchWindow &window, qsizetype replyBytes);

// 3. A post to the window's screen with many joined clients.
void liveLatency(BenchWindow &window);

// 4. Harrox's CPU with live delivery, against --no-live and against clients
// that poll, for each harrox build given; each run from an empty room whose
// database is named after dbStem.
void compareServerCpu(const QString &lan, const QString &dbStem, const QStringList &builds);
