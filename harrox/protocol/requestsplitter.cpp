#include "requestsplitter.h"

#include "wire/cp932.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<Request::Verb, 3> AllVerbs = {Request::Verb::Join, Request::Verb::Message,
                                                   Request::Verb::Refresh};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

void RequestSplitter::feed(QByteArrayView bytes)
{
    m_buffer.append(bytes);
}

void RequestSplitter::clear()
{
    m_buffer.clear();
    m_countMayContinue = false;
}

RequestSplitter::Status RequestSplitter::next(Request *request)
{
    return split(request, false);
}

RequestSplitter::Status RequestSplitter::finish(Request *request)
{
    return split(request, true);
}

RequestSplitter::Status RequestSplitter::split(Request *request, bool final)
{
    skipCountTail();
    if (m_buffer.isEmpty())
        return Status::NeedMore;

    const VerbMatch verb = verbAt(0);
    if (verb.partial)
        return final ? Status::MissingSeparators : Status::NeedMore;
    if (verb.length == 0)
        return Status::UnknownVerb;

    const QByteArrayView buffer(m_buffer);
    qsizetype separator = verb.length;
    while ((separator = buffer.indexOf(ChatProtocol::Bytes::LineCountSeparator, separator)) >= 0) {
        if (separatorsEndAt(separator, verb.length))
            break;
        ++separator;
    }
    if (separator < 0) {
        if (m_buffer.size() > MaxRequestBytes)
            return Status::Oversized;
        return final ? Status::MissingSeparators : Status::NeedMore;
    }

    // Walk on to the next verb; a later separator group before it means the
    // earlier one was part of the payload.
    qsizetype end = -1;
    qsizetype pos = separator + ChatProtocol::Bytes::LineCountSeparator.size();
    while (pos < buffer.size()) {
        if (buffer.sliced(pos).startsWith(ChatProtocol::Bytes::LineCountSeparator)
            && separatorsEndAt(pos, verb.length)) {
            separator = pos;
            pos += ChatProtocol::Bytes::LineCountSeparator.size();
            continue;
        }
        const VerbMatch following = verbAt(pos);
        if (following.length > 0 && !following.partial) {
            end = pos;
            break;
        }
        pos += Cp932::isLeadByte(uchar(buffer[pos])) ? 2 : 1;
    }

    if (end < 0) {
        if (m_buffer.size() > MaxRequestBytes)
            return Status::Oversized;
        if (!final && digitsThenPartialVerb(separator + ChatProtocol::Bytes::LineCountSeparator.size()))
            return Status::NeedMore;
        end = m_buffer.size();
        m_countMayContinue = true;
    }
    if (end > MaxRequestBytes)
        return Status::Oversized;
    take(request, verb.verb, verb.length, separator, end);
    return Status::Ready;
}

RequestSplitter::VerbMatch RequestSplitter::verbAt(qsizetype pos) const
{
    const QByteArrayView rest = QByteArrayView(m_buffer).sliced(pos);
    for (const Request::Verb verb : AllVerbs) {
        const QByteArrayView text = Request::verbText(verb);
        if (rest.startsWith(text))
            return {text.size(), false, verb};
        if (rest.size() < text.size() && text.startsWith(rest))
            return {rest.size(), true, verb};
    }
    return {};
}

// True when the "/**/" at countSeparator is preceded by "/*/~" and an address
// (no "/"), both after the verb.
bool RequestSplitter::separatorsEndAt(qsizetype countSeparator, qsizetype payloadStart) const
{
    const qsizetype floor =
            std::max(payloadStart,
                     countSeparator - MaxAddressBytes - ChatProtocol::Bytes::AddressSeparator.size());
    qsizetype slash = countSeparator - 1;
    while (slash >= floor && m_buffer[slash] != '/')
        --slash;
    // The last "/" before the address is the third byte of "/*/~".
    const qsizetype start = slash - 2;
    return start >= payloadStart
            && start + ChatProtocol::Bytes::AddressSeparator.size() <= countSeparator
            && QByteArrayView(m_buffer).sliced(start).startsWith(ChatProtocol::Bytes::AddressSeparator);
}

bool RequestSplitter::digitsThenPartialVerb(qsizetype from) const
{
    while (from < m_buffer.size() && isDigit(m_buffer[from]))
        ++from;
    if (from == m_buffer.size())
        return false;
    const VerbMatch verb = verbAt(from);
    return verb.partial;
}

void RequestSplitter::skipCountTail()
{
    if (!m_countMayContinue || m_buffer.isEmpty())
        return;
    qsizetype digits = 0;
    while (digits < m_buffer.size() && isDigit(m_buffer[digits]))
        ++digits;
    m_buffer.remove(0, digits);
    if (!m_buffer.isEmpty())
        m_countMayContinue = false;
}

void RequestSplitter::take(Request *request, Request::Verb verb, qsizetype payloadStart,
                           qsizetype countSeparator, qsizetype end)
{
    const QByteArrayView buffer(m_buffer);
    const qsizetype addressSeparator = buffer.lastIndexOf('/', countSeparator - 1) - 2;
    const qsizetype addressStart = addressSeparator + ChatProtocol::Bytes::AddressSeparator.size();
    const qsizetype countStart = countSeparator + ChatProtocol::Bytes::LineCountSeparator.size();

    request->verb = verb;
    request->payload = buffer.sliced(payloadStart, addressSeparator - payloadStart).toByteArray();
    request->address = buffer.sliced(addressStart, countSeparator - addressStart).toByteArray();
    request->lineCount = buffer.sliced(countStart, end - countStart).toByteArray();
    m_buffer.remove(0, end);
}
