// Transfer codec and MD5 throughput, this library next to its peers on the
// same input in the same run: Qt's QByteArray base64 and QCryptographicHash,
// GMime's stateful codecs, GLib's GChecksum, and memcpy of the same bytes as
// the physical limit (into a buffer allocated and touched beforehand). Python's codecs (bench/codecs_peers.py) run on the very
// same inputs, which this program writes to a shared directory.
//
// Inputs (generated deterministically from fixed seeds; the raw ones are
// 64 MiB, the encoded ones what that encodes to):
//   random.bin  random bytes                 -> base64_encode, md5
//   b64.txt     random.bin in base64, lines of 76 characters ending in LF
//                                            -> base64_decode
//   text.txt    mostly-ASCII prose with some Latin-1 letters, LF line breaks,
//               no NUL bytes                 -> qp_encode
//   qp.txt      text.txt as this library encodes it in quoted-printable
//                                            -> qp_decode
//
// Throughput: mb_per_s = input bytes of the task / 10^6 / seconds, where the
// input is what the operation consumes (the encoded text for the decoders).
// Seconds are CPU seconds of the process (user + system), so that other load
// on the machine does not distort the figures. Every codec call allocates its
// own result, as the library does; each figure is the best of ORVANE_BENCH_REPS
// repetitions (default 5).
//
// Environment: ORVANE_BENCH_MIB (input size, default 64), ORVANE_BENCH_REPS,
// ORVANE_BENCH_DATA (input directory, default $TMPDIR/orvane-bench-codecs).
// With --inputs-only the program writes the inputs and exits.

// GLib headers name a member "signals", which Qt defines as a macro: they
// come first.
#include <gmime/gmime.h>

#include "md5.h"
#include "mimecodec.h"
#include "qcstring.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

volatile std::size_t sink;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char, FreeDeleter>;

Buffer allocate(std::size_t n)
{
    return Buffer(static_cast<unsigned char*>(std::malloc(n ? n : 1)));
}

int envInt(const char* name, int def)
{
    const char* v = std::getenv(name);
    const int n = v ? std::atoi(v) : 0;
    return n > 0 ? n : def;
}

// splitmix64: small, fast and the same everywhere.
struct Rng {
    std::uint64_t s;
    std::uint64_t next()
    {
        std::uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    unsigned below(unsigned n) { return unsigned(next() % n); }
};

QByteArray randomBytes(qsizetype n)
{
    Rng r{0x0123456789abcdefULL};
    QByteArray a(n, Qt::Uninitialized);
    char* p = a.data();
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        const std::uint64_t v = r.next();
        std::memcpy(p + i, &v, 8);
    }
    for (; i < n; ++i)
        p[i] = char(r.next());
    return a;
}

// Prose in the shape of a mail body: words, punctuation, lines of at most
// 72 characters, blank lines between paragraphs, about one word in twenty
// with a Latin-1 letter, an occasional '=' or tab.
QByteArray proseText(qsizetype n)
{
    static const char* const words[] = {
        "the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was", "with",
        "be", "by", "on", "not", "he", "this", "are", "or", "his", "from", "at", "which",
        "but", "have", "an", "had", "they", "you", "were", "their", "one", "all", "we",
        "message", "invoice", "order", "delivery", "account", "please", "attached",
        "regards", "meeting", "tomorrow", "customer", "report", "price", "total",
        "pedido", "factura", "cliente", "entrega", "saludos", "gracias", "mañana",
        "según", "envío", "información", "también", "después", "año", "dirección",
        "número", "café", "über", "größe", "état", "déjà", "x=1", "a\tb",
    };
    const int nwords = int(sizeof(words) / sizeof(words[0]));
    Rng r{0xfeedfacecafebeefULL};
    QByteArray out;
    out.reserve(n + 128);
    int col = 0;
    bool sentenceStart = true;
    while (out.size() < n) {
        // Mostly the plain English words, sometimes the rest.
        const int w = r.below(4) ? int(r.below(36)) : int(r.below(unsigned(nwords)));
        QByteArray word = QString::fromUtf8(words[w]).toLatin1();
        if (sentenceStart) {
            word[0] = char(std::toupper(static_cast<unsigned char>(word[0])));
            sentenceStart = false;
        }
        const unsigned p = r.below(20);
        if (p == 0) {
            word += '.';
            sentenceStart = true;
        } else if (p == 1) {
            word += ',';
        }
        if (col + 1 + word.size() > 72) {
            out += '\n';
            col = 0;
            if (sentenceStart && r.below(4) == 0)
                out += '\n';
        } else if (col > 0) {
            out += ' ';
            ++col;
        }
        out += word;
        col += int(word.size());
    }
    out.truncate(n);
    return out;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// CPU time of the process (user and system, so page faults count), which
// other load on a shared machine does not inflate the way it does wall time.
double cpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

template <class F>
double bestSeconds(int reps, F f)
{
    double best = 1e30;
    for (int i = 0; i < reps; ++i) {
        const double t0 = cpuSeconds();
        sink = sink + f();
        const double d = cpuSeconds() - t0;
        if (d < best)
            best = d;
    }
    return best;
}

int reps;

template <class F>
void run(const char* peer, const char* task, qsizetype inputBytes, F f)
{
    const double s = bestSeconds(reps, f);
    std::printf("peer=%s task=%s mb_per_s=%.1f\n", peer, task, double(inputBytes) / 1e6 / s);
    std::fflush(stdout);
}

void check(bool ok, const char* what)
{
    if (!ok)
        std::fprintf(stderr, "bench_codecs: %s: results differ\n", what);
}

// The limit: a copy of the input into a buffer allocated and touched before
// the clock starts, so that only memory bandwidth is measured.
struct Copier {
    Buffer dest;
    std::size_t size;
    explicit Copier(std::size_t n) : dest(allocate(n)), size(n) { std::memset(dest.get(), 0, n); }
    std::size_t operator()(const QByteArray& in) const
    {
        std::memcpy(dest.get(), in.constData(), std::min(size, std::size_t(in.size())));
        return dest.get()[size / 2];
    }
};

// GMime's one-shot calls. Each allocates its output like the others do and
// returns the output length; \a keep receives a copy for the checks only.
std::size_t keepOut(const Buffer& out, std::size_t n, QByteArray* keep)
{
    if (keep)
        *keep = QByteArray(reinterpret_cast<const char*>(out.get()), qsizetype(n));
    return n;
}

const unsigned char* ubytes(const QByteArray& a)
{
    return reinterpret_cast<const unsigned char*>(a.constData());
}

std::size_t gmimeB64Encode(const QByteArray& in, QByteArray* keep = nullptr)
{
    Buffer out = allocate(GMIME_BASE64_ENCODE_LEN(std::size_t(in.size())));
    int state = 0;
    guint32 save = 0;
    const std::size_t n = g_mime_encoding_base64_encode_close(ubytes(in), std::size_t(in.size()),
                                                              out.get(), &state, &save);
    return keepOut(out, n, keep);
}

std::size_t gmimeB64Decode(const QByteArray& in, QByteArray* keep = nullptr)
{
    Buffer out = allocate(std::size_t(in.size()) / 4 * 3 + 3);
    int state = 0;
    guint32 save = 0;
    const std::size_t n = g_mime_encoding_base64_decode_step(ubytes(in), std::size_t(in.size()),
                                                             out.get(), &state, &save);
    return keepOut(out, n, keep);
}

std::size_t gmimeQpEncode(const QByteArray& in, QByteArray* keep = nullptr)
{
    Buffer out = allocate(GMIME_QP_ENCODE_LEN(std::size_t(in.size())));
    int state = -1;
    guint32 save = 0;
    const std::size_t n = g_mime_encoding_quoted_encode_close(ubytes(in), std::size_t(in.size()),
                                                              out.get(), &state, &save);
    return keepOut(out, n, keep);
}

std::size_t gmimeQpDecode(const QByteArray& in, QByteArray* keep = nullptr)
{
    Buffer out = allocate(std::size_t(in.size()));
    int state = 0;
    guint32 save = 0;
    const std::size_t n = g_mime_encoding_quoted_decode_step(ubytes(in), std::size_t(in.size()),
                                                             out.get(), &state, &save);
    return keepOut(out, n, keep);
}

QByteArray orvaneMd5(const QByteArray& in)
{
    md5_state_t st;
    md5_byte_t digest[16];
    md5_init(&st);
    md5_append(&st, reinterpret_cast<const md5_byte_t*>(in.constData()), int(in.size()));
    md5_finish(&st, digest);
    return QByteArray(reinterpret_cast<const char*>(digest), 16);
}

QByteArray glibMd5(const QByteArray& in)
{
    GChecksum* c = g_checksum_new(G_CHECKSUM_MD5);
    g_checksum_update(c, reinterpret_cast<const guchar*>(in.constData()), in.size());
    guint8 digest[16];
    gsize len = sizeof digest;
    g_checksum_get_digest(c, digest, &len);
    g_checksum_free(c);
    return QByteArray(reinterpret_cast<const char*>(digest), 16);
}

} // namespace

int main(int argc, char** argv)
{
    const bool inputsOnly = argc > 1 && std::strcmp(argv[1], "--inputs-only") == 0;
    reps = envInt("ORVANE_BENCH_REPS", 5);
    const qsizetype size = qsizetype(envInt("ORVANE_BENCH_MIB", 64)) << 20;
    QString dir = QString::fromLocal8Bit(qgetenv("ORVANE_BENCH_DATA"));
    if (dir.isEmpty())
        dir = QDir::tempPath() + QStringLiteral("/orvane-bench-codecs");

    const QByteArray random = randomBytes(size);
    const QByteArray b64 = random.toBase64();
    QByteArray b64Lines;
    b64Lines.reserve(b64.size() + b64.size() / 76 + 1);
    for (qsizetype i = 0; i < b64.size(); i += 76) {
        b64Lines.append(b64.constData() + i, qMin<qsizetype>(76, b64.size() - i));
        b64Lines.append('\n');
    }
    const QByteArray text = proseText(size);
    const QCString textC(text);
    const QCString qp = MIMECodec::encodeQuotedPrintable(textC, false, false);

    if (!QDir().mkpath(dir) || !writeFile(dir + QStringLiteral("/random.bin"), random)
        || !writeFile(dir + QStringLiteral("/b64.txt"), b64Lines)
        || !writeFile(dir + QStringLiteral("/text.txt"), text)
        || !writeFile(dir + QStringLiteral("/qp.txt"), qp)) {
        std::fprintf(stderr, "bench_codecs: cannot write the inputs to %s\n", qPrintable(dir));
        return 1;
    }
    if (inputsOnly)
        return 0;

    g_mime_init();

    // Results agree before anything is timed.
    {
        QByteArray ours = MIMECodec::encodeBase64(random, true, true);
        ours.chop(1);  // the counted NUL
        check(ours == b64Lines, "base64 encode (orvane vs lines of Qt's)");
        QByteArray g;
        gmimeB64Encode(random, &g);
        check(g == b64Lines, "base64 encode (gmime)");
        check(MIMECodec::decodeBase64(b64Lines) == random, "base64 decode (orvane)");
        check(QByteArray::fromBase64(b64Lines) == random, "base64 decode (qt)");
        gmimeB64Decode(b64Lines, &g);
        check(g == random, "base64 decode (gmime)");
        check(MIMECodec::decodeQuotedPrintable(qp) == text, "qp decode (orvane)");
        gmimeQpDecode(qp, &g);
        check(g == text, "qp decode (gmime)");
        QByteArray g2;
        gmimeQpEncode(text, &g2);
        gmimeQpDecode(g2, &g);
        check(g == text, "qp encode (gmime)");
        check(orvaneMd5(random) == QCryptographicHash::hash(random, QCryptographicHash::Md5),
              "md5 (orvane vs qt)");
        check(glibMd5(random) == orvaneMd5(random), "md5 (glib)");
    }

    const Copier copy(std::size_t(qMax(b64Lines.size(), qp.size())));

    const char* t = "base64_encode";
    run("orvane", t, random.size(), [&] { return MIMECodec::encodeBase64(random, true, true).size(); });
    run("qt", t, random.size(), [&] { return random.toBase64().size(); });
    run("gmime", t, random.size(), [&] { return gmimeB64Encode(random); });
    run("memcpy", t, random.size(), [&] { return copy(random); });

    t = "base64_decode";
    run("orvane", t, b64Lines.size(), [&] { return MIMECodec::decodeBase64(b64Lines).size(); });
    run("qt", t, b64Lines.size(), [&] { return QByteArray::fromBase64(b64Lines).size(); });
    run("gmime", t, b64Lines.size(), [&] { return gmimeB64Decode(b64Lines); });
    run("memcpy", t, b64Lines.size(), [&] { return copy(b64Lines); });

    t = "qp_encode";
    run("orvane", t, text.size(), [&] { return MIMECodec::encodeQuotedPrintable(textC, false, false).size(); });
    run("gmime", t, text.size(), [&] { return gmimeQpEncode(text); });
    run("memcpy", t, text.size(), [&] { return copy(text); });

    t = "qp_decode";
    run("orvane", t, qp.size(), [&] { return MIMECodec::decodeQuotedPrintable(qp).size(); });
    run("gmime", t, qp.size(), [&] { return gmimeQpDecode(qp); });
    run("memcpy", t, qp.size(), [&] { return copy(qp); });

    t = "md5";
    run("orvane", t, random.size(), [&] { return std::size_t(orvaneMd5(random)[0]); });
    run("qt", t, random.size(),
        [&] { return std::size_t(QCryptographicHash::hash(random, QCryptographicHash::Md5)[0]); });
    run("glib", t, random.size(), [&] { return std::size_t(glibMd5(random)[0]); });
    run("memcpy", t, random.size(), [&] { return copy(random); });
    return 0;
}
