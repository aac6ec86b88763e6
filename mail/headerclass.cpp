#include "headerclass.h"

#include "headerfields_p.h"
#include "messageclass.h"

#include <cstring>

using namespace OrvaneHeader;

HeaderClass::HeaderClass(const char* text) : Date(QCString(""))
{
    if (text)
        parse(text, qsizetype(strlen(text)));
}

HeaderClass::HeaderClass(const QCString& text) : Date(QCString(""))
{
    if (!text.isNull())
        parse(text.constData(), text.size());
}

HeaderClass::HeaderClass(MessageClass& m) : Date(QCString(""))
{
    importMessage(m);
}

HeaderClass::~HeaderClass() = default;

void HeaderClass::importMessage(MessageClass& m)
{
    // The record built from a message is that message's header.
    From = m.From;
    Reply_To = m.Reply_To;
    To = m.To;
    Cc = m.Cc;
    Bcc = m.Bcc;
    Subject = m.Subject;
    Message_ID = m.Message_ID;
    In_Reply_To = m.In_Reply_To;
    Organization = m.Organization;
    Status = m.Status;
    Priority = m.Priority;
    Content_Type = m.Content_Type;
    Content_Transfer_Encoding = m.Content_Transfer_Encoding;
    Received = m.Received;
    References = m.References;
    Date = m.Date;
}

void HeaderClass::parse(const char* text, qsizetype size)
{
    // Unfold: every line white-space simplified, continuation lines joined
    // by one space, others introduced by LF; the first empty line ends the
    // header.
    QCString joined("");
    const char* p = text;
    const char* end = text + size;
    while (p < end) {
        const char* e = lineEnd(p, end);
        if (e == p)
            break;
        joined.append(isStreamSpace(static_cast<unsigned char>(*p)) ? ' ' : '\n');
        QCString line(p, e - p);
        MessageClass::stripSpaces(line);
        joined.append(line);
        p = nextLine(e, end);
    }

    RawFields f;
    collectFields(joined, f);
    assignFields(*this, f, &MessageClass::stripParanthesis);
    QList<QCString> replyIds;
    if (!f.inReplyTo.isEmpty()) {
        MessageClass::chunk(replyIds, f.inReplyTo);
        if (!replyIds.isEmpty())
            In_Reply_To = replyIds.first();
    }
    if (!f.references.isEmpty()) {
        MessageClass::chunk(References, f.references);
        References += replyIds.mid(1);
    }
    if (!In_Reply_To.isEmpty() && !References.isEmpty())
        References.removeAll(In_Reply_To);
    Status = normaliseStatus(Status);
    {
        QList<QCString> pieces;
        MessageClass::split(pieces, ';', Content_Type);
        Content_Type = pieces.isEmpty() ? QCString() : pieces.first();
    }
    applyFallbacks(*this, f);
    if (From.email.isNull() && From.getTranslated_name().isNull())
        From = unknownAddress();
    if (To.toQCString().isNull())
        To = unknownList();
    if (Subject.isNull())
        Subject = "Not specified";
    if (Date.day_of_week.isNull())
        Date = DateClass(QCString("Mon, 1 Jan 1999 0:0:0 UTF"));
    if (Content_Type.isNull())
        Content_Type = "text/plain";
    if (Content_Transfer_Encoding.isNull())
        Content_Transfer_Encoding = "8bit";
}
