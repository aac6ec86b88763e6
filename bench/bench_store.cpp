// Local folder store against the physical limits of the machine:
//   import       createMessage(sync = true) of the corpus messages cycled to
//                N messages (parsing included) vs a plain C loop appending
//                the same bytes to one file;
//   open_index   loading the index of the N-message folder vs reading the
//                index file raw; memory per loaded entry;
//   compact      compaction after half of the entries were removed vs cp of
//                the bytes that survive (plain and synced), then the kept
//                bytes compacted again right after the copy, in the state
//                the copy found the machine in;
//   delete_one   single deletions from the full folder, each its own call;
//   delete_list  deleting 1,000 messages through the list form (one
//                compaction) next to one bare compaction of the same folder;
//   thread_chain a reply chain stored and threaded message by message, at
//                two sizes (per-message cost must not grow with the folder).
// N comes from ORVANE_BENCH_STORE_MESSAGES (default 100000).
// ORVANE_BENCH_STORE_ONLY picks groups, comma-separated: thread_chain,
// folder (import, open, compact and delete, which share one folder) and
// thread_folder; all by default. Handy under perf. The folder lives
// in a temporary directory (ORVANE_BENCH_DIR, else TMPDIR, else /tmp) that is
// removed at the end.
#include <indexclass.h>
#include <localmailfolder.h>
#include <messageclass.h>
#include <orvaneversion.h>
#include <qcstring.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

double cpuNow()
{
    // User and system time of this process and of its waited-for children
    // (the cp peer).
    double sum = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        getrusage(who, &u);
        sum += double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
            + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return sum;
}

// Wall clock and this process's CPU time: the machine is shared, so the CPU
// time shows what the work itself cost when the wall clock is disturbed.
struct Timer {
    QElapsedTimer wall;
    double cpu0 = 0;
    void start()
    {
        wall.start();
        cpu0 = cpuNow();
    }
    void restart() { start(); }
    double cpu() const { return cpuNow() - cpu0; }
};

double lastCpu = 0;

double seconds(const Timer& t)
{
    lastCpu = t.cpu();
    return std::max<qint64>(t.wall.nsecsElapsed(), 1) / 1e9;
}

void line(const char* peer, const char* task, double bytes, double msgs, double secs,
          const QByteArray& extra = QByteArray())
{
    std::printf("peer=%s task=%s", peer, task);
    if (bytes > 0)
        std::printf(" mb_per_s=%.1f", bytes / 1e6 / secs);
    if (msgs > 0)
        std::printf(msgs / secs < 10 ? " msgs_per_s=%.2f" : " msgs_per_s=%.0f", msgs / secs);
    std::printf(" seconds=%.3f cpu_s=%.3f%s%s\n", secs, lastCpu, extra.isEmpty() ? "" : " ", extra.constData());
    std::fflush(stdout);
}

QByteArray kv(const char* key, double value, int decimals = 2)
{
    return QByteArray(key) + '=' + QByteArray::number(value, 'f', decimals);
}

long residentBytes()
{
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    long size = 0, resident = 0;
    if (std::fscanf(f, "%ld %ld", &size, &resident) != 2)
        resident = 0;
    std::fclose(f);
    return resident * sysconf(_SC_PAGESIZE);
}

size_t heapInUse() { return mallinfo2().uordblks + mallinfo2().hblkhd; }

std::vector<QCString> loadCorpus()
{
    std::vector<QCString> out;
    QStringList files;
    QDirIterator it(QStringLiteral(ORVANE_CORPUS_DIR), {QStringLiteral("*.eml")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    for (const QString& path : std::as_const(files)) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            out.emplace_back(f.readAll());
    }
    return out;
}

// Writes back what earlier steps left in the system's cache, so that a
// timed step that syncs its files does not also wait for theirs.
void settle()
{
    ::sync();
}

bool runCp(const QString& from, const QString& to)
{
    const QByteArray cmd = "cp " + QFile::encodeName(from) + ' ' + QFile::encodeName(to);
    return std::system(cmd.constData()) == 0;
}

qint64 fileSize(const QString& p) { return QFileInfo(p).size(); }

// Reads a whole file in 1 MiB steps (the raw read the index loading is
// held against).
bool readThrough(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    std::vector<char> buf(size_t(1) << 20);
    while (f.read(buf.data(), qint64(buf.size())) > 0) {
    }
    return true;
}

// Drops the page-cache pages of one file (written back first).
void dropFromCache(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// A folder opened under measurement: seconds, and heap and resident bytes
// per loaded entry.
struct Opened {
    std::unique_ptr<LocalMailFolder> folder;
    double secs = 0;
    qint64 heapPerEntry = 0;
    qint64 rssPerEntry = 0;
    int loaded = 0;
};

Opened openMeasured(const QString& dir)
{
    malloc_trim(0);
    const long rss0 = residentBytes();
    const size_t heap0 = heapInUse();
    Timer t;
    t.start();
    Opened o;
    o.folder = std::make_unique<LocalMailFolder>(dir);
    o.secs = seconds(t);
    const size_t heap1 = heapInUse();
    const long rss1 = residentBytes();
    o.loaded = o.folder->getMessageCount();
    const int per = std::max(o.loaded, 1);
    o.heapPerEntry = qint64(heap1 - heap0) / per;
    o.rssPerEntry = qint64(rss1 - rss0) / per;
    return o;
}

} // namespace

// Threading a reply chain as it arrives: every message answers the one
// before it and is linked to its parent right after it is stored. Returns
// the seconds for \a count messages.
double threadChain(const QString& dir, int count)
{
    QDir().mkpath(dir);
    double secs = 0;
    {
        LocalMailFolder folder(dir);
        Timer t;
        t.start();
        for (int i = 0; i < count; ++i) {
            const QByteArray id = "<m" + QByteArray::number(i) + "@bench.example>";
            QByteArray text = "From: a@bench.example\r\nSubject: chain\r\nMessage-ID: " + id + "\r\n";
            if (i > 0)
                text += "In-Reply-To: <m" + QByteArray::number(i - 1) + "@bench.example>\r\n";
            text += "\r\nreply " + QByteArray::number(i) + "\r\n";
            const QString entryID = folder.createMessage(QCString(text), QCString(id), QDateTime::currentDateTime(),
                                                         QString(), nullptr, false, 0);
            if (IndexClass* e = folder.indexIDict()->find(entryID))
                folder.reparentIndex(e);
        }
        secs = seconds(t);
    }
    QDir(dir).removeRecursively();
    return secs;
}

// Threading a whole folder at once: \a count messages, each answering a
// pseudo-random earlier one (threads of every depth and width), stored in
// batches and then threaded with the list form of reparentIndex. Returns
// the seconds of the threading alone.
double threadFolder(const QString& dir, int count)
{
    QDir().mkpath(dir);
    double secs = 0;
    {
        LocalMailFolder folder(dir);
        quint32 state = 12345;
        const QDateTime when = QDateTime::currentDateTime();
        for (int i = 0; i < count; ++i) {
            const QByteArray id = "<t" + QByteArray::number(i) + "@bench.example>";
            QByteArray text = "From: a@bench.example\r\nSubject: thread\r\nMessage-ID: " + id + "\r\n";
            state = state * 1664525u + 1013904223u;
            if (i > 0 && (state >> 8) % 10 != 0)
                text += "In-Reply-To: <t" + QByteArray::number((state >> 4) % quint32(i)) + "@bench.example>\r\n";
            text += "\r\nreply " + QByteArray::number(i) + "\r\n";
            folder.createMessage(QCString(text), QCString(id), when, QString(), nullptr, true, 0);
        }
        folder.sync();
        const std::vector<IndexClass*> all = folder.indexIDict()->entries();
        Timer t;
        t.start();
        folder.reparentIndex(all);
        secs = seconds(t);
    }
    QDir(dir).removeRecursively();
    return secs;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));

    int n = 100000;
    if (const char* v = std::getenv("ORVANE_BENCH_STORE_MESSAGES"))
        n = std::max(2000, std::atoi(v));

    const std::vector<QCString> corpus = loadCorpus();
    if (corpus.empty()) {
        std::fprintf(stderr, "bench_store: no corpus messages in %s\n", ORVANE_CORPUS_DIR);
        return 1;
    }

    QByteArray base = qgetenv("ORVANE_BENCH_DIR");
    if (base.isEmpty())
        base = qgetenv("TMPDIR");
    if (base.isEmpty())
        base = "/tmp";
    QByteArray tmpl = base + "/orvane-bench-store-XXXXXX";
    if (!::mkdtemp(tmpl.data())) {
        std::perror("bench_store: mkdtemp");
        return 1;
    }
    const QString work = QFile::decodeName(tmpl);
    const QString folderDir = work + QLatin1String("/folder");
    QDir().mkpath(folderDir);
    struct Cleanup {
        QString dir;
        ~Cleanup() { QDir(dir).removeRecursively(); }
    } cleanup{work};

    double textBytes = 0;
    for (int i = 0; i < n; ++i)
        textBytes += double(corpus[size_t(i) % corpus.size()].size());

    const QList<QByteArray> only = qgetenv("ORVANE_BENCH_STORE_ONLY").split(',');
    auto want = [&](const char* group) { return only == QList<QByteArray>{QByteArray()} || only.contains(group); };

    // ---------------------------------------------------------- thread_chain
    // The same work per message at two folder sizes: a per-message cost that
    // grows with the folder shows as scaling well above 1.
    if (want("thread_chain")) {
        const int small = std::max(500, n / 100), large = 4 * small;
        const double a = threadChain(work + QLatin1String("/chain"), small);
        const double cpuA = lastCpu;
        const double b = threadChain(work + QLatin1String("/chain"), large);
        line("orvane", "thread_chain", 0, large, b,
             kv("per_msg_scaling_4x", (b / large) / (a / small)) + ' '
                 + kv("cpu_per_msg_scaling_4x", (lastCpu / large) / (std::max(cpuA, 1e-6) / small)) + ' '
                 + QByteArray("messages=") + QByteArray::number(small) + "," + QByteArray::number(large));
    }

    if (want("folder")) {
        // ---------------------------------------------------------------- import
        // The limit: the same bytes appended to one file with stdio.
        {
            const QByteArray path = QFile::encodeName(work + QLatin1String("/plain"));
            Timer t;
            t.start();
            FILE* f = std::fopen(path.constData(), "wb");
            if (!f)
                return 1;
            for (int i = 0; i < n; ++i) {
                const QCString& m = corpus[size_t(i) % corpus.size()];
                std::fwrite(m.constData(), 1, size_t(m.size()), f);
            }
            std::fclose(f);
            const double secs = seconds(t);
            line("c_append", "import", textBytes, n, secs);
            QFile::remove(QString::fromLocal8Bit(path));
        }

        const QDateTime when = QDateTime::currentDateTime();
        double importSecs = 0;
        {
            auto folder = std::make_unique<LocalMailFolder>(folderDir);
            // Time every tenth of the import: the last tenth costing much more
            // than the first would show work growing with the folder's size.
            std::vector<double> tenths;
            Timer t, part;
            t.start();
            part.start();
            const int tenth = n / 10;
            for (int i = 0; i < n; ++i) {
                const QCString& m = corpus[size_t(i) % corpus.size()];
                if (folder->createMessage(m, QCString(""), when, QString(), nullptr, true, 0).isNull()) {
                    std::fprintf(stderr, "bench_store: createMessage failed at %d\n", i);
                    return 1;
                }
                if (tenth > 0 && (i + 1) % tenth == 0) {
                    tenths.push_back(seconds(part));
                    part.restart();
                }
            }
            folder->sync();
            importSecs = seconds(t);
            const double growth = tenths.size() >= 10 ? tenths[9] / tenths[0] : 0;
            line("orvane", "import", textBytes, n, importSecs,
                 kv("last_tenth_vs_first", growth) + ' ' + kv("first_tenth_s", tenths.empty() ? 0 : tenths[0], 3)
                     + ' ' + kv("last_tenth_s", tenths.empty() ? 0 : tenths.back(), 3));
        }
        // Parsing alone, for the record: how much of the import is the parser.
        {
            const int sample = std::min(n, 20000);
            double bytes = 0;
            Timer t;
            t.start();
            for (int i = 0; i < sample; ++i) {
                const QCString& m = corpus[size_t(i) % corpus.size()];
                const MessageClass parsed(m);
                bytes += double(m.size());
            }
            line("orvane", "parse_only", bytes, sample, seconds(t));
        }

        const QString indexFile = folderDir + QLatin1String("/index");
        const QString messagesFile = folderDir + QLatin1String("/messages");
        const QString descriptorFile = folderDir + QLatin1String("/descriptor");

        // ------------------------------------------------------------ open_index
        // Warm: the index file is in the page cache (as right after the import).
        // Cold: its pages are dropped first (posix_fadvise on this file only),
        // so both sides read it from the disk.
        const qint64 indexBytes = fileSize(indexFile);
        for (const bool cold : {false, true}) {
            const char* task = cold ? "open_index_cold" : "open_index";
            if (cold)
                dropFromCache(indexFile);
            Timer t;
            t.start();
            if (!readThrough(indexFile))
                return 1;
            line("raw_read", task, double(indexBytes), n, seconds(t));
            if (cold)
                dropFromCache(indexFile);
            const Opened o = openMeasured(folderDir);
            const int loaded = o.loaded;
            const double secs = o.secs;
            if (loaded != n)
                std::fprintf(stderr, "bench_store: loaded %d of %d entries\n", loaded, n);
            const int per = std::max(loaded, 1);
            line("orvane", task, double(indexBytes), loaded, secs,
                 QByteArray("bytes_per_entry=") + QByteArray::number(o.rssPerEntry)
                     + " heap_bytes_per_entry=" + QByteArray::number(o.heapPerEntry)
                     + " index_bytes_per_entry=" + QByteArray::number(indexBytes / per)
                     + " folder_messages=" + QByteArray::number(loaded));
        }

        // ------------------------------------------------------ open_index_large
        // A folder of ORVANE_BENCH_STORE_OPEN_MESSAGES entries (default one
        // million): the index of the imported folder repeated under new IDs
        // (the entries share the imported texts; opening reads the index only).
        {
            int big = 1000000;
            if (const char* v = std::getenv("ORVANE_BENCH_STORE_OPEN_MESSAGES"))
                big = std::max(n, std::atoi(v));
            const QString bigDir = work + QLatin1String("/big");
            QDir().mkpath(bigDir);
            QFile::copy(messagesFile, bigDir + QLatin1String("/messages"));
            QFile::copy(descriptorFile, bigDir + QLatin1String("/descriptor"));
            {
                auto folder = std::make_unique<LocalMailFolder>(folderDir);
                const std::vector<IndexClass*> src = folder->indexIDict()->entries();
                QFile out(bigDir + QLatin1String("/index"));
                if (!out.open(QIODevice::WriteOnly) || src.empty())
                    return 1;
                QByteArray buf;
                QDataStream s(&buf, QIODevice::WriteOnly);
                s.setVersion(QDataStream::Qt_3_3);
                s << QStringLiteral(ORVANE_MAIL_VERSION);
                for (int i = 0; i < big; ++i) {
                    IndexClass copy(*src[size_t(i) % src.size()]);
                    copy.setID(MailFolder::nextIndexID());
                    s << copy;
                    if (buf.size() > (8 << 20)) {
                        out.write(buf);
                        s.device()->seek(0);
                        buf.clear();
                    }
                }
                out.write(buf);
            }
            const QString bigIndex = bigDir + QLatin1String("/index");
            const qint64 bigBytes = fileSize(bigIndex);
            Timer t;
            t.start();
            if (!readThrough(bigIndex))
                return 1;
            const double raw = seconds(t);
            line("raw_read", "open_index_large", double(bigBytes), big, raw,
                 QByteArray("folder_messages=") + QByteArray::number(big));
            Opened o = openMeasured(bigDir);
            const double secs = o.secs;
            const int loaded = std::max(o.loaded, 1);
            auto folder = std::move(o.folder);
            line("orvane", "open_index_large", double(bigBytes), loaded, secs,
                 kv("vs_raw_read", secs / raw) + " heap_bytes_per_entry=" + QByteArray::number(o.heapPerEntry)
                     + " rss_bytes_per_entry=" + QByteArray::number(o.rssPerEntry) + " index_bytes_per_entry="
                     + QByteArray::number(bigBytes / loaded) + " folder_messages=" + QByteArray::number(loaded));
            // Listing needs no decoding beyond the fields asked for: walk every
            // entry's flags, size and parent and look up every tenth message ID.
            t.restart();
            qint64 sum = 0;
            for (IndexClass* e : folder->indexIDict()->entries())
                sum += e->getSize() + (e->getUnreadMark() ? 1 : 0) + (e->hasParent() ? 1 : 0) + e->getPartCount();
            line("orvane", "walk_entries_large", 0, loaded, seconds(t),
                 QByteArray("folder_messages=") + QByteArray::number(loaded) + " checksum=" + QByteArray::number(sum));
            folder.reset();
            QDir(bigDir).removeRecursively();
        }

        // ------------------------------------------------------- delete_single
        // Deleting single messages from the full folder, each on its own call.
        {
            auto folder = std::make_unique<LocalMailFolder>(folderDir);
            const QStringList ids = folder->getEntryList(QString());
            const int count = 20;
            settle();
            Timer t;
            t.start();
            for (int i = 0; i < count; ++i)
                folder->deleteMessage(folder->indexIDict()->find(ids[i * (ids.size() / count)]));
            const double total = seconds(t);
            line("orvane", "delete_one", 0, count, total,
                 kv("ms_per_delete", total / count * 1000, 1) + " folder_messages=" + QByteArray::number(ids.size()));
        }

        // --------------------------------------------------------------- compact
        // Half of the entries leave the folder without touching its files (the
        // collection's own removal), so that the timed part is the compaction
        // alone: reading the surviving records and texts, writing the new
        // files, syncing them and switching them in.
        double compactSecs = 0;
        {
            auto folder = std::make_unique<LocalMailFolder>(folderDir);
            const QStringList ids = folder->getEntryList(QString());
            for (int i = 0; i < ids.size(); i += 2)
                folder->indexIDict()->remove(ids[i]);
            const int kept = folder->getMessageCount();
            settle();
            Timer t;
            t.start();
            if (!folder->compact(0)) {
                std::fprintf(stderr, "bench_store: compaction failed\n");
                return 1;
            }
            compactSecs = seconds(t);
            const double survived = double(fileSize(messagesFile) + fileSize(descriptorFile));
            line("orvane", "compact_half", survived, kept, compactSecs,
                 QByteArray("folder_messages=") + QByteArray::number(n));
        }
        {
            // The peer: cp of exactly the bytes that survived (the two files the
            // compaction wrote), once plain and once followed by a sync of the
            // copies, since the compaction makes its files durable.
            const double survived = double(fileSize(messagesFile) + fileSize(descriptorFile));
            const int kept = (n - 20) / 2;
            const QString m2 = work + QLatin1String("/messages.cp");
            const QString d2 = work + QLatin1String("/descriptor.cp");
            Timer t;
            t.start();
            if (!runCp(messagesFile, m2) || !runCp(descriptorFile, d2))
                return 1;
            line("cp", "compact_half", survived, kept, seconds(t));
            QFile::remove(m2);
            QFile::remove(d2);
            t.restart();
            if (!runCp(messagesFile, m2) || !runCp(descriptorFile, d2))
                return 1;
            {
                QFile a(m2), b(d2);
                if (a.open(QIODevice::ReadWrite))
                    ::fsync(a.handle());
                if (b.open(QIODevice::ReadWrite))
                    ::fsync(b.handle());
            }
            const double cpSync = seconds(t);
            line("cp_fsync", "compact_half", survived, kept, cpSync);
            QFile::remove(m2);
            QFile::remove(d2);
            // The same bytes compacted again, now in the state the copy
            // found the machine in: right after the files of a compaction
            // were freed (on some virtual machines fresh page-cache memory
            // costs far more than memory just given back).
            auto folder = std::make_unique<LocalMailFolder>(folderDir);
            t.restart();
            if (!folder->compact(0))
                return 1;
            const double again = seconds(t);
            line("orvane", "compact_kept_again", survived, kept, again,
                 kv("vs_cp_fsync", again / cpSync) + " folder_messages=" + QByteArray::number(kept));
        }

        // ----------------------------------------------------------- delete_list
        {
            auto folder = std::make_unique<LocalMailFolder>(folderDir);
            Timer t;
            t.start();
            folder->compact(0);
            const double oneCompaction = seconds(t);
            const QStringList ids = folder->getEntryList(QString());
            QStringList doomed;
            const int count = std::min<int>(1000, int(ids.size()) / 2);
            const int step = std::max<int>(1, int(ids.size()) / count);
            for (int i = 0; i < ids.size() && doomed.size() < count; i += step)
                doomed << ids[i];
            t.restart();
            if (!folder->deleteMessage(doomed)) {
                std::fprintf(stderr, "bench_store: list deletion failed\n");
                return 1;
            }
            const double secs = seconds(t);
            line("orvane", "delete_1000_list", 0, doomed.size(), secs,
                 kv("compactions", secs / oneCompaction, 2) + ' ' + kv("one_compaction_s", oneCompaction, 3)
                     + ' ' + QByteArray("folder_messages=") + QByteArray::number(ids.size()));
            // One by one: each deletion rewrites the index once and overwrites
            // the message's bytes in place.
            const QStringList rest = folder->getEntryList(QString());
            t.restart();
            const int single = 20;
            for (int i = 0; i < single && i < rest.size(); ++i)
                folder->deleteMessage(folder->indexIDict()->find(rest[i]));
            const double total = seconds(t);
            line("orvane", "delete_single", 0, single, total,
                 kv("ms_per_delete", total / single * 1000, 1) + ' ' + kv("projected_1000_s", total / single * 1000, 1)
                     + " folder_messages=" + QByteArray::number(rest.size()));
        }

    }

    // --------------------------------------------------------- thread_folder
    // The list form at two sizes: per-message cost must stay flat.
    if (want("thread_folder")) {
        int large = 1000000;
        if (const char* v = std::getenv("ORVANE_BENCH_STORE_THREAD_LARGE"))
            large = std::max(n, std::atoi(v));
        const double a = threadFolder(work + QLatin1String("/threads"), n);
        line("orvane", "thread_folder", 0, n, a, QByteArray("folder_messages=") + QByteArray::number(n));
        const double b = threadFolder(work + QLatin1String("/threads"), large);
        line("orvane", "thread_folder", 0, large, b,
             QByteArray("folder_messages=") + QByteArray::number(large) + ' '
                 + kv("per_msg_vs_smaller", (b / large) / (a / n)));
    }
    return 0;
}
