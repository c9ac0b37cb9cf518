#pragma once

#include "request.h"

#include <QByteArray>
#include <QByteArrayView>

// Cuts requests out of one connection's byte stream.
//
// Grammar (bytes, CP932; nothing escaped, no terminator, no framing):
//
//   stream    = *request
//   request   = verb payload "/*/~" address "/**/" line-count
//   verb      = "CanEnter?"      payload: user name, sent once after connecting
//             | "NormalTel"      payload: one message line, never empty
//             | "/Reflesh/"      payload: empty
//   address   = the client's own IP address as text (no "/")
//   line-count= the combo box text; "10".."50" in practice, may be anything
//
//   reply     = members "/*/" conversation
//   members   = *(name CRLF) name      never holds "/*/" (names are altered)
//   conversation = *(line CRLF), oldest first; then a notice CRLF, if any
//
// A payload may hold "/*/~", "/**/" and "/*/" itself, so the separators of a
// request are the LAST "/*/~" + address + "/**/" before the request's end.
//
// Where a request ends: without a terminator, the end of a line count is
// only known from what follows it.
//   1. A verb starting after the line count separator begins the next
//      request (the count is digits in practice, never a verb).
//   2. Otherwise the request ends at the end of the bytes received so far:
//      clients write each request at once, so a read that ends after the
//      line count is the common case and is answered without delay. A tail
//      of digits followed by the first bytes of a verb waits for the rest.
//   3. Should TCP have cut a line count after all ("/**/1" then "0"), the
//      digits at the start of the next read belong to the count already
//      answered and are dropped: one request still gets one reply, at worst
//      with fewer lines.
//   4. A request that has stalled without separators is reported by
//      finish(); one with separators is completed by it.
// Separators and verbs are found on bytes: '/', '*' and digits are never the
// second byte of a CP932 character, and the scan after a line count
// separator steps over double-byte characters, so a separator or verb is
// never matched inside one. The payload is decoded only once it is whole.
class RequestSplitter
{
public:
    enum class Status {
        NeedMore, // no complete request yet
        Ready, // *request holds the next request
        UnknownVerb, // the stream does not start with a verb
        Oversized, // a request grew past MaxRequestBytes
        MissingSeparators, // finish(): the stalled request has no separators
    };

    // Longer than any IP address text; bounds the backward scan.
    static constexpr qsizetype MaxAddressBytes = 255;
    // The message box holds 32,767 characters, each at most two bytes in
    // CP932: 65,534 bytes of payload. The verb (9), both separators (8), an
    // address (at most 255) and a line count fit in the 4,096 beside it:
    // 65,534 + 4,096 = 69,630. The longest paste is never refused.
    static constexpr qsizetype MaxPayloadBytes = 2 * 32767;
    static constexpr qsizetype MaxRequestBytes = MaxPayloadBytes + 4096;

    void feed(QByteArrayView bytes);
    Status next(Request *request);
    // No more bytes are coming soon: complete what is buffered if it can be.
    Status finish(Request *request);

    qsizetype bufferedBytes() const { return m_buffer.size(); }
    void clear();

private:
    struct VerbMatch
    {
        qsizetype length = 0; // 0: no verb
        bool partial = false; // the buffer ends inside a verb
        Request::Verb verb = Request::Verb::Refresh;
    };

    Status split(Request *request, bool final);
    VerbMatch verbAt(qsizetype pos) const;
    bool separatorsEndAt(qsizetype countSeparator, qsizetype payloadStart) const;
    bool digitsThenPartialVerb(qsizetype from) const;
    void skipCountTail();
    void take(Request *request, Request::Verb verb, qsizetype payloadStart, qsizetype countSeparator,
              qsizetype end);

    QByteArray m_buffer;
    bool m_countMayContinue = false;
};
