#pragma once

#include "orvanemail_export.h"

#include <QDataStream>
#include <QString>

#include <memory>
#include <vector>

class MailFolder;
class MimePart;
namespace Orvane {
class IndexImage;
struct RawRecord;
}

/**
 * \brief The index entry of one stored message in one mail folder.
 *
 * Says where the message's descriptor record lies in the folder's descriptor
 * file, where its raw text (the "uniblock") lies in the messages file, which
 * MIME leaf parts it has and where their bodies lie (absolute offsets in the
 * messages file), its thread parent and whether it is unread. The folder
 * owns its entries; the entry owns its parts.
 *
 * An entry loaded from an index file keeps only its offsets and flags in
 * memory; its IDs and its part records stay in the mapped (or read-once)
 * index file and are decoded when first asked for, so a folder of a
 * million messages opens in a fraction of a second and small memory.
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

    /// Entries are carved from large blocks shared by the entries of a
    /// thread (a folder of a million entries would otherwise touch a fresh
    /// page of memory every few dozen entries); a block is returned when
    /// its last entry is deleted. Subclasses of another size use the
    /// global allocator.
    static void* operator new(size_t size);
    static void operator delete(void* p, size_t size);

    QString getID() const;
    void setID(const QString& id);
    QString getParentID() const;
    void setParentID(const QString& id);
    /// True when the entry has a thread parent (cheaper than getParentID()).
    bool hasParent() const;
    QString getMessageID() const;
    void setMessageID(const QString& id);
    MailFolder* getParentFolder() const { return _parent; }
    void setParentFolder(MailFolder* f) { _parent = f; }

    long getDescriptorOffset() const { return _descriptorOffset; }
    void setDescriptorOffset(long o) { _descriptorOffset = qint32(o); }
    long getDescriptorLength() const { return _descriptorLength; }
    void setDescriptorLength(long l) { _descriptorLength = qint32(l); }
    long getUniblockOffset() const { return _uniblockOffset; }
    /// Moves the message block to \a offset; with \a adjust every part that
    /// has an offset or a length moves with it (a part with neither is left
    /// alone and reported as unfinished).
    void setUniblockOffset(long offset, bool adjust);
    long getUniblockLength() const { return _uniblockLength; }
    void setUniblockLength(long l) { _uniblockLength = qint32(l); }

    bool isMultipartOnly() const { return _multipartOnly != 0; }
    void setMultipartOnly(bool b) { _multipartOnly = b ? 1 : 0; }
    bool getUnreadMark() const { return _unreadMark != 0; }
    void setUnreadMark(bool b) { _unreadMark = b ? 1 : 0; }

    bool isLocked() const { return _lock; }
    void lock() { _lock = true; }
    void unlock() { _lock = false; }

    int getPartCount() const;
    /// The part at \a i, or null when out of range.
    MimePart* getPartAt(int i) const;
    /// True when the entry has at least one part.
    bool isFullMessage() const { return getPartCount() > 0; }

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

    /// An entry of \a parent whose record \a r lies at \a at of \a image
    /// (the record was accepted by Orvane::scanRecord()); nothing is decoded.
    IndexClass(MailFolder* parent, std::shared_ptr<const Orvane::IndexImage> image, qint64 at,
               const Orvane::RawRecord& r);
    /// Hash of the ID, and comparisons, without decoding it.
    quint64 idHash() const;
    bool idEquals(const QString& id) const;
    bool idEquals(const IndexClass& other) const;
    /// Hash of the message ID and of the parent ID (for the folder's
    /// lookup tables), without decoding them.
    quint64 messageIDHash() const;
    quint64 parentIDHash() const;

private:
    friend class MailFolder;
    enum Lazy : quint8 { IdLazy = 1, ParentLazy = 2, MessageIdLazy = 4, PartsLazy = 8, CanonicalParts = 16 };
    // The IDs and parts once decoded or assigned; an entry loaded from an
    // index file has none until then, which keeps it small.
    struct Held;
    Held& held() const;
    bool inCollection() const;
    qint64 fieldAt(int k) const;
    void decodeParts() const;
    void writeParts(QDataStream& s) const;
    /// Sets the parent ID without telling the folder's lookups (threading
    /// tells them itself).
    void linkParent(const QString& id);
    MailFolder* _parent;
    mutable std::unique_ptr<Held> _held;
    // Where undecoded fields still lie: the index image and the record's
    // position in it; which fields are undecoded; how far the parts have
    // moved with the text since the record was written.
    std::shared_ptr<const Orvane::IndexImage> _image;
    qint64 _record = 0;
    mutable qint64 _partShift = 0;
    qint32 _descriptorOffset = 0;
    qint32 _descriptorLength = 0;
    qint32 _uniblockOffset = 0;
    qint32 _uniblockLength = 0;
    mutable qint32 _lazyPartCount = 0;
    qint32 _multipartOnly = 0;
    qint32 _unreadMark = 0;
    mutable quint8 _lazy = 0;
    bool _lock = false;
};
