#pragma once

#include "orvanemail_export.h"

#include <QObject>
#include <QString>

class MailFolder;

/**
 * \brief Tells listeners what happens to the messages of open folders.
 *
 * The folders report here, synchronously and on their own thread, each
 * time a message is stored, removed (deleted, moved away, dropped as
 * broken), or has its index entry recorded again (descriptor saved, read
 * mark changed, thread parent set, content composed), and when a folder
 * goes away. Views such as MailFolderModel listen to instance().
 *
 * The report of a removal comes just before the entry is deleted; a
 * listener must not keep the entry's pointer.
 */
class ORVANEMAIL_EXPORT FolderNotifier : public QObject
{
    Q_OBJECT

public:
    /// The process-wide notifier, created on first use.
    static FolderNotifier* instance();
    ~FolderNotifier() override;

    /// Reports from the folders (cheap when nobody listens).
    static void stored(MailFolder* folder, const QString& id);
    static void removed(MailFolder* folder, const QString& id);
    static void changed(MailFolder* folder, const QString& id);
    static void destroying(MailFolder* folder);

Q_SIGNALS:
    /// A message \a id was stored in \a folder (by raw text or composition).
    void messageStored(MailFolder* folder, const QString& id);
    /// The message \a id is about to leave \a folder.
    void messageRemoved(MailFolder* folder, const QString& id);
    /// The entry of message \a id was recorded again: its descriptor, read
    /// mark, parent or parts may have changed.
    void messageChanged(MailFolder* folder, const QString& id);
    /// \a folder is being destroyed.
    void folderDestroyed(MailFolder* folder);

private:
    FolderNotifier() = default;
};
