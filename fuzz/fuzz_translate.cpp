// libFuzzer target: RFC 2047 decoding of a raw header value.
//
// Invariants checked: no crash or sanitizer report, the result of a text
// without "=?" is that text read as UTF-8 when it is well-formed UTF-8 and
// as Latin-1 otherwise, the result stays within a small multiple of the
// input (nothing is read past a word's end), and the input's bytes sent as
// two adjacent UTF-8 B words, split anywhere, decode as they do in one word.

#include <charsets.h>
#include <mimecodec.h>

#include <QLoggingCategory>
#include <QStringDecoder>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Unknown charsets write one diagnostic per word.
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QCString raw(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = MIMECodec::translate(raw);
    const qsizetype n = raw.cLength();
    if (n == 0 && !text.isNull())
        std::abort();
    if (!raw.left(n).contains("=?")) {
        QStringDecoder dec(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString utf8 = dec.decode(QByteArrayView(raw.constData(), n));
        if (text != (dec.hasError() ? QString::fromLatin1(raw.constData(), n) : utf8))
            std::abort();
    }
    // Most charsets give at most one UTF-16 unit per byte; TSCII gives up to
    // four for one byte (Tamil ligatures).
    if (text.size() > 4 * n)
        std::abort();
    CharSets::isRFC822(raw);

    // A character split between two words in one charset survives.
    if (n > 1) {
        const QByteArray bytes(raw.constData(), n);
        const qsizetype cut = qsizetype(data[0]) % n;
        auto word = [](const QByteArray& b) {
            const QByteArray e = MIMECodec::encodeBase64(b, false, false);
            return "=?utf-8?B?" + e.left(e.size() - 1) + "?=";
        };
        const QString whole = MIMECodec::translate(QCString(word(bytes)));
        const QString split = MIMECodec::translate(QCString(word(bytes.left(cut)) + "\r\n " + word(bytes.mid(cut))));
        if (cut > 0 && !bytes.contains('\0') && whole != split)
            std::abort();
    }
    return 0;
}
