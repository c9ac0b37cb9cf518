#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Puts Harrox's replies together from the pieces a network delivers, and
// tells when one is whole. Harrox writes a reply at once: the members, the
// separator "/*/", then the conversation, one line per line end (it cleans
// line breaks out of names and posts), as many lines as the request asked
// for or as the conversation holds, perhaps followed by a not-stored notice.
//
// - By content: a reply holding the separator and as many line ends after
//   it as the lines asked for is whole at once.
// - By pause, where the content cannot tell (a conversation shorter than
//   the count): the link has been quiet for a window that follows the link,
//   its round trip and the pace of the reply's own pieces, and grows after a
//   pause that turned out to be inside a reply.
// - Bytes that come after a reply was shown continue it unless they begin
//   with a reply of their own (a separator of their own, after one that
//   the shown reply already holds): Harrox never sends a reply without one.
//   So a reply shown too early is extended, never replaced by its tail.
//
// What a hostile host sends costs little: a line is cut at MaxLineBytes with
// a marker, and a reply keeps at most MaxReplyBytes.
class ReplyAssembler
{
public:
    // Twice the longest line Harrox can store; no person reads further.
    static constexpr qsizetype MaxLineBytes = 128 * 1024;
    static constexpr qsizetype MaxReplyBytes = 4 * 1024 * 1024;
    static constexpr qint64 MinQuietMs = 150;
    static constexpr qint64 MaxQuietMs = 3000;
    // A reply still arriving is shown as it stands this often.
    static constexpr qint64 ShowEveryMs = 2000;
    // Ends a cut line: "…" in code page 932.
    static constexpr QByteArrayView CutMarker = "\x81\x63";

    // The next replies answer a request for so many lines.
    void expect(int lines) { m_lines = lines; }
    void setRoundTrip(qint64 ms) { m_roundTripMs = ms; }

    // Takes a piece that came at now (monotonic ms). True: show it now.
    bool add(QByteArrayView piece, qint64 now);
    // The pause, counted from the last piece, that ends a reply.
    qint64 quietMs() const;
    bool hasUnshown() const { return !m_next.bytes.isEmpty(); }
    // Bytes held, shown or not: what a hostile host can make us keep.
    qsizetype heldBytes() const { return m_shown.bytes.size() + m_next.bytes.size(); }

    struct Reply
    {
        QByteArray bytes;
        bool continues = false; // extends the reply shown last
        bool cut = false; // something of it was thrown away
    };
    // The reply as it stands, to be shown.
    Reply take();
    void reset() { *this = ReplyAssembler(); }

private:
    struct Part
    {
        QByteArray bytes;
        qsizetype separatorEnd = -1; // just after the first separator
        int lineEnds = 0; // in all of it
        int lineEndsAfterSeparator = 0;
        qint64 firstAt = 0;
        qint64 lastAt = 0;
        int pieces = 0;
        bool cut = false;
    };

    void keep(char byte);
    // The next part begins a reply of its own.
    bool nextBegins() const;
    bool wholeByContent() const;

    Part m_shown; // the reply shown last
    Part m_next; // since then
    int m_lines = 0;
    qint64 m_roundTripMs = 0;
    qint64 m_learnedQuietMs = 0;
    // Scanning state, carried from piece to piece.
    qsizetype m_lineBytes = 0;
    int m_separatorMatched = 0;
    bool m_leadPending = false;
    bool m_skippingLine = false;
};
