#pragma once

// Store I/O: the few file operations of the store that the platform does
// differently (reads at an offset, memory advice, durable directory
// entries, atomic replacement of a file, truncation). The POSIX forms live
// in storeio.cpp; every other platform gets a Qt form, so no other file of
// the library needs a platform header.

#include "orvanemail_export.h"

#include <QFile>
#include <QString>

namespace Orvane::StoreIO {

/// True when a mapped file may stay mapped while it is replaced by a
/// rename (false where an open mapping blocks the rename).
bool canKeepMapped();
/// Tells the system that \a len bytes at \a p are read from start to end.
void adviseSequential(const void* p, qint64 len);
/// Asks for huge pages over the whole 2 MiB pages of a large buffer that
/// is written once (spares page faults); no-op where unsupported.
void adviseHugePages(void* p, qint64 len);
/// Reads \a len bytes at \a off of the open file \a f into \a to without
/// moving its position where the platform allows; false on a short read.
bool readAt(QFileDevice& f, qint64 off, char* to, qint64 len);
/// Writes \a len bytes at \a off of the open file \a f; false on failure.
bool writeAt(QFileDevice& f, qint64 off, const char* p, qint64 len);
/// Copies \a len bytes at \a fromOff of \a from to \a toOff of \a to (both
/// open files), inside the system where it can; false on failure.
bool copyRange(QFileDevice& from, qint64 fromOff, QFileDevice& to, qint64 toOff, qint64 len);
/// Starts writing \a len bytes at \a off of \a f back to the disk without
/// waiting (a later syncFile() then has less to wait for); no-op where
/// unsupported.
void startWriteBack(QFileDevice& f, qint64 off, qint64 len);
/// Flushes \a f to the disk (Qt's buffer and the system's cache).
bool syncFile(QFileDevice& f);
/// Makes renames and creations in the directory \a dir durable.
void syncDirectory(const QString& dir);
/// Replaces \a to by \a from in one step (readers see the old or the new
/// file).
bool renameOver(const QString& from, const QString& to);

/// True when the file descriptor \a fd is a terminal (the tool shows
/// progress there only).
ORVANEMAIL_EXPORT bool isTerminal(int fd);

} // namespace Orvane::StoreIO
