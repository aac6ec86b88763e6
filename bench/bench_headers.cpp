// Header values side by side: decoding Subject values, parsing From and To
// address lists and parsing Date values of every sample-corpus message,
// repeated to a few hundred thousand values, with this library and GMime.
// (bench/headers_peers.py does the same with Python's email package.)
//
//   peer=<name> task=<task> mb_per_s=<x> msgs_per_s=<y>
// For the tasks subject, from, to and date, msgs_per_s counts header values;
// for the task headers (all four values of a message) it counts messages.

// GLib's headers name a member "signals", which Qt defines as a keyword:
// include GMime before any Qt header.
#include <gmime/gmime.h>

#include <addressclass.h>
#include <addresslistclass.h>
#include <dateclass.h>
#include <mimecodec.h>

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr size_t TargetValues = 300000;

struct Message {
    QCString subject, from, to, date;  // null when the header is absent
};

// The top-level header of a message file: fields up to the first empty
// line, continuation lines joined (line break removed, white space kept).
Message readMessage(const QByteArray& text)
{
    Message m;
    QCString* cur = nullptr;
    bool first = true;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (first && line.startsWith("From ")) {
            first = false;
            continue;
        }
        first = false;
        if (line.isEmpty())
            break;
        if (line[0] == ' ' || line[0] == '\t') {
            if (cur)
                cur->append(line);
            continue;
        }
        cur = nullptr;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).toLower();
        QCString* target = name == "subject" ? &m.subject
                           : name == "from"  ? &m.from
                           : name == "to"    ? &m.to
                           : name == "date"  ? &m.date
                                             : nullptr;
        if (target && target->isNull()) {
            *target = QCString(line.mid(colon + 1));
            cur = target;
        }
    }
    for (QCString* f : {&m.subject, &m.from, &m.to, &m.date})
        if (!f->isNull())
            *f = QCString(f->trimmed());
    return m;
}

std::vector<Message> loadCorpus()
{
    std::vector<Message> out;
    QDirIterator it(QStringLiteral(ORVANE_CORPUS_DIR), QDir::Files, QDirIterator::Subdirectories);
    QStringList paths;
    while (it.hasNext())
        paths << it.next();
    paths.sort();
    for (const QString& p : paths) {
        if (p.endsWith(QLatin1String(".md")) || p.endsWith(QLatin1String(".tsv")))
            continue;
        QFile f(p);
        if (f.open(QIODevice::ReadOnly))
            out.push_back(readMessage(f.readAll()));
    }
    return out;
}

struct Task {
    const char* name;
    std::vector<std::string> values;  // NUL-terminated copies for GMime
    std::vector<QCString> qvalues;
    size_t bytes = 0;
};

volatile size_t sink;

void report(const char* peer, const char* task, size_t bytes, size_t count, qint64 ns)
{
    const double s = double(ns) / 1e9;
    std::printf("peer=%s task=%s mb_per_s=%.2f msgs_per_s=%.0f\n", peer, task, double(bytes) / 1e6 / s,
                double(count) / s);
    std::fflush(stdout);
}

template<typename F>
qint64 timeIt(F f)
{
    QElapsedTimer t;
    t.start();
    f();
    return t.nsecsElapsed();
}

} // namespace

int main()
{
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));
    g_mime_init();

    const std::vector<Message> messages = loadCorpus();
    if (messages.empty()) {
        std::fprintf(stderr, "bench_headers: no corpus at %s\n", ORVANE_CORPUS_DIR);
        return 1;
    }
    Task tasks[4] = {{"subject", {}, {}}, {"from", {}, {}}, {"to", {}, {}}, {"date", {}, {}}};
    size_t perRound = 0;
    for (const Message& m : messages)
        for (const QCString* v : {&m.subject, &m.from, &m.to, &m.date})
            perRound += v->isNull() ? 0 : 1;
    const size_t rounds = TargetValues / perRound + 1;
    for (size_t r = 0; r < rounds; ++r) {
        for (const Message& m : messages) {
            const QCString* v[4] = {&m.subject, &m.from, &m.to, &m.date};
            for (int k = 0; k < 4; ++k) {
                if (v[k]->isNull())
                    continue;
                tasks[k].qvalues.push_back(*v[k]);
                tasks[k].values.emplace_back(v[k]->constData(), size_t(v[k]->size()));
                tasks[k].bytes += size_t(v[k]->size());
            }
        }
    }
    const size_t totalMessages = rounds * messages.size();
    size_t totalBytes = 0;
    for (const Task& t : tasks)
        totalBytes += t.bytes;

    // ---- this library
    qint64 ours[4];
    ours[0] = timeIt([&] {
        size_t n = 0;
        for (const QCString& v : tasks[0].qvalues)
            n += size_t(MIMECodec::translate(v).size());
        sink = n;
    });
    ours[1] = timeIt([&] {
        size_t n = 0;
        for (const QCString& v : tasks[1].qvalues)
            n += size_t(AddressListClass(v).count());
        sink = n;
    });
    ours[2] = timeIt([&] {
        size_t n = 0;
        for (const QCString& v : tasks[2].qvalues)
            n += size_t(AddressListClass(v).count());
        sink = n;
    });
    ours[3] = timeIt([&] {
        size_t n = 0;
        for (const QCString& v : tasks[3].qvalues)
            n += size_t(DateClass(v).day);
        sink = n;
    });
    for (int k = 0; k < 4; ++k)
        report("orvane", tasks[k].name, tasks[k].bytes, tasks[k].values.size(), ours[k]);
    report("orvane", "headers", totalBytes, totalMessages, ours[0] + ours[1] + ours[2] + ours[3]);

    // ---- GMime
    qint64 gm[4];
    gm[0] = timeIt([&] {
        size_t n = 0;
        for (const std::string& v : tasks[0].values) {
            char* s = g_mime_utils_header_decode_text(nullptr, v.c_str());
            n += s ? std::strlen(s) : 0;
            g_free(s);
        }
        sink = n;
    });
    for (int k = 1; k <= 2; ++k) {
        gm[k] = timeIt([&] {
            size_t n = 0;
            for (const std::string& v : tasks[k].values) {
                InternetAddressList* l = internet_address_list_parse(nullptr, v.c_str());
                if (l) {
                    n += size_t(internet_address_list_length(l));
                    g_object_unref(l);
                }
            }
            sink = n;
        });
    }
    gm[3] = timeIt([&] {
        size_t n = 0;
        for (const std::string& v : tasks[3].values) {
            GDateTime* d = g_mime_utils_header_decode_date(v.c_str());
            if (d) {
                n += size_t(g_date_time_get_day_of_month(d));
                g_date_time_unref(d);
            }
        }
        sink = n;
    });
    for (int k = 0; k < 4; ++k)
        report("gmime", tasks[k].name, tasks[k].bytes, tasks[k].values.size(), gm[k]);
    report("gmime", "headers", totalBytes, totalMessages, gm[0] + gm[1] + gm[2] + gm[3]);
    return 0;
}
