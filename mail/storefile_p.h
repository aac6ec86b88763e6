#pragma once

// File helpers of the store: durable writes and the fault-injection hook of
// the crash tests.

#include <QDateTime>
#include <QFile>
#include <QString>

namespace Orvane {

/// Flushes Qt's buffer and the kernel's cache of \a f to the disk.
bool syncFile(QFile& f);
/// Makes the entries of the directory \a dir (renames, creations) durable.
void syncDirectory(const QString& dir);
/// Writes \a data to \a path through a temporary file in the same directory
/// that is synced and renamed over \a path: readers see the old or the new
/// content, never a mix.
bool writeFileAtomically(const QString& path, const QByteArray& data);

/// The line that precedes each message in a messages file: "From - ",
/// the date text and CR LF.
inline QByteArray separatorLine(const QByteArray& dateText)
{
    return "From - " + dateText + "\r\n";
}
/// The separator line of a message written at \a when (compaction and
/// composition date it in Qt's text date form).
inline QByteArray separatorLine(const QDateTime& when)
{
    return separatorLine(when.toString(Qt::TextDate).toLatin1());
}

/// Crash-test hook: when the environment variable ORVANE_FAULT_KILL_POINT
/// holds N, the process kills itself (SIGKILL) at the N-th call. Costs one
/// integer test when unset.
void faultPoint();

} // namespace Orvane
