#include "messagefactory.h"

#include "indexclass.h"
#include "messagedevice.h"

MessageFactory* MessageFactory::_instance = nullptr;

MessageFactory::MessageFactory() : _messageCache(1000) {}

MessageFactory* MessageFactory::thisInstance()
{
    if (!_instance) {
        // Lives to the end of the process, like the devices it hands out.
        static MessageFactory factory;
        _instance = &factory;
    }
    return _instance;
}

MessageDevice* MessageFactory::getMessage(IndexClass* entry)
{
    if (!entry)
        return nullptr;
    const QString id = entry->getID();
    if (MessageDevice* dev = _messageCache.object(id)) {
        if (dev->index() == entry)
            return dev;
        // Another entry now holds this ID (the old one was replaced):
        // the old device must not be handed out.
        _messageCache.remove(id);
    }
    auto* dev = new MessageDevice(entry);  // owned by the cache from here on
    dev->_cached = true;
    _messageCache.insert(id, dev, 1);
    _keyOfEntry.insert(entry, id);
    // Forget keys of entries whose devices were evicted meanwhile.
    if (_keyOfEntry.size() > 2 * _messageCache.maxCost()) {
        for (auto it = _keyOfEntry.begin(); it != _keyOfEntry.end();) {
            if (!_messageCache.contains(it.value()))
                it = _keyOfEntry.erase(it);
            else
                ++it;
        }
    }
    return _messageCache.object(id);
}

void MessageFactory::releaseMessage(const QString& id)
{
    _messageCache.remove(id);
}

void MessageFactory::entryDestroyed(const IndexClass* entry)
{
    if (!_instance)
        return;
    const auto it = _instance->_keyOfEntry.find(entry);
    if (it == _instance->_keyOfEntry.end())
        return;
    const QString id = it.value();
    _instance->_keyOfEntry.erase(it);
    if (!_instance->_messageCache.contains(id))
        return;
    MessageDevice* dev = _instance->_messageCache.object(id);
    if (dev && dev->index() == entry)
        _instance->_messageCache.remove(id);
}
