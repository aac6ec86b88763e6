#include "addressclass.h"

#include "charsets.h"
#include "mimecodec.h"

#include <QStringDecoder>
#include <algorithm>
#include <cstring>
#include <QTextCodec>
#include <QTextStream>

namespace {

inline char16_t code(char c) { return static_cast<unsigned char>(c); }
inline char16_t code(QChar c) { return c.unicode(); }

// White space: ASCII white space in raw bytes (a byte from 0x80 up may be
// part of a UTF-8 sequence), any Unicode white space in typed text.
inline bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool isBlank(QChar c) { return c.isSpace(); }

// Whether s is a dot-atom of ASCII atext (RFC 5322 3.2.3), '?' left out so
// that an encoded word is never taken for one.
template<typename Str>
bool isDotAtom(const Str& s)
{
    for (auto ch : s) {
        const char16_t c = code(ch);
        if (c >= 0x7F || c <= ' ' || (std::strchr("()<>[]:;@\\,\"?", int(c)) && c != 0))
            return false;
    }
    return !s.isEmpty();
}

// Index just past the comment that starts at s[i] == '(' (nested comments
// and backslash escapes included), or n when it is not closed.
template<typename Char>
qsizetype skipComment(const Char* s, qsizetype i, qsizetype n)
{
    int depth = 0;
    for (; i < n; ++i) {
        const char16_t c = code(s[i]);
        if (c == '\\')
            ++i;
        else if (c == '(')
            ++depth;
        else if (c == ')' && --depth == 0)
            return i + 1;
    }
    return n;
}

// Parses one mailbox of [s, s + n) (RFC 5322, read loosely):
//  - comments are dropped wherever they stand, and never split a word;
//  - quoted strings lose their quotes and backslash escapes;
//  - the first address in angle brackets is the address, and all words
//    outside it form the display name;
//  - without angle brackets, the first word holding '@' outside quotes is
//    the address, the words before it the display name, and what follows
//    it is ignored;
//  - a single bare word without '@' is a local address;
//  - the characters > , ; outside quotes count as white space.
// Words of the display name are joined by single spaces. Fields the text
// does not fill stay null. One pass, linear in n.
template<typename Char, typename Str>
void parseMailbox(const Char* s, qsizetype n, Str& name, Str& email)
{
    Str phrase;
    Str angle;
    bool haveAngle = false;
    bool inWord = false, wordAt = false, haveAt = false, quoted = false;
    int words = 0;
    qsizetype wordBegin = 0, atBegin = 0, atEnd = 0, nameLen = 0;
    auto endWord = [&] {
        if (inWord && wordAt && !haveAt) {
            haveAt = true;
            atBegin = wordBegin;
            atEnd = phrase.size();
            nameLen = wordBegin > 0 ? wordBegin - 1 : 0;
        }
        inWord = wordAt = false;
    };
    auto startWord = [&] {
        if (inWord)
            return;
        if (!phrase.isEmpty())
            phrase.append(static_cast<Char>(u' '));
        else if (phrase.isNull())
            phrase = Str(s, 0);
        wordBegin = phrase.size();
        inWord = true;
        ++words;
    };
    qsizetype i = 0;
    while (i < n) {
        const char16_t c = code(s[i]);
        if (c == '(') {
            i = skipComment(s, i, n);
        } else if (c == '"') {
            startWord();
            quoted = true;
            for (++i; i < n && code(s[i]) != '"'; ++i) {
                if (code(s[i]) == '\\' && i + 1 < n)
                    ++i;
                phrase.append(s[i]);
            }
            ++i;
        } else if (c == '<') {
            endWord();
            qsizetype j = i + 1;
            Str addr(s, 0);
            while (j < n && code(s[j]) != '>') {
                const char16_t d = code(s[j]);
                if (d == '(') {
                    j = skipComment(s, j, n);
                    continue;
                }
                if (d == '"') {  // a quoted local part keeps its quotes
                    const qsizetype q = j;
                    for (++j; j < n && code(s[j]) != '"'; ++j)
                        if (code(s[j]) == '\\' && j + 1 < n)
                            ++j;
                    j = std::min(j + 1, n);
                    addr.append(s + q, j - q);
                    continue;
                }
                qsizetype k = j;
                while (k < n && !isBlank(s[k]) && code(s[k]) != '>' && code(s[k]) != '(' && code(s[k]) != '"')
                    ++k;
                addr.append(s + j, k - j);
                j = k == j ? j + 1 : k;
            }
            if (!haveAngle) {
                haveAngle = true;
                // An obsolete source route ("@a,@b:") before the address.
                // Only where an address holding '@' follows the colon.
                if (!addr.isEmpty() && code(addr.at(0)) == '@') {
                    const qsizetype colon = addr.indexOf(static_cast<Char>(u':'));
                    if (colon >= 0 && addr.indexOf(static_cast<Char>(u'@'), colon) >= 0)
                        addr = addr.mid(colon + 1);
                }
                angle = addr;
            }
            i = j + 1;
        } else if (isBlank(s[i]) || c == '>' || c == ',' || c == ';') {
            endWord();
            ++i;
        } else {
            // A run of ordinary characters at once.
            startWord();
            qsizetype j = i;
            for (; j < n; ++j) {
                const char16_t d = code(s[j]);
                if (d == '(' || d == '"' || d == '<' || d == '>' || d == ',' || d == ';' || isBlank(s[j]))
                    break;
                wordAt = wordAt || d == '@';
            }
            phrase.append(s + i, j - i);
            i = j;
        }
    }
    endWord();
    if (haveAngle) {
        if (!angle.isEmpty())
            email = angle;
        if (!phrase.isEmpty())
            name = phrase;
    } else if (haveAt) {
        email = phrase.mid(atBegin, atEnd - atBegin);
        if (nameLen > 0)
            name = phrase.left(nameLen);
    } else if (words == 1 && !quoted && isDotAtom(phrase)) {
        email = phrase;  // a bare local name (RFC 822 local delivery)
    } else if (!phrase.isEmpty()) {
        name = phrase;
    }
}

// An encoded word carrying bytes of the named charset. The bytes are encoded
// without a terminating zero byte: a zero byte is not allowed in header text
// and other mail programs would display it.
QCString encodedWord(const QByteArray& charset, const QByteArray& bytes)
{
    const QByteArray b64 = MIMECodec::encodeBase64(bytes, false, false);
    QCString out;
    out.reserve(charset.size() + b64.size() + 6);
    out.append("=?").append(charset).append("?B?");
    out.append(b64.constData(), b64.size() - 1);  // without its NUL
    out.append("?=");
    return out;
}

// Header forms never carry a line break (or anything past a zero byte) from
// a field into a header line.
QCString headerSafe(const QCString& s)
{
    QCString r = s.upToNul();
    if (r.contains('\r') || r.contains('\n')) {
        r.replace('\r', ' ');
        r.replace('\n', ' ');
    }
    return r;
}

} // namespace

AddressClass::AddressClass() = default;
AddressClass::AddressClass(const AddressClass& other) = default;
AddressClass::~AddressClass() = default;
AddressClass& AddressClass::operator=(const AddressClass& other) = default;

AddressClass::AddressClass(const QCString& str)
{
    parseMailbox(str.constData(), str.cLength(), name, email);
    translateName();
}

AddressClass::AddressClass(const char* str) : AddressClass(QCString(str)) {}

AddressClass::AddressClass(const QString& str)
{
    QString mail;
    parseMailbox(str.constData(), str.size(), translated_name, mail);
    if (!mail.isNull())
        email = QCString(mail.toUtf8());
    if (translated_name.isEmpty())
        return;

    bool ascii = true;
    for (QChar c : std::as_const(translated_name))
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) {
        name = QCString(translated_name.toLatin1());
        return;
    }
    const QByteArray utf8 = translated_name.toUtf8();
    if (QString::fromUtf8(utf8) != translated_name) {
        // Text that UTF-8 cannot carry (a lone surrogate): label it with the
        // locale codec if that one can.
        if (QTextCodec* codec = CharSets::getCodec(translated_name)) {
            name = encodedWord(codec->name(), codec->fromUnicode(translated_name));
            return;
        }
    }
    name = encodedWord(QByteArrayLiteral("utf-8"), utf8);
}

bool AddressClass::operator==(const AddressClass& other) const
{
    return name == other.name && email == other.email && translated_name == other.translated_name;
}

QString AddressClass::getTranslated_name() const { return translated_name; }

void AddressClass::setTranslated_name(const QString& n) { translated_name = n; }

void AddressClass::translateName() { translated_name = MIMECodec::translate(name); }

QString AddressClass::fullAddress() const
{
    // The address is shown as UTF-8 when its bytes are well-formed UTF-8
    // (addresses built from Unicode, internationalised addresses), else as
    // Latin-1, which keeps every byte visible.
    QString mail;
    const QCString e = email.upToNul();
    bool ascii = true;
    for (char c : e)
        if (c & 0x80) {
            ascii = false;
            break;
        }
    if (ascii) {
        mail = QString::fromLatin1(e);
    } else {
        QStringDecoder dec(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        mail = dec.decode(e);
        if (dec.hasError())
            mail = QString::fromLatin1(e);
    }
    if (translated_name.isEmpty())
        return mail;
    QString out;
    out.reserve(translated_name.size() + mail.size() + 5);
    out += QLatin1Char('"');
    out += translated_name;
    out += QLatin1Char('"');
    if (!e.isEmpty()) {
        out += QLatin1String(" <");
        out += mail;
        out += QLatin1Char('>');
    }
    return out;
}

QCString AddressClass::getOriginalAddress() const
{
    const QCString n = headerSafe(name);
    const QCString e = headerSafe(email);
    QCString out;
    if (!n.isEmpty()) {
        // A name holding encoded words goes unquoted, unless it also holds
        // characters that only quotes keep out of the address syntax.
        bool special = false;
        for (char c : n)
            special = special || (c && std::strchr("\"(),:;<>@[\\]", c));
        if (!special && n.contains("=?") && n.lastIndexOf("?=") >= 0) {
            out.append(n);
            if (!e.isEmpty())
                out.append(' ');
        } else {
            // Quotes and backslashes inside the name are escaped.
            out.append('"');
            for (char c : n) {
                if (c == '"' || c == '\\')
                    out.append('\\');
                out.append(c);
            }
            out.append("\" ");
            if (!e.isEmpty())
                out.append(' ');
        }
    }
    if (!e.isEmpty())
        out.append('<').append(e).append('>');
    return out;
}

QTextStream& operator<<(QTextStream& s, const AddressClass& a)
{
    return s << QString::fromLatin1(a.getOriginalAddress());
}
