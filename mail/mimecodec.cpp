#include "mimecodec.h"

#include "ktconfig.h"
#include "md5.h"
#include "storeio_p.h"

#include <QFile>
#include <QtEndian>
#include <QSettings>

#include <array>
#include <cstring>

namespace {

constexpr int LineWidth = 76;

constexpr char Base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
constexpr char HexDigits[] = "0123456789ABCDEF";

// Reverse base64 table: alphabet value, 64 for '=', -1 for every other byte.
struct Base64Reverse {
    std::array<signed char, 256> v;
    constexpr Base64Reverse() : v()
    {
        for (int i = 0; i < 256; ++i)
            v[i] = -1;
        for (int i = 0; i < 65; ++i)
            v[static_cast<unsigned char>(Base64Alphabet[i])] = static_cast<signed char>(i);
    }
};
constexpr Base64Reverse B64Rev;

// Two base64 characters for every 12-bit value, so that the encoder looks up
// a pair of characters at a time.
struct Base64Pairs {
    char v[4096][2];
    constexpr Base64Pairs() : v()
    {
        for (int i = 0; i < 4096; ++i) {
            v[i][0] = Base64Alphabet[i >> 6];
            v[i][1] = Base64Alphabet[i & 63];
        }
    }
};
constexpr Base64Pairs B64Pairs;

// Decoder tables for the fast path: the alphabet value of a byte placed at
// its position in a 24-bit quantum, or 0xFF000000 for '=' and for bytes
// outside the alphabet.
struct Base64Decode {
    std::array<std::array<quint32, 256>, 4> v;
    constexpr Base64Decode() : v()
    {
        for (int k = 0; k < 4; ++k)
            for (int c = 0; c < 256; ++c) {
                const int d = B64Rev.v[c];
                v[k][c] = d >= 0 && d < 64 ? quint32(d) << (18 - 6 * k) : 0xFF000000u;
            }
    }
};
constexpr Base64Decode B64Dec;

// Large results are written once from start to end; on Linux, ask for huge
// pages over them, which spares most of the page faults of a fresh
// allocation. Only whole 2 MiB pages inside the buffer are advised.
void adviseHugePages(char* p, qsizetype n)
{
    Orvane::StoreIO::adviseHugePages(p, n);
}

// Hex digit value for the quoted-printable decoder, -1 for a non-digit.
struct HexValue {
    std::array<signed char, 256> v;
    constexpr HexValue() : v()
    {
        for (int i = 0; i < 256; ++i)
            v[i] = -1;
        for (int i = 0; i < 10; ++i)
            v['0' + i] = static_cast<signed char>(i);
        for (int i = 0; i < 6; ++i) {
            v['A' + i] = static_cast<signed char>(10 + i);
            v['a' + i] = static_cast<signed char>(10 + i);
        }
    }
};
constexpr HexValue HexVal;

// Quoted-printable byte classes, indexed [compat][byte].
//  literal: written as itself (TAB, SPACE, 33..126 but '=', and with compat
//           not one of the special characters);
//  plain:   counts as harmless in the soft-break look-ahead (like literal,
//           but SPACE and TAB are not plain).
struct QpClasses {
    std::array<std::array<bool, 256>, 2> literal;
    std::array<std::array<bool, 256>, 2> plain;
    constexpr QpClasses() : literal(), plain()
    {
        const char special[] = "!\"#@[\\]^`{|}~";
        for (int compat = 0; compat < 2; ++compat) {
            for (int c = 0; c < 256; ++c) {
                bool p = c >= 33 && c <= 126 && c != '=';
                if (compat) {
                    for (const char* s = special; *s; ++s)
                        if (static_cast<unsigned char>(*s) == c)
                            p = false;
                }
                plain[compat][c] = p;
                literal[compat][c] = p || c == '\t' || c == ' ';
            }
        }
    }
};
constexpr QpClasses QpClass;

// The quoted-printable form of each byte, indexed [compat][byte]: the byte
// itself (length 1) or '=' and two upper-case hex digits (length 3), padded
// to four characters so that the encoder stores them in one go.
struct QpCode {
    char text[4];
    int length;
};
struct QpCodeTable {
    std::array<std::array<QpCode, 256>, 2> v;
    constexpr QpCodeTable() : v()
    {
        for (int compat = 0; compat < 2; ++compat)
            for (int c = 0; c < 256; ++c) {
                QpCode& code = v[compat][c];
                if (QpClass.literal[compat][c]) {
                    code.text[0] = static_cast<char>(c);
                    code.length = 1;
                } else {
                    code.text[0] = '=';
                    code.text[1] = HexDigits[c >> 4];
                    code.text[2] = HexDigits[c & 15];
                    code.length = 3;
                }
            }
    }
};
constexpr QpCodeTable QpCodes;

inline qsizetype cLen(const QByteArray& a) { return qstrnlen(a.constData(), a.size()); }
inline const unsigned char* bytes(const QByteArray& a)
{
    return reinterpret_cast<const unsigned char*>(a.constData());
}

// Reads the footer file path from the user's settings: first the host's own
// key, then the older product's key when the first is set but empty.
QString footerPath()
{
    const QString def = KTConfig::ktData + QLatin1String("/text_mail.txt");
    QString path;
    {
        QSettings s(QSettings::UserScope, QStringLiteral("Norvatec"), QStringLiteral("Tovik"));
        path = s.value(KTConfig::ktKeyBase + QLatin1String("/email/footerText"), def).toString();
    }
    if (path.isEmpty()) {
        QSettings s(QSettings::UserScope, QStringLiteral("Norvatec"), QStringLiteral("Marovellin"));
        path = s.value(QStringLiteral("/marovellin/lite/email/footerText"), def).toString();
    }
    return path;
}

QByteArray footerText()
{
    const QString path = footerPath();
    QFile f(path);
    if (path.isEmpty() || !f.open(QIODevice::ReadOnly))
        return MIMECodec::defaultFooter();
    const QByteArray text = QString::fromLocal8Bit(f.readAll()).toLocal8Bit();
    if (text.isEmpty())
        return QByteArray("");
    return QByteArray("\n") + text;
}

} // namespace

QCString MIMECodec::defaultFooter()
{
    static const char footer[] =
        "\n"
        "-------------\n"
        "Mensaje generado con Orvane Mail,\n"
        "el correo del ERP de Norvatec.\n"
        "\n"
        "Orvane Mail es un producto de Norvatec.\n"
        "Web: https://norvatec.es/\n"
        "\n"
        "Orvane, gestion integrada:\n"
        "https://www.orvane.es/\n"
        "\n"
        "Norvatec, software de gestion\n"
        "para su pyme.\n"
        "-------------\n";
    static_assert(sizeof(footer) - 1 == 257, "the built-in footer has 257 characters");
    return QCString(footer, sizeof(footer) - 1);
}

QCString MIMECodec::encodeEndLine(const QCString& str)
{
    const qsizetype n = str.cLength();
    const char* in = str.constData();
    qsizetype lfs = 0;
    for (const char* p = in; (p = static_cast<const char*>(std::memchr(p, '\n', in + n - p))); ++p)
        ++lfs;
    QCString out;
    out.resize(n + lfs);
    char* o = out.data();
    for (qsizetype i = 0; i < n; ++i) {
        if (in[i] == '\n')
            *o++ = '\r';
        *o++ = in[i];
    }
    return n ? out : QCString(str.isNull() ? nullptr : "");
}

QCString MIMECodec::decodeEndLine(const QCString& str)
{
    const qsizetype n = str.cLength();
    if (!n)
        return QCString(str.isNull() ? nullptr : "");
    QCString out;
    out.resize(n);
    const char* in = str.constData();
    char* o = out.data();
    for (qsizetype i = 0; i < n; ++i)
        if (in[i] != '\r')
            *o++ = in[i];
    out.truncate(o - out.constData());
    return out;
}

QCString MIMECodec::decodeQuotedPrintable(const QCString& text)
{
    const qsizetype n = text.cLength();
    if (!n)
        return QCString("");
    const unsigned char* in = bytes(text);
    QCString out;
    out.resize(n);
    adviseHugePages(out.data(), out.size());
    // The output never runs ahead of the input, so the eight-byte stores of
    // the copy loop stay inside the n bytes reserved.
    char* o = out.data();
    qsizetype i = 0;
    while (i < n) {
        // Copy up to the next '=', eight bytes at a time: each word is stored
        // whole and the output advances to the first '=' in it.
        while (i + 8 <= n) {
            const quint64 w = qFromLittleEndian<quint64>(in + i);
            std::memcpy(o, in + i, 8);
            const quint64 x = w ^ 0x3D3D3D3D3D3D3D3DULL;
            const quint64 eqs = (x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL;
            if (eqs) {
                // The lowest flag marks the first '=' exactly.
                const int k = qCountTrailingZeroBits(eqs) >> 3;
                o += k;
                i += k;
                break;
            }
            o += 8;
            i += 8;
        }
        while (i < n && in[i] != '=')
            *o++ = static_cast<char>(in[i++]);
        if (i >= n)
            break;
        // At '='. A lone '=' at the end counts as a soft break.
        if (i + 1 >= n)
            break;
        const unsigned char c1 = in[i + 1];
        if (c1 == '\n') {
            i += 2;
            continue;
        }
        if (c1 == '\r' && i + 2 < n && in[i + 2] == '\n') {
            i += 3;
            continue;
        }
        const int h = HexVal.v[c1];
        const int l = i + 2 < n ? HexVal.v[in[i + 2]] : -1;
        if (h >= 0 && l >= 0) {
            const char byte = static_cast<char>((h << 4) | l);
            if (byte)  // a decoded zero byte does not survive in a C string
                *o++ = byte;
            i += 3;
        } else {
            // Not an escape: keep the '=' as it stands (RFC 2045, 6.7).
            *o++ = '=';
            i += 1;
        }
    }
    out.truncate(o - out.constData());
    return out;
}

QCString MIMECodec::encodeQuotedPrintable(const QCString& str, bool compat, bool footer)
{
    const qsizetype len = str.cLength();
    if (!len)
        return QCString("");
    QByteArray extended;
    const unsigned char* in = bytes(str);
    qsizetype n = len;
    if (footer) {
        const QByteArray f = footerText();
        extended.reserve(len + f.size());
        extended.append(str.constData(), len);
        extended.append(f);
        n = cLen(extended);
        in = bytes(extended);
    }

    const auto& codes = QpCodes.v[compat ? 1 : 0];
    const auto& plain = QpClass.plain[compat ? 1 : 0];
    // Worst case: every byte escaped, plus a soft break per 25 escapes, and
    // one spare byte for the four-byte stores.
    QCString out;
    out.resize(n * 3 + (n / 24 + 1) * 3 + 1);
    adviseHugePages(out.data(), out.size());
    char* o = out.data();
    int lindex = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const QpCode& code = codes[in[i]];
        std::memcpy(o, code.text, 4);
        o += code.length;
        lindex += code.length;
        if (lindex >= 73) {
            bool breakNow = lindex >= 75;
            if (!breakNow) {
                // Look ahead three bytes; past the end counts as 'a'.
                for (qsizetype k = 1; k <= 3; ++k) {
                    const unsigned char a = i + k < n ? in[i + k] : 'a';
                    if (!plain[a]) {
                        breakNow = true;
                        break;
                    }
                }
            }
            if (breakNow) {
                o[0] = '=';
                o[1] = '\r';
                o[2] = '\n';
                o += 3;
                lindex = 0;
            }
        }
    }
    out.truncate(o - out.constData());
    return out;
}

QCString MIMECodec::unfold(const QCString& str)
{
    const qsizetype n = str.cLength();
    if (!n)
        return QCString(str.isNull() ? nullptr : "");
    const char* in = str.constData();
    QCString out;
    out.resize(n);
    char* o = out.data();
    qsizetype i = 0;
    while (i < n) {
        *o++ = in[i];
        if (i + 2 < n && in[i + 1] == '\n' && in[i + 2] == '\t')
            i += 3;
        else
            i += 1;
    }
    out.truncate(o - out.constData());
    return out;
}

QCString MIMECodec::fold(const QCString& str)
{
    const qsizetype n = str.cLength();
    if (!n)
        return QCString(str.isNull() ? nullptr : "");
    const char* in = str.constData();
    QCString out;
    out.resize(n + (n / LineWidth) * 2);
    char* o = out.data();
    for (qsizetype i = 0; i < n; i += LineWidth) {
        const qsizetype chunk = qMin<qsizetype>(LineWidth, n - i);
        std::memcpy(o, in + i, chunk);
        o += chunk;
        if (chunk == LineWidth) {
            *o++ = '\n';
            *o++ = '\t';
        }
    }
    return out;
}

QCString MIMECodec::canonicalForm(const QCString& str)
{
    const qsizetype n = str.cLength();
    if (!n)
        return QCString(str.isNull() ? nullptr : "");
    const char* in = str.constData();
    QCString out;
    out.resize(n + (n / 77 + 1) * 2);
    char* o = out.data();
    int col = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char c = in[i];
        *o++ = c;
        if (c == '\n') {
            col = 0;
        } else if (col == 76) {
            col = 0;
            *o++ = '\r';
            *o++ = '\n';
        } else {
            ++col;
        }
    }
    out.truncate(o - out.constData());
    return out;
}

QByteArray MIMECodec::decodeBase64(const QByteArray& buf)
{
    const qsizetype n = buf.size();
    const unsigned char* in = bytes(buf);
    const auto& rev = B64Rev.v;
    // Fewer than four alphabet bytes make no group: nothing to decode,
    // however many line breaks or stray bytes stand around them.
    int alphabet = 0;
    for (qsizetype k = 0; k < n && alphabet < 4; ++k)
        alphabet += rev[in[k]] >= 0;
    if (alphabet < 4)
        return QByteArray();
    const auto& dec = B64Dec.v;
    QByteArray out;
    // One spare byte: the fast path stores four bytes for three.
    out.resize(((n + 3) / 4) * 3 + 1);
    adviseHugePages(out.data(), out.size());
    unsigned char* o = reinterpret_cast<unsigned char*>(out.data());
    qsizetype quanta = 0;
    qsizetype i = 0;
    while (i < n) {
        // Fast path: runs of four ordinary alphabet characters ('=' and
        // bytes outside the alphabet set bits 24..31 of the sum).
        while (i + 4 <= n) {
            const quint32 v = dec[0][in[i]] | dec[1][in[i + 1]] | dec[2][in[i + 2]] | dec[3][in[i + 3]];
            if (v >> 24)
                break;
            qToBigEndian<quint32>(v << 8, o);
            o += 3;
            ++quanta;
            i += 4;
        }
        if (i >= n)
            break;
        if (rev[in[i]] < 0) {  // bytes outside the alphabet are skipped
            ++i;
            continue;
        }
        // A quantum starts here: the next four alphabet bytes, wherever
        // they stand (RFC 2045, 6.8: line breaks and other bytes outside
        // the alphabet are ignored, even inside a group), 'A' past the end.
        unsigned char d[4];
        for (int k = 0; k < 4; ++k) {
            while (i < n && rev[in[i]] < 0)
                ++i;
            d[k] = static_cast<unsigned char>(i < n ? rev[in[i++]] : 0);
        }
        o[0] = static_cast<unsigned char>((d[0] << 2) + ((d[1] & 0x30) >> 4));
        o[1] = static_cast<unsigned char>((d[1] << 4) + ((d[2] & 0x3C) >> 2));
        o[2] = static_cast<unsigned char>((d[2] << 6) + d[3]);
        o += 3;
        ++quanta;
    }
    // Padding: look at the last two alphabet bytes (index 0 is not
    // examined).
    qsizetype last = n - 1;
    while (last > 0 && rev[in[last]] < 0)
        --last;
    qsizetype before = last - 1;
    while (before > 0 && rev[in[before]] < 0)
        --before;
    qsizetype outLen = quanta * 3;
    if (in[last] == '=') {
        if (before >= 0 && in[before] == '=')
            outLen -= 2;
        else
            outLen -= 1;
    }
    out.truncate(qMax<qsizetype>(outLen, 0));
    return out;
}

QByteArray MIMECodec::encodeBase64(const QByteArray& buf, bool endNewLine, bool endAllNewLines)
{
    const qsizetype n = buf.size();
    const qsizetype groups = (n + 2) / 3;
    const qsizetype chars = groups * 4;
    const qsizetype lfs = endAllNewLines && chars > 0 ? (chars - 1) / LineWidth : 0;
    QByteArray out;
    out.resize(chars + lfs + (endNewLine ? 1 : 0) + 1);
    char* o = out.data();
    adviseHugePages(o, out.size());
    const unsigned char* in = bytes(buf);
    const unsigned char* const inEnd = in + n;
    const auto& pairs = B64Pairs.v;

    // Whole groups line by line: 57 input bytes make one 76-character line.
    const qsizetype full = n - n % 3;
    const qsizetype lineBytes = endAllNewLines ? LineWidth / 4 * 3 : full;
    qsizetype i = 0;
    while (i < full) {
        if (i > 0)
            *o++ = '\n';
        const unsigned char* p = in + i;
        const unsigned char* const end = in + qMin(i + lineBytes, full);
        // Six bytes give eight characters, looked up two by two (12 bits
        // each); the eight-byte load reads two bytes ahead within the input.
        while (end - p >= 6 && inEnd - p >= 8) {
            const quint64 v = qFromBigEndian<quint64>(p);
            std::memcpy(o, pairs[v >> 52], 2);
            std::memcpy(o + 2, pairs[(v >> 40) & 0xFFF], 2);
            std::memcpy(o + 4, pairs[(v >> 28) & 0xFFF], 2);
            std::memcpy(o + 6, pairs[(v >> 16) & 0xFFF], 2);
            p += 6;
            o += 8;
        }
        for (; p < end; p += 3) {
            const unsigned v = (unsigned(p[0]) << 16) | (unsigned(p[1]) << 8) | p[2];
            std::memcpy(o, pairs[v >> 12], 2);
            std::memcpy(o + 2, pairs[v & 0xFFF], 2);
            o += 4;
        }
        i = end - in;
    }
    // The last one or two bytes, padded with '='.
    if (i < n) {
        if (endAllNewLines && i > 0 && i % lineBytes == 0)
            *o++ = '\n';
        const char* A = Base64Alphabet;
        const unsigned b1 = in[i];
        const unsigned b2 = i + 1 < n ? in[i + 1] : 0;
        o[0] = A[b1 >> 2];
        o[1] = A[((b1 & 3) << 4) + (b2 >> 4)];
        o[2] = n % 3 == 2 ? A[(b2 & 15) << 2] : '=';
        o[3] = '=';
        o += 4;
    }
    if (endNewLine)
        *o++ = '\n';
    *o++ = '\0';
    Q_ASSERT(o == out.constData() + out.size());
    return out;
}

QByteArray MIMECodec::decode(const QByteArray& buf, const char* encoding)
{
    const QByteArray enc = QByteArray(encoding).toLower();
    if (enc == "7bit" || enc == "8bit" || enc == "none" || enc == "binary")
        return QByteArray(buf.constData(), buf.size());
    if (enc == "quoted-printable")
        return decodeQuotedPrintable(QCString(buf.constData(), cLen(buf))).withTerminator();
    if (enc == "base64")
        return decodeBase64(buf);
    return QByteArray("unknown encoding", 17);
}

QByteArray MIMECodec::encode(const QByteArray& buf, const char* encoding, bool footer)
{
    const QByteArray enc = QByteArray(encoding).toLower();
    if (enc == "7bit" || enc == "8bit" || enc == "none" || enc == "binary")
        return QByteArray(buf.constData(), buf.size());
    if (enc == "quoted-printable")
        return encodeQuotedPrintable(QCString(buf.constData(), cLen(buf)), false, footer).withTerminator();
    if (enc == "quoted-printable-compat")
        return encodeQuotedPrintable(QCString(buf.constData(), cLen(buf)), true, footer).withTerminator();
    if (enc == "base64")
        return encodeBase64(buf, true, true);
    return QByteArray();
}

QByteArray MIMECodec::CramMd5Digest(const QCString& username, const QCString& password,
                                    const QCString& challenge)
{
    md5_byte_t key[64] = {};
    const QByteArray pw = password.upToNul();
    if (pw.size() > 64) {
        md5_state_t st;
        md5_init(&st);
        md5_append(&st, reinterpret_cast<const md5_byte_t*>(pw.constData()), int(pw.size()));
        md5_finish(&st, key);
    } else if (!pw.isEmpty()) {
        std::memcpy(key, pw.constData(), size_t(pw.size()));
    }
    md5_byte_t ipad[64], opad[64];
    for (int i = 0; i < 64; ++i) {
        ipad[i] = key[i] ^ 0x36;
        opad[i] = key[i] ^ 0x5C;
    }
    const QByteArray text = challenge.upToNul();
    md5_byte_t inner[16], digest[16];
    md5_state_t st;
    md5_init(&st);
    md5_append(&st, ipad, 64);
    md5_append(&st, reinterpret_cast<const md5_byte_t*>(text.constData()), int(text.size()));
    md5_finish(&st, inner);
    md5_init(&st);
    md5_append(&st, opad, 64);
    md5_append(&st, inner, 16);
    md5_finish(&st, digest);

    QByteArray response = username.upToNul();
    response.append(' ');
    for (md5_byte_t b : digest) {
        response.append("0123456789abcdef"[b >> 4]);
        response.append("0123456789abcdef"[b & 15]);
    }
    // One line however long the user name: an AUTH response is one line.
    return encodeBase64(response, false, false);
}

QString MIMECodec::encodeMessageId(const QString& indexNr, const QString& userName)
{
    // Each half: base64 of the Latin-1 bytes and their terminating zero,
    // less the final line feed and the two characters before it.
    auto half = [](const QString& s) {
        const QByteArray enc = encodeBase64(QCString(s.toLatin1()).upToNul().withTerminator(), true, true);
        const qsizetype textLen = cLen(enc);
        return QString::fromLatin1(enc.constData(), qMax<qsizetype>(textLen - 3, 0));
    };
    return half(indexNr) + QLatin1Char('.') + half(userName);
}
