#include "messageclass.h"

#include "headerclass.h"
#include "headerfields_p.h"
#include "mimecodec.h"
#include "orvanelog_p.h"

#include <QTextCodec>

#include <algorithm>
#include <map>
#include <cstring>
#include <limits>

using namespace OrvaneHeader;

namespace {

// Offsets are 32-bit: a text is parsed up to this many bytes.
constexpr qsizetype MaxTextLength = std::numeric_limits<qint32>::max() - 1;

// Reads the header block of the region [begin, end): the first line
// unconditionally, then lines up to the first empty one, continuation lines
// (starting with white space) joined to the line before (by one space when
// they start with other white space than a blank or tab), others by LF. Returns
// where the body starts: after the empty line, or the region's end when
// there is none.
const char* scanHeader(const char* begin, const char* end, QCString* header)
{
    const char* p = begin;
    const char* e = lineEnd(p, end);
    if (header)
        *header = QCString(p, e - p);
    const bool firstEmpty = e == p;
    p = nextLine(e, end);
    if (firstEmpty)
        return p;
    while (p < end) {
        e = lineEnd(p, end);
        if (e == p)
            return nextLine(e, end);
        if (header) {
            // A continuation line (RFC 5322 folding) joins its field with
            // its own leading blank, so that white space inside a quoted
            // value (a folded boundary) stays as written.
            if (*p != ' ' && *p != '\t')
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

// First delimiter line "--boundary" in [from, to) (the search may look at
// the bytes up to textEnd after a match): it must start a line and be
// followed by optional blanks and the line end, or be the close delimiter
// ("--" after it, then optional blanks and the line end), as RFC 2046
// 5.1.1 says. An inner boundary that merely starts with an outer one is
// thus not taken for it.
const char* findDelimiter(const char* text, const char* from, const char* to, const char* textEnd,
                          const QByteArray& delimiter, bool* close)
{
    const qsizetype dlen = delimiter.size();
    auto blanks = [textEnd](const char* p) {
        while (p < textEnd && (*p == ' ' || *p == '\t'))
            ++p;
        return p;
    };
    while (const char* d = findBytes(from, to, delimiter)) {
        const char* p = blanks(d + dlen);
        // Blanks before the closing "--" are tolerated, as other readers do.
        *close = p + 2 <= textEnd && p[0] == '-' && p[1] == '-';
        if (*close)
            p = blanks(p + 2);
        const bool lineStart = d == text || d[-1] == '\n' || d[-1] == '\r';
        if (lineStart && (p == textEnd || *p == '\r' || *p == '\n'))
            return d;
        from = d + 1;
    }
    return nullptr;
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

// Calls fn(name, nameLength, value) for every "name=value" parameter of a
// header value (the pieces after ';' outside quotes). A quoted value loses
// its quotes, and a backslash before '"' or '\' its backslash (other
// backslashes stay, as in Windows paths); a token is taken as it stands.
template<typename Fn>
void forEachParameter(const QCString& value, Fn fn)
{
    const char* p = value.constData();
    const char* const end = p + value.size();
    while (p < end) {
        const char* semi = p;
        bool quoted = false;
        for (; semi < end && (quoted || *semi != ';'); ++semi) {
            if (*semi == '\\' && quoted && semi + 1 < end)
                ++semi;
            else if (*semi == '"')
                quoted = !quoted;
        }
        const char* b = p;
        p = semi + 1;
        while (b < semi && isSimplifySpace(*b))
            ++b;
        const char* eq = static_cast<const char*>(memchr(b, '=', size_t(semi - b)));
        if (!eq)
            continue;
        const char* ne = eq;
        while (ne > b && isSimplifySpace(ne[-1]))
            --ne;
        const char* v = eq + 1;
        while (v < semi && isSimplifySpace(*v))
            ++v;
        QCString text("");
        if (v < semi && *v == '"') {
            for (++v; v < semi && *v != '"'; ++v) {
                if (*v == '\\' && v + 1 < semi && (v[1] == '"' || v[1] == '\\'))
                    ++v;
                text.append(*v);
            }
        } else {
            const char* ve = semi;
            while (ve > v && isSimplifySpace(ve[-1]))
                --ve;
            text = QCString(v, ve - v);
        }
        fn(b, ne - b, text);
    }
}

// The file name given by the parameters of a Content-Disposition or
// Content-Type value under the parameter name key ("filename", "name"),
// decoded: RFC 2231 extended values (key*=charset'lang'%XX) and
// continuations (key*0*=, key*1=, ...), or a plain value whose RFC 2047
// words are decoded as other mail programs write them. Raw 8-bit bytes are
// read as UTF-8 when they are well-formed UTF-8, else as Latin-1. Null when
// the value has no such parameter.
QString parameterName(const QCString& value, const char* key)
{
    const qsizetype keyLen = qsizetype(strlen(key));
    QCString plain;
    std::map<int, std::pair<QCString, bool>> pieces;  // index -> value, extended
    bool single = false;  // key* (no continuation)
    forEachParameter(value, [&](const char* b, qsizetype n, const QCString& text) {
        if (n < keyLen || !nameIs(b, int(keyLen), key))
            return;
        const char* rest = b + keyLen;  // "", "*", "*N" or "*N*"
        const qsizetype restLen = n - keyLen;
        if (restLen == 0) {
            plain = text;
        } else if (restLen == 1 && *rest == '*') {
            single = true;
            pieces[0] = {text, true};
        } else if (*rest == '*' && !single) {
            const bool ext = rest[restLen - 1] == '*';
            bool ok = false;
            const int index = QByteArray(rest + 1, restLen - 1 - (ext ? 1 : 0)).toInt(&ok);
            if (ok && index >= 0 && index < 1000)
                pieces[index] = {text, ext};
        }
    });
    if (pieces.empty())
        return plain.isEmpty() ? QString() : MIMECodec::translate(plain);
    // Continuations in order of their numbers; the charset is named by the
    // first extended piece ("charset'language'text").
    QByteArray bytes, charset;
    bool first = true;
    for (const auto& [index, piece] : pieces) {
        Q_UNUSED(index);
        QByteArray t = piece.first;
        if (piece.second) {
            if (first) {
                const qsizetype q1 = t.indexOf('\'');
                const qsizetype q2 = q1 >= 0 ? t.indexOf('\'', q1 + 1) : -1;
                if (q2 >= 0) {
                    charset = t.left(q1);
                    t = t.mid(q2 + 1);
                }
            }
            t = QByteArray::fromPercentEncoding(t);
        }
        first = false;
        bytes += t;
    }
    QTextCodec* codec = charset.isEmpty() ? nullptr : QTextCodec::codecForName(charset);
    if (codec)
        return codec->toUnicode(bytes);
    return MIMECodec::translate(QCString(bytes.replace('\0', ' ')));
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
                               int depth, const QCString* knownHeader, bool inDigest)
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

    QCString type = digest || inDigest ? literal("message/rfc822") : literal("text/plain");
    QCString encoding = literal("8bit");
    QCString cid = literal("unknown");
    QCString disposition = literal("");
    QCString charset = literal("us-ascii");
    QCString boundary = literal("");
    QCString protocol = literal("");
    QCString name = literal("attachment.dat");

    QCString rawType;
    forEachField(header, [&](const char* n, int len, const char* v, const char* e) {
        if (nameIs(n, len, "content-type")) {
            type = fieldValue(v, e, true);
            rawType = QCString(v, e - v);
        }
        else if (nameIs(n, len, "content-transfer-encoding"))
            encoding = fieldValue(v, e, true);
        else if (nameIs(n, len, "content-id"))
            cid = fieldValue(v, e, true);
        else if (nameIs(n, len, "content-disposition"))
            disposition = fieldValue(v, e, true);
    });

    // 2. Media type and parameters.
    // The file name: Content-Disposition's filename, else Content-Type's
    // name, with or without a Content-Disposition line.
    QString fileName = parameterName(disposition, "filename");
    if (fileName.isEmpty())
        fileName = parameterName(type, "name");
    if (!fileName.isEmpty())
        name = QCString(fileName.toUtf8());
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
        }
    }

    // The boundary as written: white space inside quotes is part of it
    // (only trailing blanks are not, RFC 2046 5.1.1).
    MessageClass::stripComments(rawType);
    forEachParameter(rawType, [&](const char* b, qsizetype n, const QCString& text) {
        const bool extended = n == 9 && b[8] == '*';  // boundary*=charset'lang'value
        if ((n == 8 || extended) && nameIs(b, 8, "boundary")) {
            boundary = extended ? QCString(QByteArray::fromPercentEncoding(text.mid(text.lastIndexOf('\'') + 1)))
                                : text;
            while (!boundary.isEmpty() && isSimplifySpace(boundary.back()))
                boundary.chop(1);
        }
    });

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
        const char* const textEnd = base + text.size();
        bool close = false;
        const char* found = findDelimiter(base, base + searchFrom,
                                          base + std::min(text.size(), regionEnd + dlen - 1), textEnd, delimiter,
                                          &close);
        // A close delimiter first: a multipart without parts.
        qsizetype begin = found && found - base < regionEnd && !close ? found - base : -1;
        // Never more spans than parts may still be recorded.
        const size_t budget = size_t(MaxParts) - std::min(partList.size(), size_t(MaxParts));
        while (begin != -1 && parts.size() < budget) {
            const qsizetype endSearchTo = std::min(text.size(), lastEnd + dlen);
            const char* next = begin + dlen <= endSearchTo
                ? findDelimiter(base, base + begin + dlen, base + endSearchTo, textEnd, delimiter, &close)
                : nullptr;
            // Without a further delimiter (no close delimiter), the last
            // part runs to the end of the region rather than being lost.
            const qsizetype end = next ? next - base : regionEnd + 1;
            const char* lf = static_cast<const char*>(memchr(base + begin, '\n', size_t(std::min(end, regionEnd) - begin)));
            const qsizetype partStart = lf ? lf - base + 1 : end;
            // Two delimiter lines in a row enclose no part, unless it is the
            // only one (an empty part before the close delimiter).
            if (partStart < end || (next && close && parts.empty()))
                parts.push_back({ partStart, std::max<qsizetype>(0, end - partStart - 1) });
            if (!next) {
                orvaneDebug("If we got on this branch there is either a mangled mail or a parser failure");
                break;
            }
            begin = end;
            if (close)
                begin = -1;
        }
    }

    // 6. A container: its parts in turn.
    if (!parts.empty()) {
        const bool relatedParts = lowerAscii(type.constData(), type.size()).contains("multipart/related");
        const bool digestParts = lowerAscii(type.constData(), type.size()).contains("multipart/digest");
        for (size_t i = 0; i < parts.size(); ++i)
            processPart(text, int(parts[i].offset), int(parts[i].length), i > 0 && relatedParts,
                        depth + 1, nullptr, digestParts);
        return;
    }

    // 7. A leaf.
    type = lowerAscii(type.constData(), type.size());
    stripSpaces(type);
    const QCString lowerDisposition = lowerAscii(disposition.constData(), disposition.size());
    const bool unnamed = name.isEmpty() || name == "attachment.dat";
    QCString partType = literal("unknown");
    // A media type without a subtype is not one: such a part is plain text
    // (RFC 2045, 5.2).
    if (!type.contains('/'))
        type = literal("text/plain");
    if (digest && type == "message/rfc822") {
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
