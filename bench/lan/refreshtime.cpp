#include "lanpeer.h"
#include "measures.h"
#include "percentile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int RefreshRounds = 15;

} // namespace

BenchWindow::BenchWindow() : LanWindow(ServerAddress, QStringLiteral("bench")) { }

bool BenchWindow::refresh(int lines)
{
    combo4->setEditText(QString::number(lines));
    serveFor(ChatProtocol::ReplyGapMs);
    text3->clear();
    send->click();
    return waitUntil([&] { return text3->document()->blockCount() >= std::min(lines, Lines); }, WaitMs);
}

void refreshRoundTrip(BenchWindow &window, qsizetype replyBytes)
{
    Peer bare(QString(), Lines);
    bare.waitConnected();
    QPlainTextEdit plain; // the toolkit's own share: setPlainText alone
    plain.setFont(window.text3->font());
    plain.resize(window.text3->size());
    plain.show();
    std::vector<double> ours, transfer, setText;
    for (int round = 0; round < RefreshRounds; ++round) {
        serveFor(ChatProtocol::ReplyGapMs);
        window.text3->clear();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        bool replaced = false;
        double replacedAt = 0;
        QElapsedTimer t;
        const auto c = QObject::connect(window.text3, &QPlainTextEdit::textChanged, [&] {
            replaced = window.text3->document()->blockCount() >= Lines;
            replacedAt = double(t.nsecsElapsed()) / 1e6;
        });
        t.start();
        window.send->click();
        waitUntil([&] { return replaced; }, WaitMs);
        QObject::disconnect(c);
        ours.push_back(replacedAt);

        bare.received = 0;
        t.restart();
        bare.refresh();
        waitUntil([&] { return bare.received >= replyBytes; }, WaitMs);
        transfer.push_back(double(t.nsecsElapsed()) / 1e6);

        const QString shown = window.text3->toPlainText();
        plain.clear();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        t.restart();
        plain.setPlainText(shown);
        setText.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    const double base = median(transfer) + median(setText);
    const double goal = ChatProtocol::ReplyQuietMs + 1.5 * base;
    std::printf(
            "2. refresh of %d lines (%lld bytes) to both areas replaced, median of %d: ours %.1f ms; "
            "bare transfer %.1f ms + setPlainText %.1f ms = %.1f ms; goal <= %d + 1.5 x %.1f = %.1f "
            "ms: %s\n",
            Lines, qlonglong(replyBytes), RefreshRounds, median(ours), median(transfer),
            median(setText), base, ChatProtocol::ReplyQuietMs, base, goal,
            median(ours) <= goal ? "met" : "NOT met");
}
