// Message parsing side by side: every sample-corpus message, repeated to at
// least 50 MB, parsed into header fields and a table of leaf parts by this
// library and by GMime (g_mime_parser_construct_message and a walk of its
// parts); then the same plus decoding every leaf part's content. Python's
// email package runs the same workload in bench/parse_peers.py.
//
// A second section parses synthetic messages of 1, 10 and 100 MB and the
// hostile shapes (50,000 parts, one 10 MB header line, 1,000,000 header
// lines, 100,000 nested multiparts) with this library, printing the time per
// MB, so that linear scaling shows at a glance.
//
//   peer=<name> task=<task> mb_per_s=<x> msgs_per_s=<y> [ms_per_mb=<z>]
//
// An optional argument runs only the measurements whose "peer task" text
// contains it (bench_parse "orvane parse", bench_parse scale).

// GMime (through GLib) uses "signals" as a name, which Qt defines as a
// keyword macro: include it first.
#include <gmime/gmime.h>

#include <messageclass.h>
#include <mimecodec.h>

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr qint64 TargetBytes = 50 * 1000 * 1000;
constexpr int Rounds = 3;

std::vector<QByteArray> loadCorpus()
{
    std::vector<QByteArray> files;
    QDirIterator it(QStringLiteral(ORVANE_CORPUS_DIR), { QStringLiteral("*.eml") }, QDir::Files,
                    QDirIterator::Subdirectories);
    QStringList paths;
    while (it.hasNext())
        paths << it.next();
    paths.sort();
    for (const QString& p : paths) {
        QFile f(p);
        if (f.open(QIODevice::ReadOnly))
            files.push_back(f.readAll());
    }
    return files;
}

volatile size_t sink;
QByteArray filter;

bool wanted(const char* peer, const char* task)
{
    return filter.isEmpty() || (QByteArray(peer) + ' ' + task).contains(filter);
}

// Best of a few rounds, in seconds.
double timeIt(const std::function<void()>& work)
{
    double best = 1e30;
    for (int r = 0; r < Rounds; ++r) {
        QElapsedTimer t;
        t.start();
        work();
        best = std::min(best, double(t.nsecsElapsed()) / 1e9);
    }
    return best;
}

void report(const char* peer, const char* task, qint64 bytes, qint64 msgs, const std::function<void()>& work)
{
    if (!wanted(peer, task))
        return;
    const double seconds = timeIt(work);
    std::printf("peer=%s task=%s mb_per_s=%.1f msgs_per_s=%.0f\n", peer, task,
                double(bytes) / 1e6 / seconds, double(msgs) / seconds);
    std::fflush(stdout);
}


// ------------------------------------------------------------------ ours

void orvaneParse(const QByteArray& raw, bool decode)
{
    const QCString text(raw);
    const MessageClass m(text);
    size_t n = size_t(m.Subject.size() + m.From.email.size() + m.To.count() + m.Date.day);
    for (const auto& p : m.partList) {
        n += size_t(p->mimetype.size() + p->name.size() + p->length);
        if (decode) {
            const QByteArray body = QByteArray::fromRawData(raw.constData() + p->offset, p->length);
            n += size_t(MIMECodec::decode(body, p->encoding.constData()).size());
        }
    }
    sink = sink + n;
}

// ------------------------------------------------------------------ GMime

struct WalkState {
    bool decode;
    size_t n;
    GMimeStream* null;
};

void gmimeVisit(GMimeObject*, GMimeObject* part, gpointer data)
{
    auto* st = static_cast<WalkState*>(data);
    if (GMIME_IS_MESSAGE_PART(part)) {
        st->n += 1;
        return;
    }
    if (!GMIME_IS_PART(part))
        return;
    GMimePart* leaf = GMIME_PART(part);
    GMimeContentType* ct = g_mime_object_get_content_type(part);
    const char* mt = g_mime_content_type_get_mime_type(ct) ? "x" : "";
    (void)mt;
    const char* name = g_mime_part_get_filename(leaf);
    st->n += size_t(g_mime_part_get_content_encoding(leaf)) + (name ? 1 : 0);
    if (g_mime_content_type_get_parameter(ct, "charset"))
        st->n += 1;
    if (st->decode) {
        GMimeDataWrapper* w = g_mime_part_get_content(leaf);
        if (w)
            st->n += size_t(g_mime_data_wrapper_write_to_stream(w, st->null));
    }
}

void gmimeParse(const QByteArray& raw, bool decode, GMimeStream* null)
{
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(raw.constData(), size_t(raw.size()));
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr);
    WalkState st{ decode, 0, null };
    if (msg) {
        const char* subject = g_mime_message_get_subject(msg);
        InternetAddressList* from = g_mime_message_get_from(msg);
        InternetAddressList* to = g_mime_message_get_to(msg);
        GDateTime* date = g_mime_message_get_date(msg);
        st.n += (subject ? 1 : 0) + size_t(internet_address_list_length(from))
            + size_t(internet_address_list_length(to)) + (date ? 1 : 0);
        g_mime_message_foreach(msg, gmimeVisit, &st);
        g_object_unref(msg);
    }
    g_object_unref(parser);
    g_object_unref(stream);
    sink = sink + st.n;
}

// ------------------------------------------------------------------ synthetic

QByteArray multipartOf(qint64 bytes)
{
    QByteArray line(76, 'A');
    line += "\r\n";
    QByteArray body;
    for (int i = 0; i < 800; ++i)
        body += line;  // about 62 KB per part
    QByteArray text = "From: a@example.org\r\nTo: b@example.org\r\nSubject: big\r\n"
                      "Content-Type: multipart/mixed; boundary=\"xyz\"\r\n\r\n";
    int i = 0;
    while (text.size() < bytes) {
        text += "--xyz\r\nContent-Type: application/octet-stream; name=\"f" + QByteArray::number(i++)
            + ".bin\"\r\nContent-Disposition: attachment\r\nContent-Transfer-Encoding: base64\r\n\r\n";
        text += body;
    }
    text += "--xyz--\r\n";
    return text;
}

void scale(const char* task, const QByteArray& text)
{
    if (!wanted("orvane", task))
        return;
    const double s = timeIt([&] { orvaneParse(text, false); });
    const double mb = double(text.size()) / 1e6;
    std::printf("peer=orvane task=%s mb_per_s=%.1f msgs_per_s=%.1f ms_per_mb=%.3f\n", task, mb / s, 1.0 / s,
                s * 1000.0 / mb);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        filter = argv[1];
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));
    g_mime_init();

    const std::vector<QByteArray> files = loadCorpus();
    if (files.empty()) {
        std::fprintf(stderr, "bench_parse: no corpus at %s\n", ORVANE_CORPUS_DIR);
        return 1;
    }
    std::vector<const QByteArray*> work;
    qint64 total = 0;
    while (total < TargetBytes) {
        for (const QByteArray& f : files) {
            work.push_back(&f);
            total += f.size();
        }
    }
    const qint64 msgs = qint64(work.size());
    GMimeStream* null = g_mime_stream_null_new();

    report("orvane", "parse", total, msgs, [&] {
               for (const QByteArray* m : work)
                   orvaneParse(*m, false);
           });
    report("gmime", "parse", total, msgs, [&] {
               for (const QByteArray* m : work)
                   gmimeParse(*m, false, null);
           });
    report("orvane", "parse+decode", total, msgs, [&] {
               for (const QByteArray* m : work)
                   orvaneParse(*m, true);
           });
    report("gmime", "parse+decode", total, msgs, [&] {
               for (const QByteArray* m : work)
                   gmimeParse(*m, true, null);
           });
    g_object_unref(null);

    for (int mb : { 1, 10, 100 }) {
        const qint64 bytes = qint64(mb) * 1000 * 1000;
        const QByteArray suffix = "-" + QByteArray::number(mb) + "MB";
        scale(("scale" + suffix).constData(), multipartOf(bytes));
        // Small parts, one after another (more than MaxParts at 100 MB).
        QByteArray parts = "Content-Type: multipart/mixed; boundary=p\n\n";
        for (int i = 0; parts.size() < bytes; ++i)
            parts += "--p\nContent-Type: text/plain\n\npart " + QByteArray::number(i) + "\n";
        scale(("small-parts" + suffix).constData(), parts + "--p--\n");
        // A header of short lines.
        QByteArray lines;
        lines.reserve(bytes + 16);
        while (lines.size() < bytes)
            lines += "Received: by x\n";
        scale(("header-lines" + suffix).constData(), lines + "\nbody\n");
    }
    {
        QByteArray t = "Content-Type: multipart/mixed; boundary=p\n\n";
        for (int i = 0; i < 50000; ++i)
            t += "--p\nContent-Type: text/plain\n\npart " + QByteArray::number(i) + "\n";
        t += "--p--\n";
        scale("50000-parts", t);
    }
    scale("header-one-10MB-line", "Subject: " + QByteArray(10 * 1000 * 1000, 'y') + "\n\nbody\n");
    {
        QByteArray t;
        for (int i = 0; i < 1000000; ++i)
            t += "X-Header: value\n";
        scale("header-1000000-lines", t + "\nbody\n");
    }
    {
        QByteArray head, tail;
        for (int i = 0; i < 100000; ++i) {
            const QByteArray b = "b" + QByteArray::number(i) + "x";
            head += "Content-Type: multipart/mixed; boundary=" + b + "\n\n--" + b + "\n";
            tail.prepend("\n--" + b + "--\n");
        }
        scale("nested-100000-levels", head + "\nleaf" + tail);
    }
    return 0;
}
