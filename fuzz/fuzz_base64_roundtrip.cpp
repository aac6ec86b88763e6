// libFuzzer target: base64 encoding and decoding back.
//
// Invariants checked, for every combination of the two line flags: the
// encoded array ends in one NUL counted in its size; it holds only alphabet
// characters, '=' and LF; with line breaks every line but the last has
// exactly 76 characters (and none without); decoding the encoded text
// without its NUL gives the input back.

#include <mimecodec.h>

#include <cstdint>
#include <cstdlib>

namespace {

bool base64Char(char ch)
{
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9')
        || ch == '+' || ch == '/' || ch == '=';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray in(reinterpret_cast<const char*>(data), qsizetype(size));
    for (int flags = 0; flags < 4; ++flags) {
        const bool endNewLine = flags & 1;
        const bool endAllNewLines = flags & 2;
        QByteArray enc = MIMECodec::encodeBase64(in, endNewLine, endAllNewLines);
        if (enc.isEmpty() || enc.back() != '\0')
            std::abort();
        enc.chop(1);
        if (endNewLine) {
            if (!enc.endsWith('\n'))
                std::abort();
            enc.chop(1);
        }
        const qsizetype chars = (in.size() + 2) / 3 * 4;
        const qsizetype lfs = endAllNewLines && chars > 0 ? (chars - 1) / 76 : 0;
        if (enc.size() != chars + lfs)
            std::abort();
        qsizetype col = 0;
        for (const char ch : enc) {
            if (ch == '\n') {
                if (!endAllNewLines || col != 76)
                    std::abort();
                col = 0;
            } else if (base64Char(ch)) {
                ++col;
            } else {
                std::abort();
            }
        }
        if (endAllNewLines && col > 76)
            std::abort();
        if (endNewLine)
            enc.append('\n');
        if (MIMECodec::decodeBase64(enc) != in)
            std::abort();
    }
    return 0;
}
