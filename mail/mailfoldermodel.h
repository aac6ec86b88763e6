#pragma once

#include "orvanemail_export.h"

#include <QAbstractItemModel>

#include <memory>

class IndexClass;
class MailFolder;

/**
 * \brief An item model over the messages of one mail folder, for Qt views.
 *
 * One row per message, or (setThreaded()) the folder's threads as a tree
 * built from the thread parents of its entries. The columns are given by
 * Column. Qt::DisplayRole gives the decoded display values; SortRole the
 * raw values (the date as a QDateTime, the size as a number), which are
 * also what sort() orders by.
 *
 * Top-level rows come in batches through canFetchMore() / fetchMore(), so
 * a view of a very large folder shows its first screen without reading
 * every descriptor; descriptors are read when a row is first shown (a
 * batch at a time, with one opening of the descriptor file). Sorting reads
 * the descriptors of the whole folder once.
 *
 * The model follows the folder: messages stored, deleted, moved away or
 * changed (read mark, thread parent, descriptor) through the folder's API
 * come in as the proper row signals, through FolderNotifier. The folder is
 * not owned; when it is destroyed the model becomes empty.
 */
class ORVANEMAIL_EXPORT MailFolderModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Column {
        SubjectColumn,
        FromColumn,
        DateColumn,
        SizeColumn,
        UnreadColumn,
        AttachmentColumn,
        ColumnCount
    };
    Q_ENUM(Column)

    enum Role {
        /// The raw value of a column: QString, QDateTime, qint64 or bool.
        SortRole = Qt::UserRole + 1,
        /// The message's index ID (every column).
        IndexIDRole,
        /// Whether the message is unread (every column). Settable: writing
        /// it marks the message read or unread in the folder.
        UnreadRole,
        /// Whether the message has an attachment (every column).
        AttachmentRole
    };
    Q_ENUM(Role)

    explicit MailFolderModel(QObject* parent = nullptr);
    ~MailFolderModel() override;

    /// Shows \a folder (not owned; may be null).
    void setFolder(MailFolder* folder);
    MailFolder* folder() const;

    /// Threads as a tree (true) or one flat list (false, the default).
    void setThreaded(bool threaded);
    bool isThreaded() const;

    /// Top-level rows added by one fetchMore() (default 256, at least 1).
    void setBatchSize(int rows);
    int batchSize() const;

    /// The index ID of the message at \a index.
    QString indexID(const QModelIndex& index) const;
    /// The folder's entry of the message at \a index, or null.
    IndexClass* entry(const QModelIndex& index) const;
    /// The index of message \a id in \a column, fetching top-level rows as
    /// far as needed; invalid when the folder has no such message.
    QModelIndex indexOf(const QString& id, int column = 0);
    /// Marks the message at \a index read (or unread): the entry, the
    /// folder's unread count and the descriptor's status.
    bool setRead(const QModelIndex& index, bool read);

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    /// Orders every level by \a column; -1 restores the folder's order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QHash<int, QByteArray> roleNames() const override;

private:
    struct Private;
    std::unique_ptr<Private> d;
    void onStored(MailFolder* folder, const QString& id);
    void onRemoved(MailFolder* folder, const QString& id);
    void onChanged(MailFolder* folder, const QString& id);
    void onFolderDestroyed(MailFolder* folder);
};
