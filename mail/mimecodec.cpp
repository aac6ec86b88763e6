#include "mimecodec.h"

#include "ktconfig.h"
#include "md5.h"

#include <QFile>
#include <QSettings>

#include <array>
#include <cstring>

namespace {

constexpr int LineWidth = 76;

const char Base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
const char HexDigits[] = "0123456789ABCDEF";

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
    char* o = out.data();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char* eq = static_cast<const unsigned char*>(std::memchr(in + i, '=', n - i));
        const qsizetype stop = eq ? eq - in : n;
        std::memcpy(o, in + i, stop - i);
        o += stop - i;
        i = stop;
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

    const auto& literal = QpClass.literal[compat ? 1 : 0];
    const auto& plain = QpClass.plain[compat ? 1 : 0];
    // Worst case: every byte escaped, plus a soft break per 25 escapes.
    QCString out;
    out.resize(n * 3 + (n / 24 + 1) * 3);
    char* o = out.data();
    int lindex = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = in[i];
        if (literal[c]) {
            *o++ = static_cast<char>(c);
            lindex += 1;
        } else {
            o[0] = '=';
            o[1] = HexDigits[c >> 4];
            o[2] = HexDigits[c & 15];
            o += 3;
            lindex += 3;
        }
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
    if (n <= 3)
        return QByteArray();
    const unsigned char* in = bytes(buf);
    const auto& rev = B64Rev.v;
    QByteArray out;
    out.resize(((n + 3) / 4) * 3);
    unsigned char* o = reinterpret_cast<unsigned char*>(out.data());
    qsizetype quanta = 0;
    qsizetype i = 0;
    while (i < n) {
        // Fast path: four ordinary alphabet characters.
        if (i + 4 <= n) {
            const int a = rev[in[i]], b = rev[in[i + 1]], c = rev[in[i + 2]], d = rev[in[i + 3]];
            if ((a | b | c | d) >= 0 && a < 64 && b < 64 && c < 64 && d < 64) {
                const unsigned v = (unsigned(a) << 18) | (unsigned(b) << 12) | (unsigned(c) << 6) | unsigned(d);
                o[0] = static_cast<unsigned char>(v >> 16);
                o[1] = static_cast<unsigned char>(v >> 8);
                o[2] = static_cast<unsigned char>(v);
                o += 3;
                ++quanta;
                i += 4;
                continue;
            }
        }
        if (rev[in[i]] < 0) {  // bytes outside the alphabet between quanta
            ++i;
            continue;
        }
        // A quantum starts here: the next four bytes as they come, invalid
        // ones acting as 0xFF, bytes past the end as 'A'.
        unsigned char d[4];
        for (int k = 0; k < 4; ++k) {
            const unsigned char ch = i + k < n ? in[i + k] : 'A';
            d[k] = static_cast<unsigned char>(rev[ch]);
        }
        o[0] = static_cast<unsigned char>((d[0] << 2) + ((d[1] & 0x30) >> 4));
        o[1] = static_cast<unsigned char>((d[1] << 4) + ((d[2] & 0x3C) >> 2));
        o[2] = static_cast<unsigned char>((d[2] << 6) + d[3]);
        o += 3;
        ++quanta;
        i += 4;
    }
    // Padding: look at the last alphabet byte (index 0 is not examined).
    qsizetype last = n - 1;
    while (last > 0 && rev[in[last]] < 0)
        --last;
    qsizetype outLen = quanta * 3;
    if (in[last] == '=') {
        if (last > 0 && in[last - 1] == '=')
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
    const unsigned char* in = bytes(buf);
    const char* A = Base64Alphabet;

    qsizetype i = 0;
    int col = 0;
    const qsizetype full = n - n % 3;
    for (; i < full; i += 3) {
        if (endAllNewLines && col == LineWidth) {
            *o++ = '\n';
            col = 0;
        }
        const unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8) | in[i + 2];
        o[0] = A[v >> 18];
        o[1] = A[(v >> 12) & 63];
        o[2] = A[(v >> 6) & 63];
        o[3] = A[v & 63];
        o += 4;
        col += 4;
    }
    if (i < n) {
        if (endAllNewLines && col == LineWidth)
            *o++ = '\n';
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
    return encodeBase64(response, false, true);
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
