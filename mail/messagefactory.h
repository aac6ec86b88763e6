#pragma once

#include "orvanemail_export.h"

#include <QCache>
#include <QHash>
#include <QString>

class IndexClass;
class MessageDevice;

/**
 * \brief The process-wide source of shared message devices for the host.
 *
 * Hands out one device per stored message, keyed by index ID, and keeps at
 * most 1000, dropping the least recently used. A device returned by
 * getMessage() may be deleted by a later getMessage() or releaseMessage()
 * call; use it before the next call into the factory.
 *
 * When an index entry is deleted (message deleted, moved, dropped by
 * compaction, folder destroyed) its cached device is released with it, so
 * the factory never hands out a device whose entry is gone.
 */
class ORVANEMAIL_EXPORT MessageFactory
{
public:
    /// The factory, created on first use.
    static MessageFactory* thisInstance();

    /// The cached device for \a entry's index ID, created when there is none.
    MessageDevice* getMessage(IndexClass* entry);
    /// Removes and deletes the device cached under \a id, if any.
    void releaseMessage(const QString& id);

    /// Called by an index entry as it is destroyed.
    static void entryDestroyed(const IndexClass* entry);

    MessageFactory(const MessageFactory&) = delete;
    MessageFactory& operator=(const MessageFactory&) = delete;

private:
    MessageFactory();
    QCache<QString, MessageDevice> _messageCache;
    QHash<const IndexClass*, QString> _keyOfEntry;
    static MessageFactory* _instance;
};
