// libFuzzer target: quoted-printable decoding of arbitrary bytes.
//
// Invariants checked: no crash or sanitizer report; the result is never
// longer than the input up to its first NUL and holds no NUL itself; an input
// without '=' comes back unchanged; decode(…, "quoted-printable") gives the
// same text with its NUL counted.

#include <mimecodec.h>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QCString in(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype n = in.cLength();
    const QCString out = MIMECodec::decodeQuotedPrintable(in);
    if (out.size() > n || out.cLength() != out.size())
        std::abort();
    if (!in.left(n).contains('=') && out != in.left(n))
        std::abort();
    const QByteArray viaName = MIMECodec::decode(in, "quoted-printable");
    if (viaName != out.withTerminator())
        std::abort();
    return 0;
}
