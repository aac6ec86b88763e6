#include "storefile_p.h"

#include <QSaveFile>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace Orvane {

bool syncFile(QFile& f)
{
    if (!f.flush())
        return false;
    return ::fsync(f.handle()) == 0;
}

void syncDirectory(const QString& dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool writeFileAtomically(const QString& path, const QByteArray& data)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    if (f.write(data) != data.size()) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

void faultPoint()
{
    static const long killAt = [] {
        const char* v = std::getenv("ORVANE_FAULT_KILL_POINT");
        return v ? std::strtol(v, nullptr, 10) : 0L;
    }();
    static long calls = 0;
    if (killAt > 0 && ++calls == killAt)
        std::raise(SIGKILL);
}

} // namespace Orvane
