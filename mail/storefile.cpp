#include "storefile_p.h"

#include "storeio_p.h"

#include <QSaveFile>

#include <csignal>
#include <cstdlib>

namespace Orvane {

bool syncFile(QFile& f)
{
    return StoreIO::syncFile(f);
}

void syncDirectory(const QString& dir)
{
    StoreIO::syncDirectory(dir);
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
