// Store I/O: the platform's forms of the file operations declared in
// storeio_p.h. This is the only file of the library that includes platform
// headers; elsewhere the Qt forms below are used.
#include "storeio_p.h"

#include <QFileDevice>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#define ORVANE_STORE_POSIX 1
#endif

namespace Orvane::StoreIO {

namespace {
// Copies through a buffer, with the reads and writes at offsets of this
// platform.
bool copyThrough(QFileDevice& from, qint64 fromOff, QFileDevice& to, qint64 toOff, qint64 len)
{
    QByteArray buf(qsizetype(qMin<qint64>(len, 1 << 20)), Qt::Uninitialized);
    while (len > 0) {
        const qint64 step = qMin<qint64>(len, buf.size());
        if (!readAt(from, fromOff, buf.data(), step) || !writeAt(to, toOff, buf.constData(), step))
            return false;
        fromOff += step;
        toOff += step;
        len -= step;
    }
    return true;
}
} // namespace

#if ORVANE_STORE_POSIX

bool canKeepMapped()
{
    return true;
}

bool isTerminal(int fd)
{
    return ::isatty(fd) == 1;
}

void adviseSequential(const void* p, qint64 len)
{
    const quintptr page = quintptr(::sysconf(_SC_PAGESIZE));
    const quintptr a = quintptr(p) & ~(page - 1);
    // Read ahead now. (Sequential advice would let the pages go soon after
    // use, but entries decode their records from them later.)
    ::madvise(reinterpret_cast<void*>(a), size_t(quintptr(p) + quintptr(len) - a), MADV_WILLNEED);
}

void adviseHugePages(void* p, qint64 n)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr quintptr huge = quintptr(2) << 20;
    if (n < qint64(4 * huge))
        return;
    const quintptr a = (quintptr(p) + huge - 1) & ~(huge - 1);
    const quintptr e = (quintptr(p) + quintptr(n)) & ~(huge - 1);
    if (e > a)
        ::madvise(reinterpret_cast<void*>(a), e - a, MADV_HUGEPAGE);
#else
    Q_UNUSED(p);
    Q_UNUSED(n);
#endif
}

// Runs pread or pwrite until all \a len bytes are done; false on an error
// or an end of file.
template <typename Call, typename Ptr>
bool transferAll(Call call, int fd, Ptr p, qint64 off, qint64 len)
{
    while (len > 0) {
        const ssize_t n = call(fd, p, size_t(len), off_t(off));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        off += n;
        len -= n;
    }
    return true;
}

bool readAt(QFileDevice& f, qint64 off, char* to, qint64 len)
{
    return transferAll(::pread, f.handle(), to, off, len);
}

bool writeAt(QFileDevice& f, qint64 off, const char* p, qint64 len)
{
    return f.flush() && transferAll(::pwrite, f.handle(), p, off, len);
}

bool copyRange(QFileDevice& from, qint64 fromOff, QFileDevice& to, qint64 toOff, qint64 len)
{
    if (!to.flush())
        return false;
#if defined(__linux__)
    loff_t in = fromOff, out = toOff;
    while (len > 0) {
        const ssize_t n = ::copy_file_range(from.handle(), &in, to.handle(), &out, size_t(len), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL))
            break;  // not between these files: copy through a buffer below
        if (n <= 0)
            return false;
        len -= n;
    }
    if (len == 0)
        return true;
    fromOff = in;
    toOff = out;
#endif
    return copyThrough(from, fromOff, to, toOff, len);
}

void startWriteBack(QFileDevice& f, qint64 off, qint64 len)
{
#if defined(__linux__)
    ::sync_file_range(f.handle(), off, len, SYNC_FILE_RANGE_WRITE);
#else
    Q_UNUSED(f);
    Q_UNUSED(off);
    Q_UNUSED(len);
#endif
}

bool syncFile(QFileDevice& f)
{
    return f.flush() && ::fsync(f.handle()) == 0;
}

void syncDirectory(const QString& dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool renameOver(const QString& from, const QString& to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

#else  // Qt forms

bool canKeepMapped()
{
    // A mapped file cannot be replaced while it is mapped on Windows: the
    // index is read into memory instead.
    return false;
}

bool isTerminal(int)
{
    return false;  // no progress lines where this cannot be told
}

void adviseSequential(const void*, qint64) {}
void adviseHugePages(void*, qint64) {}

bool readAt(QFileDevice& f, qint64 off, char* to, qint64 len)
{
    return f.seek(off) && f.read(to, len) == len;
}

bool writeAt(QFileDevice& f, qint64 off, const char* p, qint64 len)
{
    const qint64 keep = f.pos();
    const bool ok = f.seek(off) && f.write(p, len) == len && f.flush();
    f.seek(keep);
    return ok;
}

bool copyRange(QFileDevice& from, qint64 fromOff, QFileDevice& to, qint64 toOff, qint64 len)
{
    return to.flush() && copyThrough(from, fromOff, to, toOff, len);
}

void startWriteBack(QFileDevice&, qint64, qint64) {}

bool syncFile(QFileDevice& f)
{
    // QFileDevice has no durable flush of its own; flushing its buffer is
    // what Qt offers (the system writes the cache back on its own).
    return f.flush();
}

void syncDirectory(const QString&) {}

bool renameOver(const QString& from, const QString& to)
{
    // QFile::rename refuses an existing target: remove it first. A crash in
    // between leaves the new file under its temporary name, which the
    // folder's recovery then finishes moving.
    if (QFile::exists(to) && !QFile::remove(to))
        return false;
    return QFile::rename(from, to);
}

#endif

} // namespace Orvane::StoreIO
