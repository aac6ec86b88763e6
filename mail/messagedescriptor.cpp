#include "messagedescriptor.h"

#include "messageclass.h"
#include "mimecodec.h"
#include "mimepart.h"
#include "streamio_p.h"

#include <qcstring.h>

MessageDescriptor::~MessageDescriptor() = default;

void MessageDescriptor::load(const MessageClass& m)
{
    from = m.From.fullAddress();
    to = m.To.returnNameStringList();
    cc = m.Cc.returnNameStringList();
    bcc = m.Bcc.returnNameStringList();
    replyTo = m.Reply_To.fullAddress();
    subject = MIMECodec::translate(m.Subject);
    messageID = QString::fromLatin1(m.Message_ID);
    organization = QString::fromLatin1(m.Organization);
    status = QString::fromLatin1(m.Status);
    priority = QString::fromLatin1(m.Priority);
    inReplyTo = QString::fromLatin1(m.In_Reply_To);
    references.clear();
    for (const QCString& r : m.References)
        references.append(QString::fromLatin1(r));
    contentType = QString::fromLatin1(m.Content_Type);
    contentEncoding = QString::fromLatin1(m.Content_Transfer_Encoding);
    sentDate = QString::fromLatin1(QCString(m.Date));
    route.clear();
    for (const QCString& r : m.Received)
        route.append(QString::fromLatin1(r));
    attachments = 0;
    size = 0;
    for (const auto& part : m.partList) {
        if (part->type == "attachment")
            attachments = 1;
        size += static_cast<unsigned int>(part->length);
    }
}

QDataStream& operator<<(QDataStream& s, const MessageDescriptor& d)
{
    using Orvane::writeStringList;
    s << d.from;
    writeStringList(s, d.to);
    s << d.subject << d.status << d.priority << d.contentType << d.sentDate << d.receivedDate
      << d.scheduling;
    writeStringList(s, d.flags);
    s << quint8(d.red) << quint8(d.green) << quint8(d.blue) << quint8(d.flag);
    s << d.inReplyTo;
    writeStringList(s, d.references);
    s << d.indexID << d.parentIndexID;
    writeStringList(s, d.relatedIndexIDList);
    if (!d._coreLoad) {
        s << d.replyTo;
        writeStringList(s, d.cc);
        writeStringList(s, d.bcc);
        s << d.messageID << d.organization << d.uid;
        writeStringList(s, d.extendedStatus);
        s << d.contentEncoding << d.account;
        writeStringList(s, d.route);
        s << quint8(d.requestReceipt) << d.extraInfo << d.category << quint32(d.persistence);
        Orvane::writeBytesClassic(s, d.extraData);
    }
    s << quint8(d.attachments) << quint32(d.size);
    return s;
}

QDataStream& operator>>(QDataStream& s, MessageDescriptor& d)
{
    using Orvane::bounded;
    using Orvane::readStringList;
    quint8 r = 0, g = 0, b = 0, f = 0;
    s >> bounded(d.from);
    readStringList(s, d.to);
    s >> bounded(d.subject) >> bounded(d.status) >> bounded(d.priority) >> bounded(d.contentType)
      >> bounded(d.sentDate) >> bounded(d.receivedDate) >> bounded(d.scheduling);
    readStringList(s, d.flags);
    s >> r >> g >> b >> f;
    d.red = r;
    d.green = g;
    d.blue = b;
    d.flag = f;
    s >> bounded(d.inReplyTo);
    readStringList(s, d.references);
    s >> bounded(d.indexID) >> bounded(d.parentIndexID);
    readStringList(s, d.relatedIndexIDList);
    if (!d._coreLoad) {
        quint8 receipt = 0;
        quint32 persistence = 0;
        s >> bounded(d.replyTo);
        readStringList(s, d.cc);
        readStringList(s, d.bcc);
        s >> bounded(d.messageID) >> bounded(d.organization) >> bounded(d.uid);
        readStringList(s, d.extendedStatus);
        s >> bounded(d.contentEncoding) >> bounded(d.account);
        readStringList(s, d.route);
        s >> receipt >> bounded(d.extraInfo) >> bounded(d.category) >> persistence;
        d.requestReceipt = receipt;
        d.persistence = persistence;
        d.extraData = Orvane::readBytesClassic(s);
    }
    quint8 att = 0;
    quint32 size = 0;
    s >> att >> size;
    d.attachments = att;
    d.size = size;
    return s;
}
