#pragma once

#include "mailfolder.h"

#include <memory>

class QFile;

namespace Orvane {
class IndexImage;
}

/**
 * \brief A mail folder kept in local files.
 *
 * Stores raw messages in its messages file (each behind a "From - " line and
 * followed by CR LF), loads its index when constructed, writes descriptors
 * at once or in batches, deletes, copies and moves messages, and compacts
 * when enough of its files is waste.
 *
 * Reading the folder's files trusts nothing in them: a truncated or corrupt
 * index keeps the records read before the damage, and offsets outside the
 * messages file yield no data.
 */
class ORVANEMAIL_EXPORT LocalMailFolder : public MailFolder
{
public:
    /// Opens the folder in \a storageDevice (a directory) and loads its
    /// index. Creates nothing on disk until a message is stored.
    explicit LocalMailFolder(const QString& storageDevice);
    /// Writes pending descriptors.
    ~LocalMailFolder() override;

    QString getMessagesFileName() const override { return messagesFileName; }
    /// Stores \a text; with \a sync the descriptor waits for the next batch
    /// (sync() or 300 pending). Bit 0 of \a flags marks the message read.
    /// Returns the new index ID, or a null string when the messages file
    /// cannot be written (no entry is left behind then).
    QString createMessage(const QCString& text, const QCString& uid, const QDateTime& date,
                          const QString& account, const MessageClass* parsed, bool sync,
                          unsigned int flags) override;
    using MailFolder::createMessage;
    /// Deletes a message: the index forgets it and its text and descriptor
    /// records are overwritten with zeros in place, so they no longer exist
    /// in the files; the space is reclaimed by expunge(). False for an
    /// entry of another folder.
    bool deleteMessage(IndexClass* entry) override;
    QString copyMessage(IndexClass* entry) override;
    QString moveMessage(IndexClass* entry) override;
    bool expunge(bool force) override;
    /// Moves the listed messages (index IDs of entries of any open folder,
    /// bare or as "folder/ID") into this folder, with one index rewrite per
    /// source folder. False (moving nothing) if any ID is unknown.
    bool moveMessage(const QStringList& ids) override;
    /// Copies the listed messages into this folder. False (copying
    /// nothing) if any ID is unknown.
    bool copyMessage(const QStringList& ids) override;
    /// Deletes every listed message with one index rewrite for the whole
    /// list (texts and descriptors are overwritten in place, see
    /// deleteMessage(IndexClass*)). False (deleting nothing) if any ID is
    /// unknown.
    bool deleteMessage(const QStringList& ids) override;
    void sync() override;

protected:
    bool shouldExpunge() override;
    void loadIndex() override;
    /// Loads the entries of an index file image (mapped, read, or held in
    /// memory by a caller such as a fuzz target).
    void loadIndex(const std::shared_ptr<const Orvane::IndexImage>& image);

private:
    QString copyInto(IndexClass* entry, bool batch);
    void deleteEntries(const std::vector<IndexClass*>& gone);
    bool resolve(const QStringList& ids, bool localOnly, std::vector<IndexClass*>* out);
    QString messagesFileName;
    // The messages file, open for appending while a batch of stored
    // messages waits for sync().
    std::unique_ptr<QFile> batchText;
};
