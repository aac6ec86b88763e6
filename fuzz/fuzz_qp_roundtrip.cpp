// libFuzzer target: quoted-printable encoding and decoding back.
//
// The input is taken up to its first NUL (the codec works on C strings).
// Invariants checked, with and without the compat set: the encoded text is
// printable ASCII, SPACE and TAB, broken only by soft line breaks "=" CR LF;
// no line is longer than 76 characters (the '=' included); decoding gives the
// input back.

#include <mimecodec.h>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QCString raw(reinterpret_cast<const char*>(data), qsizetype(size));
    const QCString in = raw.upToNul();
    for (const bool compat : {false, true}) {
        const QCString enc = MIMECodec::encodeQuotedPrintable(in, compat, false);
        if (enc.cLength() != enc.size())
            std::abort();
        qsizetype col = 0;
        for (qsizetype i = 0; i < enc.size(); ++i) {
            const unsigned char ch = static_cast<unsigned char>(enc[i]);
            if (ch == '\r') {
                // Only soft breaks end lines: "=" CR LF.
                if (i == 0 || enc[i - 1] != '=' || i + 1 >= enc.size() || enc[i + 1] != '\n')
                    std::abort();
                ++i;
                col = 0;
                continue;
            }
            if (!(ch == '\t' || (ch >= 32 && ch <= 126)))
                std::abort();
            if (++col > 76)
                std::abort();
        }
        if (MIMECodec::decodeQuotedPrintable(enc) != in)
            std::abort();
    }
    return 0;
}
