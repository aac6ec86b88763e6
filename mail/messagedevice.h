#pragma once

#include "messagedescriptor.h"
#include "orvanemail_export.h"
#include "qcstring.h"

#include <QByteArray>
#include <QList>

class IndexClass;
class MimePart;

/**
 * \brief The access object for one stored message of a folder.
 *
 * Bound to the message's index entry (not owned; it must outlive the
 * device) and holding a working copy of its descriptor. Reads and appends
 * descriptor records, lists the message's parts and reads their decoded
 * bytes, adds parts, reads the stored text back and builds the host's entry
 * cache block.
 *
 * Reads never go beyond the folder's files: a part or text whose offsets
 * lie outside the messages file yields no data.
 */
class ORVANEMAIL_EXPORT MessageDevice
{
public:
    explicit MessageDevice(IndexClass* index);
    virtual ~MessageDevice();
    MessageDevice(const MessageDevice&) = delete;
    MessageDevice& operator=(const MessageDevice&) = delete;

    IndexClass* index() const { return _index; }
    MessageDescriptor& getDescriptor() { return _descriptor; }

    /// Reads the entry's descriptor record; \a fast reads only the core
    /// fields. Nothing changes when there is no record or it cannot be read.
    void loadDescriptor(bool fast);
    /// Appends the descriptor record and re-points the entry (and records
    /// it in the index file). Nothing changes when the file cannot be written.
    void saveDescriptor();

    int getPartCount() const;
    MimePart* operator[](int i) const;
    /// Appends an empty part; the message becomes one composed part by part.
    int createPart();
    /// The decoded bytes of one part (for identity encodings: the stored
    /// bytes and one zero byte).
    bool getPartData(int partIndex, QByteArray& data);

    bool hasAttachments() const;
    bool textPart(QList<int>* list) const;
    bool htmlPart(QList<int>* list) const;
    bool hasText() const { return textPart(nullptr); }
    bool hasHtml() const { return htmlPart(nullptr); }
    /// Index of the first "text" part that is text/plain or text/html; -1.
    int messageText() const;

    /// The message's summary record for the host's message list.
    QByteArray getEntryCacheBlock();
    /// The whole stored text of the message; a null string when it cannot
    /// be read.
    QCString rfc822Message() const;
    QCString rfc822Header() const { return rfc822Message(); }

    /// Replaces the content of part \a partIndex by \a data (raw bytes,
    /// encoded here with the part's encoding) and writes a new copy of the
    /// message. False and no change for an index out of range or empty data.
    bool setPartData(int partIndex, const QByteArray& data);
    /// Removes a part and writes a new copy of the message without it.
    bool deletePart(int partIndex);
    /// Composes the message's RFC 822 / MIME text from its descriptor and
    /// parts, part \a iPart taking \a data as new content (none when
    /// \a iPart matches no part or \a data is empty), and appends it to the
    /// messages file as the message's new copy. Save descriptor edits first:
    /// the descriptor is reloaded. False (and nothing changed) when the
    /// messages file cannot be read where a stored body must be copied, or
    /// cannot be written.
    bool saveMessage(int iPart, const QByteArray& data);

    /// The plain-text view: the text/plain parts (with \a bAllTextParts
    /// also text/plain attachments, each after a separator line).
    QString text(bool bAllTextParts);
    /// The HTML view: the text/html parts, or when there are none the
    /// text/plain parts, escaped so that they display as the text they are.
    QString html(bool bAllHTMLParts);

private:
    friend class MessageFactory;
    IndexClass* _index;
    MessageDescriptor _descriptor;
    bool _cached = false;
};
