#pragma once

#include "orvanemail_export.h"
#include "qcstring.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class IndexClass;
class MessageClass;
class MessageDevice;

/**
 * \brief A folder's index entries keyed by index ID.
 *
 * Owns its entries, finds them in O(1) and iterates in order of first
 * insertion (so listings, index rewrites and compaction are deterministic
 * and keep arrival order). Replacing an entry keeps its place. Lookups hash
 * the IDs as they lie in the index file, so entries need not hold them.
 */
class ORVANEMAIL_EXPORT IndexCollection
{
public:
    IndexCollection();
    ~IndexCollection();
    IndexCollection(const IndexCollection&) = delete;
    IndexCollection& operator=(const IndexCollection&) = delete;

    /// The entry under \a id, or null.
    IndexClass* find(const QString& id) const;
    /// The entry held under the ID of \a probe (which need not be held).
    IndexClass* find(const IndexClass& probe) const;
    /// Inserts \a e under its ID, replacing (and deleting) an entry held
    /// under the same ID, which keeps its place. Returns the entry.
    IndexClass* insert(std::unique_ptr<IndexClass> e);
    /// The same, handing a replaced entry to \a replaced instead of
    /// deleting it (one lookup where a caller needs the old entry).
    IndexClass* insert(std::unique_ptr<IndexClass> e, std::unique_ptr<IndexClass>* replaced);
    /// The same with the entry's idHash() already known (a folder's load
    /// hashes each ID once, for prefetch() and the insertion).
    IndexClass* insert(std::unique_ptr<IndexClass> e, std::unique_ptr<IndexClass>* replaced, quint64 idHash);
    /// Removes and deletes the entry under \a id; false when there is none.
    bool remove(const QString& id);
    /// Removes the entry under \a id and hands it over; null when none.
    std::unique_ptr<IndexClass> take(const QString& id);
    /// Deletes every entry.
    void clear();
    int count() const { return int(_count); }
    bool isEmpty() const { return _count == 0; }
    /// The entries in order (a snapshot: safe to change the collection
    /// while walking it).
    std::vector<IndexClass*> entries() const;
    /// The IDs in order.
    QStringList keys() const;
    /// The first entry, in order, whose message ID is \a messageID; null
    /// when none. O(1) after the first call.
    IndexClass* firstWithMessageID(const QString& messageID);
    /// True when some entry names \a id as its thread parent (may answer
    /// true for an ID no entry names; never false for one that is named).
    bool isParent(const QString& id);
    /// Tells the lookup tables that an entry changed its message ID or its
    /// parent ID behind the collection's back (they are rebuilt when next
    /// used).
    void touch() { ++_generation; }
    /// Records that an entry of the collection now has \a parentID as its
    /// parent (keeps the tables valid without a rebuild).
    void noteParentLinked(const QString& parentID);
    /// Makes room for \a n entries.
    void reserve(size_t n);
    /// Asks the processor to fetch the table slot where an ID with \a hash
    /// starts its search, ahead of a batch of insert()s.
    void prefetch(quint64 hash) const;

private:
    static constexpr quint32 Empty = 0, Removed = 0xffffffffu;
    struct Bucket {
        quint32 slot1 = Empty;  // slot + 1, or Empty / Removed
        quint32 hash = 0;       // low bits of the ID hash
    };
    // The bucket where the search for an ID with \a hash starts (the table
    // is not empty).
    size_t home(quint64 hash) const { return size_t(hash >> 32 ^ hash) & (_table.size() - 1); }
    template <typename Eq>
    size_t probe(quint64 hash, Eq eq) const;  // bucket of a match, or npos
    void placeAll();
    void compactSlots();
    void ensureTables();
    std::vector<std::unique_ptr<IndexClass>> _slots;  // null where removed
    std::vector<Bucket> _table;                        // open addressing
    size_t _count = 0;
    size_t _used = 0;   // buckets not Empty
    size_t _holes = 0;  // null slots
    // Lookup tables over the entries, valid while _tablesGeneration equals
    // _generation; adding an entry updates them, anything else rebuilds.
    quint64 _generation = 0;
    quint64 _tablesGeneration = ~quint64(0);
    QHash<quint64, quint32> _byMessageID;  // message ID hash -> first slot
    QSet<quint64> _parents;                // parent ID hashes
};

/**
 * \brief The abstract base of all mail folders.
 *
 * A folder is a directory holding three files: the messages file (raw
 * texts), the descriptor file (descriptor records) and the index file (a
 * header and index records). The base class owns the folder's entries,
 * names the files, classifies the folder by its path, hands out index IDs,
 * writes the index file, translates message IDs and compacts the files.
 * Storage, loading, deletion, copy, move, expunge and sync are supplied by
 * a concrete folder (LocalMailFolder).
 *
 * Every file that holds user data is rewritten atomically: new files are
 * written and renamed over the old ones, and compaction leaves a commit
 * mark so that a folder interrupted at any instant opens either in its old
 * or in its new state (see recoverInterruptedCompaction()).
 */
class ORVANEMAIL_EXPORT MailFolder
{
public:
    explicit MailFolder(const QString& storageDevice);
    virtual ~MailFolder();
    MailFolder(const MailFolder&) = delete;
    MailFolder& operator=(const MailFolder&) = delete;

    virtual QString getMessagesFileName() const = 0;
    /// Stores a raw message; returns its new index ID (null on failure).
    virtual QString createMessage(const QCString& text, const QCString& uid, const QDateTime& date,
                                  const QString& account, const MessageClass* parsed, bool sync,
                                  unsigned int flags) = 0;
    /// Creates an empty message to be composed in the store; returns its ID.
    virtual QString createMessage();
    virtual bool deleteMessage(IndexClass* entry) = 0;
    virtual QString copyMessage(IndexClass* entry) = 0;
    virtual QString moveMessage(IndexClass* entry) = 0;
    virtual bool expunge(bool force) = 0;
    virtual bool moveMessage(const QStringList& ids) = 0;
    virtual bool copyMessage(const QStringList& ids) = 0;
    virtual bool deleteMessage(const QStringList& ids) = 0;
    /// Rewrites the descriptor and messages files without dead records.
    /// Returns false (changing nothing) when a file cannot be opened.
    virtual bool compact(unsigned int level);
    virtual void sync() = 0;

    int getFolderType() const { return folderType; }
    int getFolderProtocol() const { return folderProtocol; }
    int getMessagesPlace() const { return messagesPlace; }
    int getAccessRights() const { return accessRights; }
    void setAccessRights(int r) { accessRights = r; }
    QString getStorageDevice() const { return storageDevice; }
    QString getIndexFileName() const { return indexFileName; }
    QString getDescriptorFileName() const { return descriptorFileName; }
    unsigned int getUnread() const { return unread; }
    void setUnread(int n) { unread = static_cast<unsigned int>(n); }
    void incrementUnread() { ++unread; }
    void decrementUnread() { --unread; }
    unsigned int getPruneIndexCount() const { return pruneIndexCount; }
    void setPruneIndexCount(unsigned int n) { pruneIndexCount = n; }
    void incrementPruneIndexCount() { ++pruneIndexCount; }
    static unsigned long getLastIndexID() { return lastIndexID; }
    static void setLastIndexID(unsigned long n) { lastIndexID = n; }
    static bool getAutoExpunge() { return autoExpunge; }
    static void setAutoExpunge(bool b) { autoExpunge = b; }
    int getMessageCount() const { return indexCollection.count(); }
    /// The folder's entries.
    IndexCollection* indexIDict() { return &indexCollection; }

    /// The last path component of the storage directory.
    QString name() const;
    /// A new random UUID in braced text form (38 characters).
    static QString nextIndexID();
    /// Records one entry in the index file (appends, or starts the file
    /// when the entry is the only one, or deletes it when there is none).
    void saveIndex(IndexClass* entry);
    /// Rewrites the whole index file (atomically).
    void saveIndex();
    /// Appends the records of \a entries to the index file (a later record
    /// of an ID replaces an earlier one when the file is read); rewrites the
    /// file when it does not hold our header yet.
    void appendIndexRecords(const std::vector<IndexClass*>& entries);
    /// Every index ID in order; with a prefix, "prefix/ID".
    QStringList getEntryList(const QString& prefix) const;
    /// An empty map: the folder keeps no entry cache.
    QMap<QString, QByteArray> entryCacheBlock();

    /// Every live folder, in order of construction.
    static const QList<MailFolder*>& folders() { return folderList; }

    /// Threading. Links \a e to the message of this folder whose message
    /// ID is \a e's In-Reply-To. A link that would make a message its own
    /// ancestor is never made.
    void reparentIndex(IndexClass* e);
    /// reparentIndex() for every entry of \a entries in order, with one
    /// append to the descriptor file and one to the index file per few
    /// thousand messages instead of several per message. Each descriptor
    /// changed is written once per batch with all its changes.
    void reparentIndex(const std::vector<IndexClass*>& entries);
    /// Links \a e to the first message of this folder named in its
    /// References; true when a parent was set.
    bool reparentByRelated(IndexClass* e);
    /// Subject threading is not done: always false.
    bool reparentBySubject(IndexClass* e);
    /// Records links between \a e and every message, in any folder, named
    /// in its References (no parent is set).
    void crossReferenceIndex(IndexClass* e);
    /// Same as crossReferenceIndex().
    void crossReferenceIndexSet(IndexClass* e) { crossReferenceIndex(e); }

protected:
    virtual bool shouldExpunge() = 0;
    virtual void loadIndex() = 0;
    void setupFiles();
    void syncIndexID(IndexClass* entry);
    /// The entry with \a id in the first folder that holds it, or null.
    IndexClass* findIndex(const QString& id);
    /// The ID of the first entry of this folder with that message ID.
    QString translateLocalMessageID(const QString& messageID);
    /// The first answer of translateLocalMessageID over all folders.
    QString translateGlobalMessageID(const QString& messageID);
    bool subjectThreadMatch(const QString&, const QString&) { return false; }
    /// Finishes or rolls back a compaction that was interrupted (by a crash
    /// or a kill) so that the folder's three files belong together again.
    void recoverInterruptedCompaction();
    /// Removes an entry from the folder (and releases its cached device).
    void removeEntry(IndexClass* entry);
    /// Called by loadIndex() with whether the file read has our header.
    void setIndexFileIsOurs(bool b);
    /// True when the index file on disk holds our header and every record
    /// of the folder's entries.
    bool indexFileIsOurs() const { return _indexFileIsOurs; }
    /// Links child \a e to the entry \a parentID of this folder, unless
    /// that would close a cycle. True when linked.
    bool linkToParent(IndexClass* e, const QString& parentID);
    /// True when \a parent is \a e or one of its descendants.
    bool closesCycle(IndexClass* e, IndexClass* parent);

    IndexCollection indexCollection;
    unsigned int pruneIndexCount = 0;
    std::vector<std::unique_ptr<MessageDevice>> syncMessages;
    static QList<MailFolder*> folderList;
    static bool autoExpunge;
    static unsigned long lastIndexID;
    QString storageDevice;
    QString indexFileName;
    QString descriptorFileName;
    int folderType = 100;
    int folderProtocol = 0;
    int messagesPlace = 0;
    int accessRights = 4;
    unsigned int unread = 0;

private:
    bool _indexFileIsOurs = false;  // the index file on disk has our header
};
