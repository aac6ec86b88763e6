// Date header parsing: this library's DateClass next to GMime's
// g_mime_utils_header_decode_date and Qt's QDateTime::fromString with
// Qt::RFC2822Date on the same values in the same run.
// Python's email.utils.parsedate_to_datetime (bench/dates_peers.py) reads
// the same values the same way.
//
// Input: the Date value (folds removed, text after "Date:") of every message
// in the shared corpus, from the message's own header block, repeated in
// order until ORVANE_BENCH_DATES values (default 300000) are in the list.
// One "message" is one value parsed into the peer's own date record (a
// DateClass; a GDateTime, freed again; a QDateTime). Seconds are CPU seconds of the
// process; each figure is the best of ORVANE_BENCH_REPS runs (default 5).

// GLib headers name a member "signals", which Qt defines as a macro: they
// come first.
#include <gmime/gmime.h>

#include "dateclass.h"
#include "qcstring.h"

#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QList>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

volatile long long sink;

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

int envInt(const char* name, int fallback)
{
    const char* v = std::getenv(name);
    const int n = v ? std::atoi(v) : 0;
    return n > 0 ? n : fallback;
}

/// The Date value of a message's own header block, or a null array.
QByteArray dateValue(const QByteArray& message)
{
    const QList<QByteArray> lines = message.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        if (i == 0 && line.startsWith("From "))
            continue;
        if (line.isEmpty())
            break;
        if (line.size() < 5 || qstrnicmp(line.constData(), "date:", 5) != 0)
            continue;
        QByteArray value = line.mid(5);
        while (i + 1 < lines.size()
               && (lines.at(i + 1).startsWith(' ') || lines.at(i + 1).startsWith('\t'))) {
            QByteArray cont = lines.at(++i);
            if (cont.endsWith('\r'))
                cont.chop(1);
            value += cont;
        }
        return value;
    }
    return QByteArray();
}

template<typename F>
void run(const char* peer, qsizetype count, F f)
{
    const int reps = envInt("ORVANE_BENCH_REPS", 5);
    double best = 1e100;
    for (int r = 0; r < reps; ++r) {
        const double t0 = cpuSeconds();
        sink = f();
        const double d = cpuSeconds() - t0;
        if (d < best)
            best = d;
    }
    const double s = best > 1e-9 ? best : 1e-9;
    std::printf("peer=%s task=date_parse msgs_per_s=%.0f\n", peer, double(count) / s);
    std::fflush(stdout);
}

} // namespace

int main()
{
    QList<QByteArray> files;
    QDirIterator it(QStringLiteral(ORVANE_CORPUS_DIR), {QStringLiteral("*.eml")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().toUtf8();
    std::sort(files.begin(), files.end());
    QList<QCString> found;
    for (const QByteArray& path : files) {
        QFile f(QString::fromUtf8(path));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray v = dateValue(f.readAll());
        if (!v.isNull())
            found << QCString(v);
    }
    if (found.isEmpty()) {
        std::fprintf(stderr, "bench_dates: no Date values under %s\n", ORVANE_CORPUS_DIR);
        return 1;
    }
    const qsizetype want = envInt("ORVANE_BENCH_DATES", 300000);
    QList<QCString> values;
    values.reserve(want);
    while (values.size() < want)
        values << found.at(values.size() % found.size());

    run("orvane", values.size(), [&] {
        long long acc = 0;
        for (const QCString& v : values) {
            const DateClass d(v);
            acc += d.minute + d.timezone.size();
        }
        return acc;
    });

    // Qt's own RFC 2822 reader, for scale (it needs the value as a QString).
    run("qt", values.size(), [&] {
        long long acc = 0;
        for (const QCString& v : values) {
            const QDateTime dt =
                QDateTime::fromString(QString::fromLatin1(v).trimmed(), Qt::RFC2822Date);
            acc += dt.time().minute();
        }
        return acc;
    });

    g_mime_init();
    run("gmime", values.size(), [&] {
        long long acc = 0;
        for (const QCString& v : values) {
            if (GDateTime* dt = g_mime_utils_header_decode_date(v.constData())) {
                acc += g_date_time_get_minute(dt);
                g_date_time_unref(dt);
            }
        }
        return acc;
    });
    g_mime_shutdown();
    return 0;
}
