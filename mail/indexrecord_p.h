#pragma once

// Index records read in place. A folder's index file is mapped (or read
// once) into an IndexImage; opening a folder walks its records without
// decoding them, and each entry keeps the position of its record so that
// its strings and part records are decoded only when first used. The walk
// accepts exactly what the stream readers of IndexClass and MimePart
// accept, so a lazily read entry reads as an eagerly read one.

#include "orvanemail_export.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

class IndexClass;

namespace Orvane {

/// The bytes of an index file: mapped when possible, else read once into
/// memory. Immutable once made; shared by the entries that refer to it.
// Exported (though private) for the index fuzz target, which checks the
// lazy record reader against the stream reader.
class ORVANEMAIL_EXPORT IndexImage
{
public:
    /// Maps (or reads) the file \a path; null when it cannot be opened.
    static std::shared_ptr<const IndexImage> open(const QString& path);
    /// An image over bytes held in memory (the fuzz targets' path).
    static std::shared_ptr<const IndexImage> fromBytes(const QByteArray& bytes);
    ~IndexImage();
    IndexImage(const IndexImage&) = delete;
    IndexImage& operator=(const IndexImage&) = delete;

    const uchar* data() const { return _data; }
    qint64 size() const { return _size; }
    /// True when the bytes are those of a file (open()), false for bytes
    /// handed over (fromBytes()).
    bool isFile() const { return _file; }

private:
    IndexImage() = default;
    struct Mapping;
    std::unique_ptr<Mapping> _mapping;
    QByteArray _bytes;
    const uchar* _data = nullptr;
    qint64 _size = 0;
    bool _file = false;
};

/// A record found by scanRecord(): where its parts are and what its fixed
/// fields hold.
struct RawRecord {
    qint32 fields[7] = {};  // descriptor offset, length, text offset, length,
                            // multipart flag, unread flag, part count
    qint64 partsAt = 0;     // first part record
    qint64 end = 0;         // first byte after the record
    int partCount = 0;      // part records (the count, 0 when negative)
    bool canonicalParts = true;  // every part record is in the layout the
                                 // writer produces, so it can be copied as is
};

/// Where the records of the index file \a d (\a size bytes) start: after
/// its header, which names this version; -1 when it names another or none.
qint64 indexHeaderEnd(const uchar* d, qint64 size);
/// Reads the record at \a pos of \a d (\a size bytes) without decoding it.
/// False when the stream readers would fail on it (short, or corrupt).
ORVANEMAIL_EXPORT bool scanRecord(const uchar* d, qint64 size, qint64 pos, RawRecord* r);

/// Skips the QString record at \a pos of \a d (\a size bytes) as
/// QDataStream reads one; -1 when the reader would fail (short, or an odd
/// byte count). A negative \a pos gives -1.
qint64 skipQString(const uchar* d, qint64 size, qint64 pos);
/// Position of string field \a k (0 ID, 1 parent ID, 2 message ID) of the
/// record at \a rec (the record was accepted by scanRecord()).
qint64 stringFieldAt(const uchar* d, qint64 rec, int k);
/// The QString stored at \a at.
QString rawString(const uchar* d, qint64 at);
/// True when the QString stored at \a at equals \a s.
bool rawStringEquals(const uchar* d, qint64 at, const QString& s);
/// True when the QString stored at \a at is empty or null.
bool rawStringEmpty(const uchar* d, qint64 at);
/// Size in bytes of the QString record at \a at (length word included).
ORVANEMAIL_EXPORT qint64 rawStringSize(const uchar* d, qint64 at);
/// A hash of a string's UTF-16 code units (the same for both forms).
quint64 stringHash(const QString& s);
quint64 rawStringHash(const uchar* d, qint64 at);

/// Calls \a f(offsetPos, offset, length) for each of \a count part
/// records starting at \a at (positions of the offset field in \a d).
template <typename F>
void forEachRawPart(const uchar* d, qint64 size, qint64 at, int count, F f);

qint32 readInt(const uchar* p);

/// Index file bytes: the header (when \a withHeader) and the records of
/// \a entries, one after another.
QByteArray indexFileBytes(const std::vector<IndexClass*>& entries, bool withHeader);

} // namespace Orvane

// ---------------------------------------------------------------- inline

namespace Orvane {

inline qint32 readInt(const uchar* p)
{
    return qint32((quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]));
}

/// Walks one part record at \a pos; fills the position of its offset field
/// (-1 when none) and returns the position after it, or -1 when the
/// readers would fail. \a canonical is cleared unless it is a record the
/// writer would produce byte for byte.
qint64 scanPart(const uchar* d, qint64 size, qint64 pos, qint64* offsetPos, bool* canonical);

template <typename F>
void forEachRawPart(const uchar* d, qint64 size, qint64 at, int count, F f)
{
    bool canonical = true;
    for (int i = 0; i < count; ++i) {
        qint64 offPos = -1;
        const qint64 next = scanPart(d, size, at, &offPos, &canonical);
        if (next < 0)
            return;
        f(offPos, readInt(d + offPos), readInt(d + offPos + 4));
        at = next;
    }
}

} // namespace Orvane
