// encode, decode and md5: the transfer codecs and the digest on files.

#include "command.h"

#include <md5.h>
#include <mimecodec.h>

#include <QFile>

namespace {

constexpr size_t ReadChunk = 1 << 20;

enum class Codec { Copy, Base64, QuotedPrintable, QuotedPrintableCompat };

bool codecFor(const QString& name, bool encoding, Codec* out)
{
    const QString n = name.toLower();
    if (n == QLatin1String("7bit") || n == QLatin1String("8bit") || n == QLatin1String("none")
        || n == QLatin1String("binary"))
        *out = Codec::Copy;
    else if (n == QLatin1String("base64"))
        *out = Codec::Base64;
    else if (n == QLatin1String("quoted-printable"))
        *out = Codec::QuotedPrintable;
    else if (encoding && n == QLatin1String("quoted-printable-compat"))
        *out = Codec::QuotedPrintableCompat;
    else
        return false;
    return true;
}

// Reads the input in chunks; feed(data, atEnd) gets everything not yet
// consumed and returns how many leading bytes it consumed. When it consumes
// nothing (no safe place to cut yet, e.g. a long run of bytes outside the
// alphabet or a line without a line feed), it is asked again only once the
// pending data has doubled, so rescanning stays linear in the input size.
template<typename Feed>
bool pump(std::FILE* f, Feed feed)
{
    QByteArray pending;
    QByteArray buf(qsizetype(ReadChunk), Qt::Uninitialized);
    qsizetype retryAt = 0;
    for (;;) {
        const size_t got = std::fread(buf.data(), 1, ReadChunk, f);
        if (got == 0)
            break;
        pending.append(buf.constData(), qsizetype(got));
        if (pending.size() < retryAt)
            continue;
        const qsizetype used = feed(pending, false);
        if (!used) {
            retryAt = 2 * pending.size();
            continue;
        }
        retryAt = 0;
        pending.remove(0, used);
    }
    if (std::ferror(f))
        return false;
    feed(pending, true);
    return true;
}

// Where base64 input may be cut so that decoding the part before the cut
// and the rest separately gives the same bytes as decoding it whole: at the
// start of a quantum (four alphabet bytes; the decoder skips every other
// byte, even inside a quantum), keeping the last complete quantum and
// everything after it for later (so the final piece sees the real end of the
// input), and not just after a pad character (which would trim the first
// piece).
qsizetype base64Cut(const QByteArray& data)
{
    static const QByteArray alphabet("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=");
    bool valid[256] = {};
    for (char c : alphabet)
        valid[static_cast<unsigned char>(c)] = true;
    const auto* in = reinterpret_cast<const unsigned char*>(data.constData());
    const qsizetype n = data.size();
    qsizetype prevStart = -1, lastStart = -1, start = -1;
    int count = 0;  // alphabet bytes of the current quantum
    for (qsizetype i = 0; i < n; ++i) {
        if (!valid[in[i]])
            continue;
        if (count == 0)
            start = i;
        if (++count == 4) {  // complete quantum
            prevStart = lastStart;
            lastStart = start;
            count = 0;
        }
    }
    // Cut at the start of the last complete quantum.
    qsizetype cut = lastStart;
    if (cut <= 0 || prevStart < 0)
        return 0;
    // The part before the cut must not end (in its last alphabet byte) in '='.
    qsizetype j = cut - 1;
    while (j > 0 && !valid[in[j]])
        --j;
    if (in[j] == '=')
        return 0;
    return cut;
}

int runEncodeDecode(QStringList args, bool encoding)
{
    bool missing = false;
    const QString name = tool::takeOption(args, QStringLiteral("--encoding"), &missing);
    const bool footer = encoding && tool::takeFlag(args, QStringLiteral("--footer"));
    if (missing || name.isEmpty()) {
        tool::error(QStringLiteral("--encoding NAME is required"));
        return tool::ExitUsage;
    }
    QString path;
    if (!tool::singleInput(args, &path))
        return tool::ExitUsage;
    Codec codec;
    if (!codecFor(name, encoding, &codec)) {
        tool::error(QStringLiteral("unknown encoding '%1'").arg(name));
        return tool::ExitUsage;
    }
    std::FILE* f = tool::openInput(path);
    if (!f)
        return tool::ExitFailure;

    bool writeOk = true;
    auto out = [&](const char* d, qsizetype n) { writeOk = writeOk && tool::writeOut(d, n); };
    bool ok = true;
    bool first = true;
    bool stopped = false;  // quoted-printable text ends at its first zero byte

    switch (codec) {
    case Codec::Copy:
        ok = pump(f, [&](const QByteArray& d, bool) { out(d.constData(), d.size()); return d.size(); });
        break;
    case Codec::Base64:
        if (encoding) {
            // Whole multiples of 57 bytes give whole 76-character lines.
            ok = pump(f, [&](const QByteArray& d, bool atEnd) -> qsizetype {
                const qsizetype take = atEnd ? d.size() : d.size() - d.size() % (57 * 1024);
                if (!take && !atEnd)
                    return 0;
                if (!take && !first) {
                    out("\n", 1);  // the final line feed of the whole text
                    return 0;
                }
                const QByteArray e = MIMECodec::encodeBase64(d.left(take), atEnd, true);
                if (!first)
                    out("\n", 1);
                out(e.constData(), e.size() - 1);
                first = false;
                return take;
            });
        } else {
            ok = pump(f, [&](const QByteArray& d, bool atEnd) -> qsizetype {
                const qsizetype take = atEnd ? d.size() : base64Cut(d);
                if (!take)
                    return 0;
                const QByteArray r = MIMECodec::decodeBase64(d.left(take));
                out(r.constData(), r.size());
                return take;
            });
        }
        break;
    case Codec::QuotedPrintable:
    case Codec::QuotedPrintableCompat:
        if (encoding) {
            // A soft break depends on the line position and on what follows,
            // so the text is encoded whole.
            QByteArray all;
            ok = pump(f, [&](const QByteArray& d, bool atEnd) -> qsizetype {
                if (atEnd)
                    all.append(d);
                return atEnd ? d.size() : 0;
            });
            if (ok) {
                const QCString e = MIMECodec::encodeQuotedPrintable(
                    QCString(all), codec == Codec::QuotedPrintableCompat, footer);
                out(e.constData(), e.size());
            }
        } else {
            // Escapes and soft breaks never reach past a line feed, so the
            // text can be decoded line block by line block.
            ok = pump(f, [&](const QByteArray& d, bool atEnd) -> qsizetype {
                if (stopped)
                    return d.size();
                qsizetype take = atEnd ? d.size() : d.lastIndexOf('\n') + 1;
                const qsizetype nul = d.indexOf('\0');
                if (nul >= 0 && nul < take + (atEnd ? 0 : 1)) {
                    take = nul;
                    stopped = true;
                }
                if (take > 0) {
                    const QCString r = MIMECodec::decodeQuotedPrintable(QCString(d.left(take)));
                    out(r.constData(), r.size());
                }
                return stopped ? d.size() : take;
            });
        }
        break;
    }
    if (f != stdin)
        std::fclose(f);
    if (!ok) {
        tool::error(QStringLiteral("cannot read %1").arg(path));
        return tool::ExitFailure;
    }
    if (!writeOk) {
        tool::error(QStringLiteral("cannot write the output"));
        return tool::ExitFailure;
    }
    return tool::ExitOk;
}

int runMd5(QStringList args)
{
    if (tool::rejectUnknownOptions(args))
        return tool::ExitUsage;
    if (args.isEmpty())
        args << QStringLiteral("-");
    int rc = tool::ExitOk;
    for (const QString& path : args) {
        std::FILE* f = tool::openInput(path);
        if (!f) {
            rc = tool::ExitFailure;
            continue;
        }
        md5_state_t st;
        md5_init(&st);
        QByteArray buf(qsizetype(ReadChunk), Qt::Uninitialized);
        size_t got;
        while ((got = std::fread(buf.data(), 1, ReadChunk, f)) > 0)
            md5_append(&st, reinterpret_cast<const md5_byte_t*>(buf.constData()), int(got));
        const bool failed = std::ferror(f);
        if (f != stdin)
            std::fclose(f);
        if (failed) {
            tool::error(QStringLiteral("cannot read %1").arg(path));
            rc = tool::ExitFailure;
            continue;
        }
        md5_byte_t digest[16];
        md5_finish(&st, digest);
        const QByteArray hex = QByteArray(reinterpret_cast<const char*>(digest), 16).toHex();
        tool::writeOut(hex + "  " + QFile::encodeName(path) + '\n');
    }
    return rc;
}

const tool::Command::Registrar encodeCmd({
    QStringLiteral("encode"),
    QStringLiteral("encode --encoding NAME [--footer] [FILE|-]"),
    QStringLiteral(
        "Encodes FILE (or standard input) with a Content-Transfer-Encoding and\n"
        "writes the result to standard output.\n\n"
        "  --encoding NAME  base64, quoted-printable, quoted-printable-compat,\n"
        "                   7bit, 8bit, binary or none (any case)\n"
        "  --footer         quoted-printable: append the configured footer text\n\n"
        "Quoted-printable text ends at its first zero byte; base64 takes any bytes."),
    [](const QStringList& a) { return runEncodeDecode(a, true); }});

const tool::Command::Registrar decodeCmd({
    QStringLiteral("decode"),
    QStringLiteral("decode --encoding NAME [FILE|-]"),
    QStringLiteral(
        "Decodes FILE (or standard input) from a Content-Transfer-Encoding and\n"
        "writes the bytes to standard output.\n\n"
        "  --encoding NAME  base64, quoted-printable, 7bit, 8bit, binary or none"),
    [](const QStringList& a) { return runEncodeDecode(a, false); }});

const tool::Command::Registrar md5Cmd({
    QStringLiteral("md5"),
    QStringLiteral("md5 FILE..."),
    QStringLiteral("Prints the MD5 digest of each FILE (- for standard input) like md5sum."),
    [](const QStringList& a) { return runMd5(a); }});

} // namespace
