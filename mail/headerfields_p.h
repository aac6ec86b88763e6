#pragma once

// Shared by MessageClass and HeaderClass: the header field table and the
// small text helpers both parsers use. Private to the library.

#include "addressclass.h"
#include "addresslistclass.h"
#include "dateclass.h"
#include "qcstring.h"

#include <QList>

#include <cstring>

namespace OrvaneHeader {

/// The last raw value of every field the parsers know (null when the field
/// was absent), and every Received value. A present field with an empty
/// value gives an empty, non-null string.
struct RawFields {
    QCString bcc, cc, contentType, contentTransferEncoding, date, from, inReplyTo, messageId,
        organization, priority, replyTo, references, resentFrom, subject, status, sender, to,
        xPriority;
    QList<QCString> received;
};

/// Reads every line of an unfolded header block (lines separated by LF,
/// CR LF or a lone CR) into \a out. The value of a field is the text after
/// its colon (one blank after the colon skipped), white space simplified and,
/// except for the unstructured Subject and the address fields (whose parser
/// reads comments itself), comments removed.
void collectFields(const QCString& header, RawFields& out);

/// Calls \a fn(name, nameLength, value) for each "name: value" line of an
/// unfolded header block; \a fn gets the name in its original case and the
/// raw value (not yet simplified).
template<typename Fn>
void forEachField(const QCString& header, Fn fn);

/// "Read" for exactly "O" or "R", else "New".
QCString normaliseStatus(const QCString& status);
/// One of "Highest", "High", "Normal", "Low", "Lowest".
QCString normalisePriority(const QCString& priority);

/// Whether a byte is white space in the sense of a Latin-1 text stream.
inline bool isStreamSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0xA0;
}

/// End of the line starting at \a p (first CR or LF, or \a end).
inline const char* lineEnd(const char* p, const char* end)
{
    while (p < end && *p != '\n' && *p != '\r')
        ++p;
    return p;
}

/// Start of the next line after a line ending at \a p.
inline const char* nextLine(const char* p, const char* end)
{
    if (p < end && *p == '\r')
        ++p;
    else if (p < end && *p == '\n')
        return p + 1;
    if (p < end && *p == '\n' && p[-1] == '\r')
        ++p;
    return p;
}

template<typename Fn>
void forEachField(const QCString& header, Fn fn)
{
    const char* p = header.constData();
    const char* end = p + header.size();
    while (p < end) {
        const char* e = lineEnd(p, end);
        const char* colon = static_cast<const char*>(memchr(p, ':', size_t(e - p)));
        if (colon) {
            const char* v = colon + 1;
            // One blank after the colon is the usual separator; a value
            // written right after the colon keeps its first character.
            if (v < e && (*v == ' ' || *v == '\t'))
                ++v;
            fn(p, int(colon - p), v, e);
        }
        if (e == end)
            break;
        p = nextLine(e, end);
    }
}

/// Takes every field present in \a f into \a t (a MessageClass or a
/// HeaderClass: both hold the same sixteen fields), with the Message-ID
/// trimmed and stripped of its angle brackets. \a stripBrackets is
/// MessageClass::stripParanthesis.
template<class Target, class StripBrackets>
void assignFields(Target& t, RawFields& f, StripBrackets stripBrackets)
{
    if (!f.bcc.isNull())
        t.Bcc = AddressListClass(f.bcc);
    if (!f.cc.isNull())
        t.Cc = AddressListClass(f.cc);
    if (!f.contentType.isNull())
        t.Content_Type = f.contentType;
    if (!f.contentTransferEncoding.isNull())
        t.Content_Transfer_Encoding = f.contentTransferEncoding;
    if (!f.date.isNull())
        t.Date = DateClass(f.date);
    if (!f.from.isNull())
        t.From = AddressClass(f.from);
    if (!f.messageId.isNull())
        t.Message_ID = f.messageId;
    if (!f.organization.isNull())
        t.Organization = f.organization;
    if (!f.priority.isNull())
        t.Priority = f.priority;
    t.Received = std::move(f.received);
    if (!f.replyTo.isNull())
        t.Reply_To = AddressClass(f.replyTo);
    if (!f.subject.isNull())
        t.Subject = f.subject;
    if (!f.status.isNull())
        t.Status = f.status;
    if (!f.to.isNull())
        t.To = AddressListClass(f.to);

    // A comment after the id leaves a blank behind; without trimming it the
    // closing '>' would stay and the id would never match a reference.
    if (!t.Message_ID.isEmpty())
        t.Message_ID = t.Message_ID.trimmed();
    stripBrackets(t.Message_ID);
}

/// The sender fallbacks (Sender, then Resent-From, for a missing From) and
/// the X-Priority fallback, then the Priority value normalised.
template<class Target>
void applyFallbacks(Target& t, const RawFields& f)
{
    if (t.From.email.isNull() && t.From.getTranslated_name().isNull() && !f.sender.isEmpty())
        t.From = AddressClass(f.sender);
    if (t.From.email.isNull() && t.From.getTranslated_name().isNull() && !f.resentFrom.isEmpty())
        t.From = AddressClass(f.resentFrom);
    if (t.Priority.isEmpty() && !f.xPriority.isEmpty())
        t.Priority = f.xPriority;
    t.Priority = normalisePriority(t.Priority);
}

/// The stand-in for a missing sender or recipient: "unknown" as a name (a
/// single bare word would be read as a local address).
inline AddressClass unknownAddress()
{
    AddressClass unknown;
    unknown.name = "unknown";
    unknown.translateName();
    return unknown;
}

/// A list holding only unknownAddress().
inline AddressListClass unknownList()
{
    AddressListClass l;
    l.addAddress(unknownAddress());
    return l;
}

} // namespace OrvaneHeader
