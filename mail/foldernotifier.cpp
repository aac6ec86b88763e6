#include "foldernotifier.h"

namespace {
// Set while the notifier exists, so that reports cost nothing before any
// listener asked for it.
FolderNotifier* g_notifier = nullptr;
}

FolderNotifier* FolderNotifier::instance()
{
    static FolderNotifier notifier;
    g_notifier = &notifier;
    return g_notifier;
}

FolderNotifier::~FolderNotifier()
{
    // Folders that outlive it (static ones) report to nobody.
    g_notifier = nullptr;
}

void FolderNotifier::stored(MailFolder* folder, const QString& id)
{
    if (g_notifier)
        Q_EMIT g_notifier->messageStored(folder, id);
}

void FolderNotifier::removed(MailFolder* folder, const QString& id)
{
    if (g_notifier)
        Q_EMIT g_notifier->messageRemoved(folder, id);
}

void FolderNotifier::changed(MailFolder* folder, const QString& id)
{
    if (g_notifier)
        Q_EMIT g_notifier->messageChanged(folder, id);
}

void FolderNotifier::destroying(MailFolder* folder)
{
    if (g_notifier)
        Q_EMIT g_notifier->folderDestroyed(folder);
}
