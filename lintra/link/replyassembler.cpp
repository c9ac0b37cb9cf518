#include "replyassembler.h"

#include "wire/chatprotocol.h"
#include "wire/cp932.h"

#include <algorithm>

namespace {
constexpr QByteArrayView Separator = ChatProtocol::Bytes::ReplySeparator;
} // namespace

bool ReplyAssembler::add(QByteArrayView piece, qint64 now)
{
    if (m_next.pieces++ == 0)
        m_next.firstAt = now;
    m_next.lastAt = now;
    for (const char byte : piece)
        keep(byte);
    return wholeByContent() || now - m_next.firstAt >= ShowEveryMs;
}

void ReplyAssembler::keep(char byte)
{
    Part &part = m_next;
    if (part.bytes.size() >= MaxReplyBytes) {
        part.cut = true;
        return;
    }
    if (byte == '\n') {
        // Never the second byte of a character: a lead byte before it was alone.
        part.bytes.append(byte);
        ++part.lineEnds;
        if (part.separatorEnd >= 0)
            ++part.lineEndsAfterSeparator;
        m_lineBytes = 0;
        m_skippingLine = false;
        m_leadPending = false;
        m_separatorMatched = 0;
        return;
    }
    if (m_skippingLine)
        return;
    if (m_lineBytes >= MaxLineBytes) {
        // Half a character would turn the marker into another one.
        if (m_leadPending && !part.bytes.isEmpty())
            part.bytes.chop(1);
        part.bytes.append(CutMarker);
        part.cut = true;
        m_skippingLine = true;
        return;
    }
    part.bytes.append(byte);
    ++m_lineBytes;
    m_leadPending = !m_leadPending && Cp932::isLeadByte(uchar(byte));
    // "/" and "*" are never the second byte of a character.
    if (part.separatorEnd >= 0)
        return;
    if (byte == Separator[m_separatorMatched])
        ++m_separatorMatched;
    else
        m_separatorMatched = byte == Separator[0] ? 1 : 0;
    if (m_separatorMatched == Separator.size()) {
        part.separatorEnd = part.bytes.size();
        m_separatorMatched = 0;
    }
}

bool ReplyAssembler::nextBegins() const
{
    if (m_shown.bytes.isEmpty())
        return true;
    // A separator that began in the shown reply is that reply's own.
    return m_shown.separatorEnd >= 0 && m_next.separatorEnd >= Separator.size();
}

bool ReplyAssembler::wholeByContent() const
{
    if (m_next.bytes.isEmpty())
        return false;
    if (nextBegins() || m_shown.separatorEnd < 0)
        return m_next.separatorEnd >= 0 && m_next.lineEndsAfterSeparator >= m_lines;
    // A continuation is whole by content only if what was shown was not.
    const int before = m_shown.lineEndsAfterSeparator;
    return before < m_lines && before + m_next.lineEnds >= m_lines;
}

qint64 ReplyAssembler::quietMs() const
{
    qint64 quiet = std::max({MinQuietMs, m_learnedQuietMs, m_roundTripMs + MinQuietMs});
    // A slow link: several of its own gaps between pieces.
    if (m_next.pieces > 1)
        quiet = std::max(quiet, 3 * (m_next.lastAt - m_next.firstAt) / (m_next.pieces - 1));
    return std::min(quiet, MaxQuietMs);
}

ReplyAssembler::Reply ReplyAssembler::take()
{
    Reply reply;
    reply.cut = m_next.cut;
    if (nextBegins()) {
        m_shown = std::move(m_next);
    } else {
        // The pause that ended the shown part was inside a reply: wait longer.
        const qint64 gap = m_next.firstAt - m_shown.lastAt;
        if (gap >= MinQuietMs)
            m_learnedQuietMs = std::min(MaxQuietMs, std::max(m_learnedQuietMs, gap * 3 / 2));
        reply.continues = true;
        const qsizetype before = m_shown.bytes.size();
        const qsizetype room = MaxReplyBytes - before;
        reply.cut = reply.cut || m_next.bytes.size() > room;
        m_shown.bytes.append(QByteArrayView(m_next.bytes).first(std::min(room, m_next.bytes.size())));
        if (m_shown.separatorEnd >= 0) {
            m_shown.lineEndsAfterSeparator += m_next.lineEnds;
        } else if (m_next.separatorEnd >= 0) {
            m_shown.separatorEnd = before + m_next.separatorEnd;
            m_shown.lineEndsAfterSeparator = m_next.lineEndsAfterSeparator;
        }
        m_shown.lineEnds += m_next.lineEnds;
        m_shown.lastAt = m_next.lastAt;
    }
    m_next = Part();
    // The line end that closes the last line is the reply's end, not a line.
    reply.bytes = m_shown.lineEndsAfterSeparator > 0
            ? ChatProtocol::withoutReplyEnd(m_shown.bytes).toByteArray()
            : m_shown.bytes;
    return reply;
}
