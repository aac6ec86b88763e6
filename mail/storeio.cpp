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
    ::madvise(reinterpret_cast<void*>(a), size_t(quintptr(p) + quintptr(len) - a), MADV_SEQUENTIAL | MADV_WILLNEED);
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

bool readAt(QFile& f, qint64 off, char* to, qint64 len)
{
    return transferAll(::pread, f.handle(), to, off, len);
}

bool writeAt(QFile& f, qint64 off, const char* p, qint64 len)
{
    return f.flush() && transferAll(::pwrite, f.handle(), p, off, len);
}

bool syncFile(QFile& f)
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

bool readAt(QFile& f, qint64 off, char* to, qint64 len)
{
    return f.seek(off) && f.read(to, len) == len;
}

bool writeAt(QFile& f, qint64 off, const char* p, qint64 len)
{
    const qint64 keep = f.pos();
    const bool ok = f.seek(off) && f.write(p, len) == len && f.flush();
    f.seek(keep);
    return ok;
}

bool syncFile(QFile& f)
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
