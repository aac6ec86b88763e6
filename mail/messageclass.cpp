#include "messageclass.h"

#include "headerclass.h"
#include "headerfields_p.h"
#include "orvanelog_p.h"

#include <algorithm>
#include <cstring>
#include <limits>

using namespace OrvaneHeader;

namespace {

// Offsets are 32-bit: a text is parsed up to this many bytes.
constexpr qsizetype MaxTextLength = std::numeric_limits<qint32>::max() - 1;
// The first line of a header block is cut to this many bytes.
constexpr qsizetype FirstLineLimit = 2047;

// Reads the header block of the region [begin, end): the first line
// unconditionally, then lines up to the first empty one, continuation lines
// (starting with white space) joined by one space, others by LF. Returns
// where the body starts: after the empty line, or the region's end when
// there is none.
const char* scanHeader(const char* begin, const char* end, QCString* header)
{
    const char* p = begin;
    const char* e = lineEnd(p, end);
    if (header)
        *header = QCString(p, std::min<qsizetype>(e - p, FirstLineLimit));
    const bool firstEmpty = e == p;
    p = nextLine(e, end);
    if (firstEmpty)
        return p;
    while (p < end) {
        e = lineEnd(p, end);
        if (e == p)
            return nextLine(e, end);
        if (header) {
            header->append(isStreamSpace(static_cast<unsigned char>(*p)) ? ' ' : '\n');
            header->append(p, e - p);
        }
        p = nextLine(e, end);
    }
    return end;
}

// First occurrence of needle in [from, to), or null.
const char* findBytes(const char* from, const char* to, const QByteArray& needle)
{
    if (to - from < needle.size() || needle.isEmpty())
        return nullptr;
    return static_cast<const char*>(
        memmem(from, size_t(to - from), needle.constData(), size_t(needle.size())));
}

// A string over a literal: no copy, no allocation until it is modified.
template<size_t N>
QCString literal(const char (&s)[N])
{
    return QCString(QByteArray::fromRawData(s, qsizetype(N - 1)));
}

// Lower-cases ASCII letters only.
QCString lowerAscii(const char* p, qsizetype n)
{
    QCString out(p, n);
    char* d = out.data();
    for (qsizetype i = 0; i < n; ++i)
        if (d[i] >= 'A' && d[i] <= 'Z')
            d[i] = char(d[i] + 32);
    return out;
}

bool nameIs(const char* name, int len, const char* lower)
{
    const int n = int(strlen(lower));
    if (len != n)
        return false;
    for (int i = 0; i < n; ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
        if (c != lower[i])
            return false;
    }
    return true;
}

inline bool isSimplifySpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The bytes [b, e) with white space simplified, built in one pass (the
// header parser calls this once per field line).
QCString simplifiedRange(const char* b, const char* e)
{
    while (b < e && isSimplifySpace(*b))
        ++b;
    while (e > b && isSimplifySpace(e[-1]))
        --e;
    if (b == e)
        return QCString("");
    QCString out(QByteArray(e - b, Qt::Uninitialized));
    char* d = out.data();
    bool space = false;
    for (; b < e; ++b) {
        if (isSimplifySpace(*b)) {
            space = true;
            continue;
        }
        if (space) {
            *d++ = ' ';
            space = false;
        }
        *d++ = *b;
    }
    out.truncate(d - out.constData());
    return out;
}

QCString fieldValue(const char* v, const char* e, bool comments)
{
    QCString value = simplifiedRange(v, e);
    if (comments)
        MessageClass::stripComments(value);
    return value;
}

bool contains(const QCString& hay, const char* needle)
{
    return hay.contains(needle);
}

} // namespace

// ------------------------------------------------------------ shared field table

namespace OrvaneHeader {

void collectFields(const QCString& header, RawFields& out)
{
    struct Entry {
        const char* name;
        QCString RawFields::*field;
    };
    static const Entry table[] = {
        { "bcc", &RawFields::bcc },
        { "cc", &RawFields::cc },
        { "content-type", &RawFields::contentType },
        { "content-transfer-encoding", &RawFields::contentTransferEncoding },
        { "date", &RawFields::date },
        { "from", &RawFields::from },
        { "in-reply-to", &RawFields::inReplyTo },
        { "message-id", &RawFields::messageId },
        { "organization", &RawFields::organization },
        { "priority", &RawFields::priority },
        { "reply-to", &RawFields::replyTo },
        { "references", &RawFields::references },
        { "resent-from", &RawFields::resentFrom },
        { "subject", &RawFields::subject },
        { "status", &RawFields::status },
        { "sender", &RawFields::sender },
        { "to", &RawFields::to },
        { "x-priority", &RawFields::xPriority },
        { "x-msmail-priority", &RawFields::xPriority },
    };
    forEachField(header, [&](const char* name, int len, const char* v, const char* e) {
        if (nameIs(name, len, "received")) {
            out.received.append(fieldValue(v, e, true));
            return;
        }
        for (const Entry& entry : table) {
            if (nameIs(name, len, entry.name)) {
                // A message has one author: a second From line (as some
                // programs append to a finished header) does not replace it.
                if (entry.field == &RawFields::from && !out.from.isNull())
                    return;
                // The subject is free text: parentheses in it are the
                // writer's own words, not comments. Address fields keep
                // theirs for the address parser, which knows quoted
                // strings and escaped parentheses.
                const auto f = entry.field;
                const bool keep = f == &RawFields::subject || f == &RawFields::from || f == &RawFields::to
                    || f == &RawFields::cc || f == &RawFields::bcc || f == &RawFields::replyTo
                    || f == &RawFields::sender || f == &RawFields::resentFrom;
                out.*f = fieldValue(v, e, !keep);
                return;
            }
        }
    });
}

QCString normaliseStatus(const QCString& status)
{
    return (status == "O" || status == "R") ? literal("Read") : literal("New");
}

QCString normalisePriority(const QCString& priority)
{
    bool ok = false;
    const int n = priority.trimmed().toInt(&ok);
    static const char* const byNumber[] = { "Highest", "High", "Normal", "Low", "Lowest" };
    if (ok && n >= 1 && n <= 5)
        return QCString(byNumber[n - 1]);
    QCString p = lowerAscii(priority.constData(), priority.size());
    if (p != "normal" && p != "high" && p != "highest" && p != "lowest" && p != "low")
        p = "normal";
    p[0] = char(p[0] - 32);
    return p;
}

} // namespace OrvaneHeader

// ------------------------------------------------------------ MessageClass

MessageClass::MessageClass(const QCString& text) : Date(QCString("")), digest(false)
{
    if (text.isEmpty())
        return;
    const int length = int(std::min(text.size(), MaxTextLength));
    const QCString header = getPartHeader(text, 0, length);
    parseHeader(header);
    processPart(text, 0, length, false, 0, &header);
}

MessageClass::MessageClass(const HeaderClass& h)
    : Content_Type("text/plain"), Content_Transfer_Encoding("8bit"), Date(QCString("")),
      digest(false)
{
    importHeader(h);
}

MessageClass::~MessageClass() = default;

void MessageClass::importHeader(const HeaderClass& h)
{
    From = h.From;
    Reply_To = h.Reply_To;
    To = h.To;
    Cc = h.Cc;
    Bcc = h.Bcc;
    Subject = h.Subject;
    Message_ID = h.Message_ID;
    In_Reply_To = h.In_Reply_To;
    Organization = h.Organization;
    Status = h.Status;
    Priority = h.Priority;
    Received = h.Received;
    References = h.References;
    Date = h.Date;
    Content_Type = h.Content_Type;
    Content_Transfer_Encoding = h.Content_Transfer_Encoding;
}

HeaderClass MessageClass::header() const
{
    HeaderClass h(static_cast<const char*>(nullptr));
    h.From = From;
    h.Reply_To = Reply_To;
    h.To = To;
    h.Cc = Cc;
    h.Bcc = Bcc;
    h.Subject = Subject;
    h.Message_ID = Message_ID;
    h.In_Reply_To = In_Reply_To;
    h.Organization = Organization;
    h.Status = Status;
    h.Priority = Priority;
    h.Content_Type = Content_Type;
    h.Content_Transfer_Encoding = Content_Transfer_Encoding;
    h.Received = Received;
    h.References = References;
    h.Date = Date;
    return h;
}

QCString MessageClass::getPartHeader(const QCString& text, int offset, int length)
{
    QCString header;
    const qsizetype start = std::clamp<qsizetype>(offset, 0, text.size());
    const qsizetype stop = std::clamp<qsizetype>(qsizetype(offset) + length, start, text.size());
    scanHeader(text.constData() + start, text.constData() + stop, &header);
    return header;
}

void MessageClass::parseHeader(const QCString& header)
{
    RawFields f;
    collectFields(header, f);

    assignFields(*this, f, &MessageClass::stripParanthesis);
    if (!f.inReplyTo.isEmpty()) {
        QList<QCString> ids;
        chunk(ids, f.inReplyTo);
        if (!ids.isEmpty())
            In_Reply_To = ids.first();
    }
    if (!f.references.isEmpty()) {
        QList<QCString> ids;
        chunk(ids, f.references);
        References += ids;
    }
    if (!In_Reply_To.isEmpty() && !References.isEmpty())
        References.removeAll(In_Reply_To);
    Status = normaliseStatus(Status);
    {
        QList<QCString> pieces;
        split(pieces, ';', Content_Type);
        if (!pieces.isEmpty())
            Content_Type = pieces.first();
    }
    digest = lowerAscii(Content_Type.constData(), Content_Type.size()).contains("multipart/digest");
    applyFallbacks(*this, f);
    if (From.getOriginalAddress().isEmpty())
        From = unknownAddress();
    if (To.toQCString().isEmpty())
        To = unknownList();
    if (Subject.isEmpty())
        Subject = "(no subject)";
    if (Date.day_of_week.isNull())
        Date = DateClass(QCString("Mon, 1 Jan 1999 0:0:0 UTF"));
    if (Content_Type.isEmpty())
        Content_Type = "text/plain";
    if (Content_Transfer_Encoding.isEmpty())
        Content_Transfer_Encoding = "8bit";
}

void MessageClass::processPart(const QCString& text, int offset, int length, bool related,
                               int depth, const QCString* knownHeader)
{
    const char* const base = text.constData();
    const qsizetype regionStart = std::clamp<qsizetype>(offset, 0, text.size());
    const qsizetype regionEnd =
        std::clamp<qsizetype>(qsizetype(offset) + length, regionStart, text.size());

    // 1. The part's own header fields.
    QCString header;
    const char* bodyStart;
    if (knownHeader) {
        header = *knownHeader;
        bodyStart = scanHeader(base + regionStart, base + regionEnd, nullptr);
    } else {
        bodyStart = scanHeader(base + regionStart, base + regionEnd, &header);
    }

    QCString type = digest ? literal("message/rfc822") : literal("text/plain");
    QCString encoding = literal("8bit");
    QCString cid = literal("unknown");
    QCString disposition = literal("");
    QCString charset = literal("us-ascii");
    QCString boundary = literal("");
    QCString protocol = literal("");
    QCString name = literal("attachment.dat");

    forEachField(header, [&](const char* n, int len, const char* v, const char* e) {
        if (nameIs(n, len, "content-type"))
            type = fieldValue(v, e, true);
        else if (nameIs(n, len, "content-transfer-encoding"))
            encoding = fieldValue(v, e, true);
        else if (nameIs(n, len, "content-id"))
            cid = fieldValue(v, e, true);
        else if (nameIs(n, len, "content-disposition"))
            disposition = fieldValue(v, e, true);
    });

    // 2. Media type and parameters.
    QList<QCString> tokens;
    split(tokens, ';', type);
    type = tokens.isEmpty() ? literal("text/plain") : tokens.first();
    for (const QCString& token : std::as_const(tokens)) {
        const QCString compare = lowerAscii(token.constData(), std::min<qsizetype>(token.size(), 9));
        if (compare.startsWith("charset=")) {
            charset = token.mid(8);
            stripSpaces(charset);
            stripQuotes(charset);
        } else if (compare == "boundary=") {
            boundary = token.mid(9);
            stripQuotes(boundary);
        } else if (compare == "protocol=") {
            protocol = token.mid(9);
            stripQuotes(protocol);
        } else if (!disposition.isEmpty() && compare.startsWith("name=")) {
            name = token.mid(5);
            stripQuotes(name);
        }
    }

    // 3. Content id.
    split(tokens, ';', cid);
    if (!tokens.isEmpty()) {
        cid = tokens.first();
        stripParanthesis(cid);
    }

    // 5. Delimiter scan. Every search stays inside the region: a delimiter
    // found beyond it ends the scan just as a missing one does, so looking
    // further would only cost time.
    struct Span {
        qsizetype offset, length;
    };
    std::vector<Span> parts;
    if (!boundary.isEmpty() && depth < MaxNestingDepth) {
        const QByteArray delimiter = QByteArray("--") + boundary;
        const qsizetype dlen = delimiter.size();
        const qsizetype closeLen = dlen + 2;
        // A delimiter that ends a part must start at or before this.
        const qsizetype lastEnd = regionEnd - closeLen;
        const qsizetype searchFrom = std::min(regionStart + header.size(), regionEnd);
        const char* found = findBytes(base + searchFrom,
                                      base + std::min(text.size(), regionEnd + dlen - 1), delimiter);
        qsizetype begin = found && found - base < regionEnd ? found - base : -1;
        // Never more spans than parts may still be recorded.
        const size_t budget = size_t(MaxParts) - std::min(partList.size(), size_t(MaxParts));
        while (begin != -1 && parts.size() < budget) {
            const qsizetype endSearchTo = std::min(text.size(), lastEnd + dlen);
            const char* next = begin + dlen <= endSearchTo
                ? findBytes(base + begin + dlen, base + endSearchTo, delimiter) : nullptr;
            if (!next) {
                orvaneDebug("If we got on this branch there is either a mangled mail or a parser failure");
                break;
            }
            const qsizetype end = next - base;
            const char* lf = static_cast<const char*>(memchr(base + begin, '\n', size_t(end - begin)));
            const qsizetype partStart = lf ? lf - base + 1 : end;
            parts.push_back({ partStart, std::max<qsizetype>(0, end - partStart - 1) });
            begin = end;
            if (end + closeLen <= text.size() && memcmp(base + end, delimiter.constData(), size_t(dlen)) == 0
                && base[end + dlen] == '-' && base[end + dlen + 1] == '-')
                begin = -1;
        }
    }

    // 6. A container: its parts in turn.
    if (!parts.empty()) {
        const bool relatedParts = lowerAscii(type.constData(), type.size()).contains("multipart/related");
        for (size_t i = 0; i < parts.size(); ++i)
            processPart(text, int(parts[i].offset), int(parts[i].length), i > 0 && relatedParts,
                        depth + 1);
        return;
    }

    // 7. A leaf.
    type = lowerAscii(type.constData(), type.size());
    stripSpaces(type);
    const QCString lowerDisposition = lowerAscii(disposition.constData(), disposition.size());
    const bool unnamed = name.isEmpty() || name == "attachment.dat";
    QCString partType = literal("unknown");
    if (digest) {
        if (type == "message/rfc822")
            partType = literal("digest");
    } else if (related) {
        partType = literal("related");
    } else if (contains(lowerDisposition, "attachment") || contains(type, "octet-stream")
               || (contains(lowerDisposition, "inline") && !contains(type, "text/"))) {
        partType = literal("attachment");
    } else if (contains(type, "text/")) {
        if (contains(type, "text/plain")) {
            partType = literal("text");
            type = literal("text/plain");
        } else if (contains(type, "text/html")) {
            partType = literal("text");
            type = literal("text/html");
        } else if (contains(type, "calendar")) {
            partType = literal("attachment");
            if (unnamed)
                name = literal("calendar.ics");
        } else if (contains(type, "card")) {
            partType = literal("attachment");
            if (unnamed)
                name = literal("card.vcf");
        } else {
            partType = literal("text");
        }
    } else {
        partType = literal("attachment");
        if ((contains(type, "application/pgp-signature")
             || (contains(type, "multipart/signed") && contains(protocol, "application/pgp-signature")))
            && unnamed)
            name = literal("signature.pgp");
    }
    if (partList.size() >= size_t(MaxParts))
        return;
    if (partType == "unknown") {
        orvaneDebug("MessageClass error: unknown part.");
        return;
    }

    // The record is filled field by field rather than through a one-line
    // description, so values holding white space (or empty ones) cannot
    // shift the words of that line.
    auto part = std::make_unique<MimePart>();
    part->type = partType;
    part->mimetype = type;
    part->encoding = encoding;
    part->offset = qint32(bodyStart - base);
    part->length = qint32(regionEnd - (bodyStart - base));
    part->charset = charset;
    part->cid = cid;
    part->name = name.upToNul();
    partList.push_back(std::move(part));
}

// ------------------------------------------------------------ string helpers

void MessageClass::stripSpaces(QCString& s)
{
    if (s.isNull())
        return;
    QCString r = s.simplified();
    s = r.isNull() ? QCString("") : r;
}

void MessageClass::stripComments(QCString& s)
{
    if (s.isEmpty() || (!s.contains('(')))
        return;
    QCString out;
    out.reserve(s.size());
    int depth = 0;
    bool quoted = false;
    for (const char c : std::as_const(s)) {
        if (c == '"' && depth == 0)
            quoted = !quoted;
        if (c == '(' && !quoted)
            ++depth;
        if (depth == 0 || quoted)
            out.append(c);
        if (c == ')' && depth > 0 && !quoted)
            --depth;
    }
    s = out.isNull() ? QCString("") : out;
}

void MessageClass::stripQuotes(QCString& s)
{
    if (s.isEmpty())
        return;
    if (s.startsWith('"'))
        s.remove(0, 1);
    if (!s.isEmpty() && s.endsWith('"'))
        s.chop(1);
}

void MessageClass::stripParanthesis(QCString& s)
{
    if (s.isEmpty())
        return;
    if (s.startsWith('<'))
        s.remove(0, 1);
    if (!s.isEmpty() && s.endsWith('>'))
        s.chop(1);
}

void MessageClass::split(QList<QCString>& out, char separator, const QCString& text)
{
    out.clear();
    const char* p = text.constData();
    const char* end = p + text.size();
    const char* start = p;
    for (; p < end; ++p) {
        if (*p == separator) {
            QCString piece(start, p - start);
            if (piece.isNull())
                piece = QCString("");
            stripSpaces(piece);
            out.append(piece);
            start = p + 1;
        }
    }
    if (end > start) {
        QCString piece(start, end - start);
        stripSpaces(piece);
        out.append(piece);
    }
}

void MessageClass::chunk(QList<QCString>& out, const QCString& text)
{
    out.clear();
    QCString piece("");
    for (const char c : std::as_const(text)) {
        if (c == '>' && !piece.isEmpty()) {
            out.append(piece);
            piece = QCString("");
        } else if (c == '<') {
            piece = QCString("");
        } else {
            piece.append(c);
        }
    }
}
