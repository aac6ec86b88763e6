// libFuzzer target: RFC 2047 decoding of a raw header value.
//
// Invariants checked: no crash or sanitizer report, the result of a text
// without "=?" is that text read as Latin-1, and the result stays within a
// small multiple of the input (nothing is read past a word's end).

#include <charsets.h>
#include <mimecodec.h>

#include <QLoggingCategory>

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
    if (!raw.left(n).contains("=?") && text != QString::fromLatin1(raw.constData(), n))
        std::abort();
    // Most charsets give at most one UTF-16 unit per byte; TSCII gives up to
    // four for one byte (Tamil ligatures).
    if (text.size() > 4 * n)
        std::abort();
    CharSets::isRFC822(raw);
    return 0;
}
