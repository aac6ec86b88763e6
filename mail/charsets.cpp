#include "charsets.h"

#include "mimecodec.h"
#include "orvanelog_p.h"

#include <QHash>
#include <QLocale>
#include <QStringDecoder>
#include <QTextCodec>

#include <array>
#include <cstring>

// ------------------------------------------------------------------ CharSets

namespace {

// Normalised charset names and their alternative spellings; the same index
// names the same charset. "gb2312.1980-0" appears twice, so it always
// resolves to the first of its two rows.
const char* const charsetsStr[32] = {
    "unicode",
    "iso-8859-1", "iso-8859-2", "iso-8859-3", "iso-8859-4", "iso-8859-5",
    "iso-8859-6", "iso-8859-7", "iso-8859-8", "iso-8859-9", "iso-8859-10",
    "iso-8859-11", "iso-8859-12", "iso-8859-13", "iso-8859-14", "iso-8859-15",
    "koi8r", "koi8u", "cp 1251", "pt 154", "eucjp", "euckr", "set-th-th",
    "set-gbk", "set-zh", "set-zh-tw", "big5", "tscii", "utf-8", "utf-16",
    "iso-8859-11", "Any",
};

const char* const xNames[31] = {
    "iso10646-1",
    "iso8859-1", "iso8859-2", "iso8859-3", "iso8859-4", "iso8859-5",
    "iso8859-6", "iso8859-7", "iso8859-8", "iso8859-9", "iso8859-10",
    "iso8859-11", "iso8859-12", "iso8859-13", "iso8859-14", "iso8859-15",
    "koi8-r", "koi8-u", "microsoft-cp1251", "paratype-cp154", "jisx0208.1983-0",
    "ksc5601.1987-0", "tis620.2533-1", "gb2312.1980-0", "gb2312.1980-0",
    "cns11643.1986-", "big5-0", "tscii-0", "utf8", "utf16", "tis620-0",
};

const char* const latin1Languages[] = {"en", "da", "de", "fr", "fi", "it",
                                       "is", "nb", "nl", "pt", "es", "sv"};
const char* const latin2Languages[] = {"ro", "sk", "hr", "hu", "cs", "pl", "sl"};

} // namespace

CharSets::CharSets() = default;
CharSets::~CharSets() = default;

CharSets* CharSets::thisInstance()
{
    // Created on first use; never handed out for deletion.
    static CharSets instance;
    return &instance;
}

QString CharSets::fromQTCodec(const QString& name)
{
    const auto cached = codecs.constFind(name);
    if (cached != codecs.constEnd())
        return cached.value();
    for (const char* c : charsetsStr) {
        if (name == QLatin1String(c)) {
            const QString r = QString::fromLatin1(c);
            codecs.insert(name, r);
            return r;
        }
    }
    for (size_t i = 0; i < std::size(xNames); ++i) {
        if (name == QLatin1String(xNames[i])) {
            const QString r = QString::fromLatin1(charsetsStr[i]);
            codecs.insert(name, r);
            return r;
        }
    }
    return name;
}

QString CharSets::getDefaultCharset()
{
    QTextCodec* codec = QTextCodec::codecForLocale();
    if (!codec)
        return QStringLiteral("us-ascii");
    const QString mime = QString::fromLatin1(codec->name());
    if (mime != QLatin1String("System"))
        return mime;
    const QString lang = QLocale().name().left(2);
    for (const char* l : latin1Languages)
        if (lang == QLatin1String(l))
            return QStringLiteral("ISO-8859-1");
    for (const char* l : latin2Languages)
        if (lang == QLatin1String(l))
            return QStringLiteral("ISO-8859-2");
    return QStringLiteral("System");
}

QTextCodec* CharSets::getCodec(const QString& text)
{
    QTextCodec* codec = QTextCodec::codecForLocale();
    if (codec && codec->canEncode(text))
        return codec;
    return nullptr;
}

bool CharSets::isRFC822(const QCString& text)
{
    const qsizetype n = text.cLength();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.constData());
    for (qsizetype i = 0; i < n; ++i)
        if (p[i] & 0x80)
            return false;
    return true;
}

// ------------------------------------------------------- encoded-word decoder

namespace {

// Charset names longer than this are not looked up: an encoded word is at
// most 75 characters long, and no registered name comes near this bound.
constexpr qsizetype MaxCharsetName = 128;

// Base64 alphabet values; -1 for bytes outside the alphabet, -2 for '='.
struct B64Table {
    std::array<signed char, 256> v;
    constexpr B64Table() : v()
    {
        const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 256; ++i)
            v[i] = -1;
        for (int i = 0; i < 64; ++i)
            v[static_cast<unsigned char>(a[i])] = static_cast<signed char>(i);
        v['='] = -2;
    }
};
constexpr B64Table B64;

inline int hexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Decodes the base64 text of a B encoded word into out (appending), up to
// its first decoded zero byte. For well-formed text this gives exactly what
// MIMECodec::decodeBase64 gives; for malformed text it decodes what it can:
// bytes outside the alphabet are skipped, the first '=' ends the data, and
// a last group of two or three characters still yields its one or two bytes.
void decodeB(const unsigned char* p, qsizetype n, QByteArray& out)
{
    const qsizetype start = out.size();
    out.resize(start + (n / 4 + 1) * 3);
    unsigned char* o = reinterpret_cast<unsigned char*>(out.data()) + start;
    unsigned acc = 0;
    int bits = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const int v = B64.v[p[i]];
        if (v == -2)
            break;
        if (v < 0)
            continue;
        acc = (acc << 6) | unsigned(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            *o++ = static_cast<unsigned char>(acc >> bits);
            acc &= (1u << bits) - 1;
        }
    }
    const qsizetype len = o - reinterpret_cast<unsigned char*>(out.data());
    out.truncate(len);
    // Stop at the first zero byte (the text is handled as a C string).
    const char* z = static_cast<const char*>(std::memchr(out.constData() + start, 0, len - start));
    if (z)
        out.truncate(z - out.constData());
}

// Decodes the quoted-printable text of a Q encoded word into out
// (appending), exactly as MIMECodec::decodeQuotedPrintable does: "=XY" with
// two hex digits is that byte (a zero byte is dropped), "=" LF and "=" CR LF
// are soft breaks, a lone "=" at the end vanishes, any other "=" stays. An
// underscore is a space (RFC 2047, 4.2).
void decodeQ(const unsigned char* p, qsizetype n, QByteArray& out)
{
    const qsizetype start = out.size();
    out.resize(start + n);
    char* o = out.data() + start;
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c != '=') {
            *o++ = c == '_' ? ' ' : static_cast<char>(c);
            ++i;
            continue;
        }
        if (i + 1 >= n)
            break;
        const unsigned char c1 = p[i + 1];
        if (c1 == '\n') {
            i += 2;
            continue;
        }
        if (c1 == '\r' && i + 2 < n && p[i + 2] == '\n') {
            i += 3;
            continue;
        }
        const int h = hexValue(c1);
        const int l = i + 2 < n ? hexValue(p[i + 2]) : -1;
        if (h >= 0 && l >= 0) {
            const char byte = static_cast<char>((h << 4) | l);
            if (byte)
                *o++ = byte;
            i += 3;
        } else {
            *o++ = '=';
            ++i;
        }
    }
    out.truncate(o - out.constData());
}

// A per-thread cache of charset name -> codec lookups: a header value names
// few distinct charsets, while QTextCodec::codecForName walks every
// registered codec and asks ICU. Unknown names are cached too (as null).
// The cache is emptied when it reaches CodecCacheSize entries, so hostile
// input with endless distinct names costs bounded memory.
constexpr int CodecCacheSize = 64;

QTextCodec* lookupCodec(const char* name, qsizetype len)
{
    thread_local QHash<QByteArray, QTextCodec*> cache;
    thread_local QTextCodec* localeCodec = nullptr;

    // Tests register codecs and then make one the locale codec; a name may
    // then mean a codec it did not mean before, so start afresh.
    QTextCodec* lc = QTextCodec::codecForLocale();
    if (lc != localeCodec) {
        localeCodec = lc;
        cache.clear();
    }
    const auto hit = cache.constFind(QByteArray::fromRawData(name, len));
    if (hit != cache.constEnd())
        return hit.value();
    QTextCodec* codec = nullptr;
    if (len > 0 && len <= MaxCharsetName)
        codec = QTextCodec::codecForName(QByteArray(name, len));
    if (cache.size() >= CodecCacheSize)
        cache.clear();
    cache.insert(QByteArray(name, len), codec);
    return codec;
}

inline bool equalsLower(const char* s, qsizetype n, const char* lower)
{
    const qsizetype m = qsizetype(std::strlen(lower));
    if (n != m)
        return false;
    for (qsizetype i = 0; i < n; ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != lower[i])
            return false;
    }
    return true;
}

inline bool equalsNoCase(const char* a, qsizetype n, const char* b, qsizetype m)
{
    if (n != m)
        return false;
    for (qsizetype i = 0; i < n; ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20))
            return false;
    return true;
}

void appendConverted(QString& out, const char* charset, qsizetype charsetLen, const QByteArray& bytes)
{
    if (QTextCodec* codec = lookupCodec(charset, charsetLen)) {
        out += codec->toUnicode(bytes.constData(), int(qMin<qsizetype>(bytes.size(), INT_MAX)));
        return;
    }
    if (equalsLower(charset, charsetLen, "utf-8")) {
        out += QString::fromUtf8(bytes);
        return;
    }
    if (!equalsLower(charset, charsetLen, "us-ascii"))
        orvaneDebug("Warning: could not find textcodec for %s.", QByteArray(charset, charsetLen).constData());
    out += QString::fromLatin1(bytes);
}

inline qsizetype findByte(const char* s, qsizetype from, qsizetype n, char c)
{
    if (from >= n)
        return -1;
    const void* p = std::memchr(s + from, c, size_t(n - from));
    return p ? static_cast<const char*>(p) - s : -1;
}

// Position of the two-byte sequence a b in s[from, n), or -1.
inline qsizetype findPair(const char* s, qsizetype from, qsizetype n, char a, char b)
{
    while (from + 1 < n) {
        const qsizetype i = findByte(s, from, n - 1, a);
        if (i < 0)
            return -1;
        if (s[i + 1] == b)
            return i;
        from = i + 1;
    }
    return -1;
}

// Appends raw header bytes that are not part of an encoded word: as UTF-8
// when they are well-formed UTF-8 (RFC 6532), else as Latin-1, which keeps
// every byte visible.
void appendRaw(QString& out, const char* s, qsizetype n)
{
    qsizetype i = 0;
    while (i < n && !(s[i] & 0x80))
        ++i;
    if (i == n) {
        out += QLatin1String(s, n);
        return;
    }
    QStringDecoder dec(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = dec.decode(QByteArrayView(s, n));
    if (dec.hasError())
        out += QLatin1String(s, n);
    else
        out += text;
}

inline bool isLinearSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline bool allLinearSpace(const char* s, qsizetype n)
{
    for (qsizetype i = 0; i < n; ++i)
        if (!isLinearSpace(s[i]))
            return false;
    return true;
}

} // namespace

QString MIMECodec::translate(const QCString& name)
{
    const qsizetype n = name.cLength();
    if (!n)
        return QString();
    const char* s = name.constData();
    QString out;
    out.reserve(n);
    // Decoded bytes of a run of adjacent encoded words in one charset, not
    // yet converted: words whose bytes split a multibyte character between
    // them decode as one.
    QByteArray bytes;
    qsizetype pendingCs = 0, pendingCsLen = -1;
    auto flush = [&] {
        if (pendingCsLen >= 0)
            appendConverted(out, s + pendingCs, pendingCsLen, bytes);
        bytes.clear();
        pendingCsLen = -1;
    };
    qsizetype pos = 0;
    bool afterWord = false;
    // Every step moves pos past a closing "?=", and every search of a step
    // ends at or before that closing mark (or at the end of the text, after
    // which the loop stops), so the whole walk is linear in the text.
    while (pos < n) {
        const qsizetype open = findPair(s, pos, n, '=', '?');
        if (open < 0)
            break;
        // The closing "?=" is searched after the second '?' that follows the
        // opening, so that a Q text starting with '=' is not taken for it.
        const qsizetype q1 = findByte(s, open + 2, n, '?');
        const qsizetype q2 = q1 >= 0 ? findByte(s, q1 + 1, n, '?') : -1;
        const qsizetype close = findPair(s, q2 >= 0 ? q2 + 1 : open + 2, n, '?', '=');
        if (close < 0)
            break;
        // Linear white space between two encoded words, folding included,
        // is dropped (RFC 2047, 6.2); any other text between them stays.
        if (!(afterWord && allLinearSpace(s + pos, open - pos))) {
            flush();
            appendRaw(out, s + pos, open - pos);
        }

        // charset?encoding?text; a missing '?' leaves the whole remaining
        // inner part in each field. An RFC 2231 language ("utf-8*en")
        // is not part of the charset name.
        const qsizetype in0 = open + 2;
        const qsizetype i1 = findByte(s, in0, close, '?');
        const qsizetype csEnd = i1 >= 0 ? i1 : close;
        const qsizetype star = findByte(s, in0, csEnd, '*');
        const qsizetype csLen = (star >= 0 ? star : csEnd) - in0;
        const qsizetype encBegin = i1 >= 0 ? i1 + 1 : in0;
        const qsizetype i2 = i1 >= 0 ? findByte(s, i1 + 1, close, '?') : -1;
        const qsizetype encEnd = i2 >= 0 ? i2 : close;
        const qsizetype textBegin = i2 >= 0 ? i2 + 1 : encBegin;

        if (pendingCsLen >= 0 && !equalsNoCase(s + pendingCs, pendingCsLen, s + in0, csLen))
            flush();
        pendingCs = in0;
        pendingCsLen = csLen;
        const auto* text = reinterpret_cast<const unsigned char*>(s + textBegin);
        const qsizetype textLen = close - textBegin;
        if (encEnd - encBegin == 1 && (s[encBegin] == 'B' || s[encBegin] == 'b'))
            decodeB(text, textLen, bytes);
        else if (encEnd - encBegin == 1 && (s[encBegin] == 'Q' || s[encBegin] == 'q'))
            decodeQ(text, textLen, bytes);
        else
            bytes.append(s + textBegin, textLen);
        pos = close + 2;
        afterWord = true;
    }
    flush();
    if (pos < n)
        appendRaw(out, s + pos, n - pos);
    return out;
}
