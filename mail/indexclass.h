#pragma once

#include "orvanemail_export.h"

#include <QDataStream>
#include <QString>

#include <memory>
#include <vector>

class MailFolder;
class MimePart;

/**
 * \brief The index entry of one stored message in one mail folder.
 *
 * Says where the message's descriptor record lies in the folder's descriptor
 * file, where its raw text (the "uniblock") lies in the messages file, which
 * MIME leaf parts it has and where their bodies lie (absolute offsets in the
 * messages file), its thread parent and whether it is unread. The folder
 * owns its entries; the entry owns its parts.
 */
class ORVANEMAIL_EXPORT IndexClass
{
public:
    /// An entry of \a parent with the given ID (folders pass a null ID and
    /// assign one later). Offsets, lengths and flags are 0, the part list is
    /// empty, the parent and message IDs are empty (not null) strings.
    IndexClass(MailFolder* parent, const QString& id);
    /// Copies IDs, offsets, lengths, flags and a deep copy of the parts; the
    /// copy has no parent folder and is unlocked.
    IndexClass(const IndexClass& other);
    IndexClass& operator=(const IndexClass&) = delete;
    virtual ~IndexClass();

    QString getID() const { return _id; }
    void setID(const QString& id) { _id = id; }
    QString getParentID() const { return _parentID; }
    void setParentID(const QString& id);
    QString getMessageID() const { return _messageID; }
    void setMessageID(const QString& id);
    MailFolder* getParentFolder() const { return _parent; }
    void setParentFolder(MailFolder* f) { _parent = f; }

    long getDescriptorOffset() const { return _descriptorOffset; }
    void setDescriptorOffset(long o) { _descriptorOffset = o; }
    long getDescriptorLength() const { return _descriptorLength; }
    void setDescriptorLength(long l) { _descriptorLength = l; }
    long getUniblockOffset() const { return _uniblockOffset; }
    /// Moves the message block to \a offset; with \a adjust every part that
    /// has an offset or a length moves with it (a part with neither is left
    /// alone and reported as unfinished).
    void setUniblockOffset(long offset, bool adjust);
    long getUniblockLength() const { return _uniblockLength; }
    void setUniblockLength(long l) { _uniblockLength = l; }

    bool isMultipartOnly() const { return _multipartOnly != 0; }
    void setMultipartOnly(bool b) { _multipartOnly = b ? 1 : 0; }
    bool getUnreadMark() const { return _unreadMark != 0; }
    void setUnreadMark(bool b) { _unreadMark = b ? 1 : 0; }

    bool isLocked() const { return _lock; }
    void lock() { _lock = true; }
    void unlock() { _lock = false; }

    int getPartCount() const { return int(_partList.size()); }
    /// The part at \a i, or null when out of range.
    MimePart* getPartAt(int i) const;
    /// True when the entry has at least one part.
    bool isFullMessage() const { return !_partList.empty(); }

    /// The folder's name, "/", and the entry's ID.
    QString url() const;
    /// The folder's messages file; null without a folder.
    QString getDataFilename() const;
    /// The folder's descriptor file; null without a folder.
    QString getDescriptorFileName() const;
    /// Sum of the part lengths for a message composed part by part, else the
    /// length of the stored text.
    int getSize() const;

    /// Appends \a part (taking ownership); with \a adjust its offset is made
    /// absolute by adding the block offset. Returns its position.
    int addPart(std::unique_ptr<MimePart> part, bool adjust);
    /// The same for a part handed over by pointer: the entry takes
    /// ownership of \a part (which must come from new) at once.
    int addPart(MimePart* part, bool adjust);
    /// Removes the part at \a i; true when there was one.
    bool removePart(int i);

    /// Writes the index record.
    friend ORVANEMAIL_EXPORT QDataStream& operator<<(QDataStream& s, const IndexClass& e);
    /// Reads an index record. A record cut short leaves the stream's status
    /// set; the parts read before the break are kept.
    friend ORVANEMAIL_EXPORT QDataStream& operator>>(QDataStream& s, IndexClass& e);

private:
    friend class MailFolder;
    bool inCollection() const;
    MailFolder* _parent;
    QString _id;
    QString _parentID;
    QString _messageID;
    long _descriptorOffset = 0;
    long _descriptorLength = 0;
    long _uniblockOffset = 0;
    long _uniblockLength = 0;
    std::vector<std::unique_ptr<MimePart>> _partList;
    int _multipartOnly = 0;
    int _unreadMark = 0;
    bool _lock = false;
};
