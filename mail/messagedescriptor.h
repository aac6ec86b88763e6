#pragma once

#include "orvanemail_export.h"

#include <QByteArray>
#include <QDataStream>
#include <QString>
#include <QStringList>

class MessageClass;

/**
 * \brief The persisted summary of one stored message.
 *
 * Header values in display form, state, thread links and size. Filled from a
 * parsed message by load(), completed by the folder, written by the message
 * device as one record appended to the folder's descriptor file.
 *
 * The record has a core block (always present) and a full-only block, which
 * is written and read only while the core-load flag is clear.
 */
class ORVANEMAIL_EXPORT MessageDescriptor
{
public:
    MessageDescriptor() = default;
    MessageDescriptor(const MessageDescriptor&) = default;
    MessageDescriptor& operator=(const MessageDescriptor&) = default;
    virtual ~MessageDescriptor();

    /// Fills the header-derived fields from a parsed message; every other
    /// field keeps its value.
    void load(const MessageClass& m);
    /// Selects the short (core) record form for the next read or write.
    void setCoreLoad(bool b) { _coreLoad = b; }

    QString from;
    QString replyTo;
    QStringList to;
    QStringList cc;
    QStringList bcc;
    QString subject;
    QString messageID;
    QString organization;
    QString status;
    QString priority;
    QString uid;
    QStringList extendedStatus;
    QString inReplyTo;
    QStringList references;
    QString contentType;
    QString contentEncoding;
    QString sentDate;
    QString receivedDate;
    QString scheduling;
    QString account;
    QStringList route;
    unsigned char requestReceipt = 0;
    QString extraInfo;
    QString category;
    QStringList flags;
    unsigned char red = 0;
    unsigned char green = 0;
    unsigned char blue = 0;
    unsigned char flag = 0;
    unsigned int persistence = 0;
    QString indexID;
    QString parentIndexID;
    QStringList relatedIndexIDList;
    unsigned char attachments = 0;
    unsigned int size = 0;
    QByteArray extraData;

    /// Writes one record (full, or core when the core-load flag is set).
    friend ORVANEMAIL_EXPORT QDataStream& operator<<(QDataStream& s, const MessageDescriptor& d);
    /// Reads one record. Lists and byte arrays are read without trusting
    /// their counts; a short read leaves the stream's status set.
    friend ORVANEMAIL_EXPORT QDataStream& operator>>(QDataStream& s, MessageDescriptor& d);

private:
    bool _coreLoad = false;
};
