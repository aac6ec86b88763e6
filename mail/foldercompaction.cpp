// Compaction and recovery of a mail folder (MailFolder::compact and
// MailFolder::recoverInterruptedCompaction): copies what the entries point
// to into new descriptor and messages files, writes the new index beside
// the old one, commits with a mark file and switches the files in; a folder
// interrupted at any instant is finished or rolled back when it is next
// opened.
#include "mailfolder.h"

#include "indexclass.h"
#include "indexrecord_p.h"
#include "orvanelog_p.h"
#include "storefile_p.h"
#include "storeio_p.h"

#include <QFile>

#include <limits>

namespace {

const QLatin1String NewSuffix("new");
const QLatin1String CommitMarkName("/compact.commit");

// A file being read by compaction: mapped into memory when it can be (no
// system call per record), read at offsets otherwise.
class Source
{
public:
    explicit Source(QFile& f) : _file(f), _size(f.size())
    {
        if (_size > 0)
            _map = f.map(0, _size);
    }
    ~Source()
    {
        if (_map)
            _file.unmap(_map);
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    qint64 size() const { return _size; }
    bool holds(qint64 off, qint64 len) const { return off >= 0 && len >= 0 && off + len <= _size; }
    const char* mapped(qint64 off) const { return _map ? reinterpret_cast<const char*>(_map) + off : nullptr; }
    bool read(qint64 off, char* to, qint64 len) const { return Orvane::StoreIO::readAt(_file, off, to, len); }
    QFile& file() const { return _file; }

private:
    QFile& _file;
    qint64 _size;
    uchar* _map = nullptr;
};

// A file being written by compaction, from its start: small pieces
// gather in a large buffer (few, big writes); texts go from file to file
// inside the system where it can (no copy through this process, and no
// pages of a mapping to fault in).
class Sink
{
public:
    explicit Sink(QFile& f) : _file(f) { _buf.reserve(Capacity); }
    qint64 pos() const { return _pos; }
    bool put(const char* p, qint64 n)
    {
        if (!makeRoom(n))
            return false;
        _buf.append(p, n);
        _pos += n;
        return true;
    }
    bool copy(const Source& from, qint64 off, qint64 n)
    {
        if (n >= DirectCopy) {
            if (!flush() || !Orvane::StoreIO::copyRange(from.file(), off, _file, _pos, n))
                return false;
            _written = _pos += n;
            writeBack();
            return true;
        }
        if (const char* m = from.mapped(off))
            return put(m, n);
        if (!makeRoom(n))
            return false;
        const qsizetype at = _buf.size();
        _buf.resize(at + n);
        if (!from.read(off, _buf.data() + at, n))
            return false;
        _pos += n;
        return true;
    }
    bool flush()
    {
        const bool ok = _buf.isEmpty() || Orvane::StoreIO::writeAt(_file, _written, _buf.constData(), _buf.size());
        _written = _pos;
        _buf.resize(0);  // keeps the capacity (clear() would free it)
        writeBack();
        return ok;
    }

private:
    // Flushes the buffer when \a n more bytes would overflow it (pieces
    // put here are shorter than a direct copy, far below its capacity).
    bool makeRoom(qint64 n) { return qint64(_buf.size()) + n <= Capacity || flush(); }
    // The disk writes what is done while the rest is copied: the final
    // sync waits for the last stretch only.
    void writeBack()
    {
        if (_written - _started >= WriteBackStep) {
            Orvane::StoreIO::startWriteBack(_file, _started, _written - _started);
            _started = _written;
        }
    }
    static constexpr qint64 Capacity = 4 << 20;
    // Shorter texts cost less through the buffer than a call of their own.
    static constexpr qint64 DirectCopy = 2 << 10;
    static constexpr qint64 WriteBackStep = 32 << 20;
    QFile& _file;
    qint64 _pos = 0;      // end of what was put
    qint64 _written = 0;  // end of what reached the file
    qint64 _started = 0;  // end of what the disk was asked to write
    QByteArray _buf;
};

} // namespace

bool MailFolder::compact(unsigned int level)
{
    sync();
    if (level != 0)
        orvaneDebug("Folder compressing isn't yet available.");

    const QByteArray separator = Orvane::separatorLine(QDateTime::currentDateTime());

    const QString messagesFile = getMessagesFileName();
    const QString descNew = descriptorFileName + NewSuffix;
    const QString msgNew = messagesFile + NewSuffix;
    const QString indexNew = indexFileName + NewSuffix;

    QFile descIn(descriptorFileName), descOut(descNew), msgIn(messagesFile), msgOut(msgNew);
    auto abandon = [&] {
        descOut.close();
        msgOut.close();
        QFile::remove(descNew);
        QFile::remove(msgNew);
        QFile::remove(indexNew);
        return false;
    };
    if (!descIn.open(QIODevice::ReadOnly))
        return false;
    if (!descOut.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return abandon();
    if (!msgIn.open(QIODevice::ReadOnly))
        return abandon();
    if (!msgOut.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return abandon();

    // Copy what the entries point to. The entries themselves are changed
    // only once the new files are in place. Positions in the new files are
    // kept here; a record that cannot be copied whole is overwritten by the
    // next one.
    struct Move {
        IndexClass* entry;
        long descOffset;
        long blockOffset;
    };
    std::vector<Move> moves;
    std::vector<IndexClass*> broken;
    const std::vector<IndexClass*> all = indexCollection.entries();
    moves.reserve(all.size());
    const Source descSrc(descIn), msgSrc(msgIn);
    Sink descSink(descOut), msgSink(msgOut);
    for (IndexClass* e : all) {
        const qint64 dOff = e->getDescriptorOffset(), dLen = e->getDescriptorLength();
        const qint64 uOff = e->getUniblockOffset(), uLen = e->getUniblockLength();
        if (dLen == 0 || !descSrc.holds(dOff, dLen) || !msgSrc.holds(uOff, uLen)) {
            // No record (or one outside its file): the entry cannot be
            // carried over.
            orvaneDebug("The index file seems to be broken :(");
            broken.push_back(e);
            continue;
        }
        const qint64 descPos = descSink.pos();
        if (descPos + dLen > std::numeric_limits<qint32>::max())
            return abandon();  // offsets would no longer fit the record format
        if (uLen == 0) {
            // A message being composed whose text has not been written yet
            // (a fresh draft): it has nothing in the messages file, but its
            // descriptor is the user's data and goes along.
            if (!descSink.copy(descSrc, dOff, dLen))
                return abandon();
            moves.push_back({e, long(descPos), -1});
            continue;
        }
        const qint64 blockPos = msgSink.pos() + separator.size();
        if (blockPos + uLen + 2 > std::numeric_limits<qint32>::max())
            return abandon();
        if (!descSink.copy(descSrc, dOff, dLen) || !msgSink.put(separator.constData(), separator.size())
            || !msgSink.copy(msgSrc, uOff, uLen) || !msgSink.put("\r\n", 2))
            return abandon();
        moves.push_back({e, long(descPos), long(blockPos)});
    }
    if (!descSink.flush() || !msgSink.flush())
        return abandon();
    if (!descOut.resize(descSink.pos()) || !msgOut.resize(msgSink.pos()) || !Orvane::syncFile(descOut)
        || !Orvane::syncFile(msgOut))
        return abandon();
    descOut.close();
    msgOut.close();
    Orvane::faultPoint();

    // The new index, written beside the old one. Entries take their new
    // places now; if the switch fails they are put back.
    struct Old {
        long descOffset;
        long blockOffset;
    };
    std::vector<Old> olds;
    olds.reserve(moves.size());
    for (const Move& m : moves) {
        olds.push_back({m.entry->getDescriptorOffset(), m.entry->getUniblockOffset()});
        m.entry->setDescriptorOffset(m.descOffset);
        if (m.blockOffset >= 0)
            m.entry->setUniblockOffset(m.blockOffset, true);
    }
    auto restore = [&] {
        for (size_t i = 0; i < moves.size(); ++i) {
            moves[i].entry->setDescriptorOffset(olds[i].descOffset);
            if (moves[i].blockOffset >= 0)
                moves[i].entry->setUniblockOffset(olds[i].blockOffset, true);
        }
        return abandon();
    };
    {
        std::vector<IndexClass*> kept;
        kept.reserve(moves.size());
        for (const Move& m : moves)
            kept.push_back(m.entry);
        const QByteArray index = Orvane::indexFileBytes(kept, true);
        QFile f(indexNew);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(index) != index.size()
            || !Orvane::syncFile(f))
            return restore();
    }
    Orvane::faultPoint();

    // Commit: from the moment the mark exists, the new files are the folder
    // and an interrupted switch is finished when the folder is next opened.
    const QString mark = storageDevice + CommitMarkName;
    {
        QFile m(mark);
        if (!m.open(QIODevice::WriteOnly | QIODevice::Truncate) || !Orvane::syncFile(m))
            return restore();
    }
    Orvane::syncDirectory(storageDevice);
    Orvane::faultPoint();

    const bool switched = Orvane::StoreIO::renameOver(descNew, descriptorFileName) && (Orvane::faultPoint(), true)
        && Orvane::StoreIO::renameOver(msgNew, messagesFile) && (Orvane::faultPoint(), true)
        && Orvane::StoreIO::renameOver(indexNew, indexFileName);
    Orvane::syncDirectory(storageDevice);
    Orvane::faultPoint();
    for (IndexClass* e : broken)
        removeEntry(e);
    if (!switched)
        return false;  // the mark stays: the next opening finishes the switch
    QFile::remove(mark);
    return true;
}

void MailFolder::recoverInterruptedCompaction()
{
    const QString messagesFile = getMessagesFileName();
    const QString mark = storageDevice + CommitMarkName;
    const QString pairs[3][2] = {
        {descriptorFileName + NewSuffix, descriptorFileName},
        {messagesFile + NewSuffix, messagesFile},
        {indexFileName + NewSuffix, indexFileName},
    };
    if (QFile::exists(mark)) {
        // The new layout was complete: finish switching to it.
        for (const auto& p : pairs)
            if (QFile::exists(p[0]))
                Orvane::StoreIO::renameOver(p[0], p[1]);
        Orvane::syncDirectory(storageDevice);
        QFile::remove(mark);
    } else {
        // Interrupted before its commit: the old files are the folder.
        for (const auto& p : pairs)
            QFile::remove(p[0]);
    }
}
