// Composition and threading in a local folder:
//   compose      N two-part messages (a short UTF-8 text and a 100 KB binary
//                attachment) composed in the store: createMessage(), the
//                descriptor saved, two parts created, setPartData for each
//                (every call writes the message anew), as a host does. Peer:
//                bench/compose_peers.py (Python's email package building and
//                serialising the same messages to a file, run by bench/run).
//   thread       a folder of M messages forming reply chains (Message-ID,
//                In-Reply-To, References; some replies known only by their
//                References, some answering messages that are not there),
//                imported with createMessage(sync = true), then every entry
//                linked: reparentIndex, and reparentByRelated when that
//                found no parent. Run at M/10 and M: the rate per message
//                must not fall as the folder grows.
// N comes from ORVANE_BENCH_COMPOSE_MESSAGES (default 10000), M from
// ORVANE_BENCH_THREAD_MESSAGES (default 100000). Folders live in a temporary
// directory (ORVANE_BENCH_DIR, else TMPDIR, else /tmp), removed at the end.
#include <indexclass.h>
#include <localmailfolder.h>
#include <messagedevice.h>
#include <mimepart.h>
#include <qcstring.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

double cpuNow()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Timer {
    QElapsedTimer wall;
    double cpu0 = 0;
    void start()
    {
        wall.start();
        cpu0 = cpuNow();
    }
    double seconds() const { return std::max<qint64>(wall.nsecsElapsed(), 1) / 1e9; }
    double cpu() const { return cpuNow() - cpu0; }
};

void line(const char* peer, const char* task, double bytes, double msgs, const Timer& t,
          const QByteArray& extra = QByteArray())
{
    const double secs = t.seconds();
    std::printf("peer=%s task=%s", peer, task);
    if (bytes > 0)
        std::printf(" mb_per_s=%.1f", bytes / 1e6 / secs);
    std::printf(" msgs_per_s=%.0f seconds=%.3f cpu_s=%.3f%s%s\n", msgs / secs, secs, t.cpu(),
                extra.isEmpty() ? "" : " ", extra.constData());
    std::fflush(stdout);
}

int envInt(const char* name, int def, int min)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok ? std::max(v, min) : def;
}

QString workBase()
{
    QString base = qEnvironmentVariable("ORVANE_BENCH_DIR");
    if (base.isEmpty())
        base = qEnvironmentVariable("TMPDIR", QStringLiteral("/tmp"));
    return base;
}

// ---------------------------------------------------------------- compose

// The same content as compose_peers.py builds (see there).
QByteArray composeText(int i)
{
    QByteArray t = "Hola equipo,\n\nadjunto el informe número " + QByteArray::number(i)
        + " con las cifras del trimestre. Según lo acordado, la revisión será el jueves.\n\n";
    while (t.size() < 1000)
        t += "Línea de relleno con acentos: áéíóú ñ — fin.\n";
    return t + "Un saludo,\nLuis\n";
}

QByteArray attachment(int size)
{
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator rng(42);
    rng.fillRange(reinterpret_cast<quint32*>(b.data()), size / 4);
    return b;
}

void benchCompose(int n)
{
    QTemporaryDir dir(workBase() + QStringLiteral("/orvane-bench-compose-XXXXXX"));
    const QByteArray blob = attachment(100 * 1024);
    QByteArray blobN = blob;
    qint64 bytes = 0;
    Timer t;
    {
        LocalMailFolder folder(dir.filePath(QStringLiteral("outbox")));
        QDir().mkpath(folder.getStorageDevice());
        t.start();
        for (int i = 0; i < n; ++i) {
            const QString id = folder.createMessage();
            MessageDevice dev(folder.indexIDict()->find(id));
            dev.loadDescriptor(false);
            MessageDescriptor& d = dev.getDescriptor();
            d.from = QStringLiteral("Luis García <luis@example.com>");
            d.to = QStringList{QStringLiteral("Ana <ana@example.org>"), QStringLiteral("equipo@example.org"),
                               QStringLiteral("Jörg Müller <jm@example.de>")};
            d.subject = QStringLiteral("Informe %1 — cifras del trimestre").arg(i);
            dev.saveDescriptor();
            MimePart* text = dev[dev.createPart()];
            text->type = "text";
            text->mimetype = "text/plain";
            text->encoding = "quoted-printable";
            text->charset = "utf-8";
            MimePart* att = dev[dev.createPart()];
            att->type = "attachment";
            att->mimetype = "application/pdf";
            att->encoding = "base64";
            att->name = "informe-" + QByteArray::number(i) + ".pdf";
            const QByteArray body = composeText(i);
            // Every message's attachment differs from the others in its first bytes.
            std::memcpy(blobN.data(), &i, sizeof i);
            if (!dev.setPartData(0, body) || !dev.setPartData(1, blobN)) {
                std::fprintf(stderr, "bench_compose: composition failed\n");
                std::exit(1);
            }
            bytes += body.size() + blobN.size();
        }
    }  // the folder syncs and closes inside the measured time
    const QByteArray size = "messages_file_mb="
        + QByteArray::number(QFileInfo(dir.filePath(QStringLiteral("outbox/messages"))).size() / 1e6, 'f', 0);
    line("orvane", "compose_100k_attachment", double(bytes), n, t, size);
}

// ---------------------------------------------------------------- thread

struct Generated {
    std::vector<QCString> texts;
    int replies = 0;        // messages that answer a message of the folder
    int referenceOnly = 0;  // of those, known only by their References
    int orphans = 0;        // answers to messages that are not in the folder
};

// Reply chains as a mailing list produces them: about 60 threads open at a
// time, 1 to 40 messages each; a reply answers the newest message of its
// thread or, less often, an earlier one; References carry the last ten
// ancestors.
Generated generate(int m, quint32 seed)
{
    QRandomGenerator rng(seed);
    struct Thread {
        int id;
        int target;
        std::vector<int> msgs;                // indices into ids
    };
    std::vector<QByteArray> ids;
    std::vector<std::vector<int>> ancestors;  // per message, root first
    std::vector<Thread> open;
    Generated g;
    g.texts.reserve(size_t(m));
    int threads = 0;
    const QDateTime base = QDateTime::fromSecsSinceEpoch(1700000000);
    for (int k = 0; k < m; ++k) {
        const QByteArray mid = "m" + QByteArray::number(k) + "." + QByteArray::number(seed) + "@bench.example";
        QByteArray head = "From: User " + QByteArray::number(k % 997) + " <user" + QByteArray::number(k % 997)
            + "@example.org>\nTo: list@example.org\nDate: "
            + base.addSecs(k * 37).toString(Qt::RFC2822Date).toLatin1() + "\nMessage-ID: <" + mid + ">\n";
        std::vector<int> chain;
        const bool startThread = open.size() < 60 || rng.bounded(10) == 0;
        if (startThread) {
            Thread th{threads++, 1 + int(rng.bounded(40)), {}};
            head += "Subject: Topic " + QByteArray::number(th.id) + "\n";
            th.msgs.push_back(k);
            if (th.target > 1)
                open.push_back(th);
        } else {
            const size_t at = rng.bounded(quint32(open.size()));
            Thread& th = open[at];
            const int parent = rng.bounded(10) < 7 ? th.msgs.back() : th.msgs[rng.bounded(quint32(th.msgs.size()))];
            chain = ancestors[size_t(parent)];
            chain.push_back(parent);
            head += "Subject: Re: Topic " + QByteArray::number(th.id) + "\n";
            const int kind = int(rng.bounded(100));
            QByteArray parentID = ids[size_t(parent)];
            if (kind < 2) {
                parentID = "gone" + QByteArray::number(k) + "@elsewhere.example";
                ++g.orphans;
            } else {
                ++g.replies;
            }
            QByteArray refs;
            const size_t from = chain.size() > 10 ? chain.size() - 10 : 0;
            for (size_t i = from; i < chain.size(); ++i)
                refs += (refs.isEmpty() ? "<" : " <") + ids[size_t(chain[i])] + ">";
            if (kind >= 2 && kind < 7) {
                // A reader that writes only References.
                ++g.referenceOnly;
                head += "References: " + refs + "\n";
            } else {
                head += "In-Reply-To: <" + parentID + ">\nReferences: " + refs + "\n";
            }
            th.msgs.push_back(k);
            if (int(th.msgs.size()) >= th.target)
                open.erase(open.begin() + qsizetype(at));
        }
        ids.push_back(mid);
        ancestors.push_back(chain);
        g.texts.emplace_back(head + "\nMessage body " + QByteArray::number(k) + ".\n");
    }
    return g;
}

struct PerMessage {
    double wall = 0, cpu = 0;
};

PerMessage benchThread(int m)
{
    QTemporaryDir dir(workBase() + QStringLiteral("/orvane-bench-thread-XXXXXX"));
    const Generated g = generate(m, quint32(m));
    const QString path = dir.filePath(QStringLiteral("list"));
    QDir().mkpath(path);
    LocalMailFolder folder(path);
    Timer t;
    t.start();
    const QDateTime now = QDateTime::currentDateTime();
    qint64 bytes = 0;
    // A message stored without a uid gets its index ID as message ID, so
    // every message carries one (as a mail account's would).
    int k = 0;
    for (const QCString& text : g.texts) {
        folder.createMessage(text, QCString("uid" + QByteArray::number(++k)), now, QString(), nullptr, true, 0);
        bytes += text.size();
    }
    folder.sync();
    const QByteArray label = QByteArray::number(m);
    line("orvane", QByteArray("import_reply_chains_" + label).constData(), double(bytes), m, t);

    t.start();
    int linked = 0;
    IndexCollection* entries = folder.indexIDict();
    for (IndexClass* e : entries->entries()) {
        folder.reparentIndex(e);
        if (e->getParentID().isEmpty())
            folder.reparentByRelated(e);
        if (!e->getParentID().isEmpty())
            ++linked;
    }
    // Orphans that carry References are linked to an ancestor that is there.
    const QByteArray check = "linked=" + QByteArray::number(linked) + " replies_expected="
        + QByteArray::number(g.replies) + "+" + QByteArray::number(g.orphans) + "_orphans";
    line("orvane", QByteArray("thread_" + label).constData(), 0, m, t, check);
    if (linked != g.replies + g.orphans)
        std::fprintf(stderr, "bench_compose: %d messages linked, %d expected\n", linked, g.replies + g.orphans);
    return {t.seconds() / m, t.cpu() / m};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));
    // The footer file comes from settings: use a scratch settings directory
    // so the built-in footer is appended, as for any user without one.
    QTemporaryDir settings(workBase() + QStringLiteral("/orvane-bench-settings-XXXXXX"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());

    const int n = envInt("ORVANE_BENCH_COMPOSE_MESSAGES", 10000, 10);
    const int m = envInt("ORVANE_BENCH_THREAD_MESSAGES", 100000, 100);
    benchCompose(n);
    const PerMessage small = benchThread(m / 10);
    const PerMessage large = benchThread(m);
    // Time per message at M over time per message at M/10: 1 is linear.
    std::printf("peer=orvane task=thread_growth_%dx_messages per_msg_time_ratio_wall=%.2f per_msg_time_ratio_cpu=%.2f\n",
                10, large.wall / small.wall, large.cpu / std::max(small.cpu, 1e-9));
    return 0;
}
