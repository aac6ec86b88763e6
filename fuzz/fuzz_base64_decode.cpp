// libFuzzer target: base64 decoding of arbitrary bytes.
//
// Invariants checked: no crash or sanitizer report; inputs of three bytes or
// fewer decode to nothing; the result never exceeds three bytes per four
// input bytes (rounded up); decode(…, "base64") gives the same bytes; and a
// clean input (alphabet characters only, no '=', a multiple of four long)
// re-encodes to exactly itself.

#include <mimecodec.h>

#include <cstdint>
#include <cstdlib>

namespace {

bool cleanBase64(const QByteArray& a)
{
    if (a.isEmpty() || a.size() % 4)
        return false;
    for (const char ch : a) {
        const bool alpha = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z')
            || (ch >= '0' && ch <= '9') || ch == '+' || ch == '/';
        if (!alpha)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray in(reinterpret_cast<const char*>(data), qsizetype(size));
    const QByteArray out = MIMECodec::decodeBase64(in);
    if (in.size() <= 3 && !out.isEmpty())
        std::abort();
    if (out.size() > (in.size() + 3) / 4 * 3)
        std::abort();
    if (MIMECodec::decode(in, "base64") != out)
        std::abort();
    if (cleanBase64(in)) {
        QByteArray again = MIMECodec::encodeBase64(out, false, false);
        again.chop(1);  // the NUL counted in the size
        if (again != in)
            std::abort();
    }
    return 0;
}
