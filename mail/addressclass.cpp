#include "addressclass.h"

#include "charsets.h"
#include "mimecodec.h"

#include <QStringDecoder>
#include <QTextCodec>
#include <QTextStream>

namespace {

// The characters "<>,; count as white space when an address is split.
inline bool isByteSeparator(unsigned char c)
{
    switch (c) {
    case ' ': case '\t': case '\n': case '\v': case '\f': case '\r':
    case '"': case '<': case '>': case ',': case ';':
        return true;
    default:
        return false;
    }
}

inline bool isCharSeparator(QChar c)
{
    switch (c.unicode()) {
    case '"': case '<': case '>': case ',': case ';':
        return true;
    default:
        return c.isSpace();
    }
}

// Splits [s, s + n) into words; the words before the first one holding '@'
// are joined with single spaces into name, that word is the address. Fields
// the text does not fill stay null. One pass, linear in n.
template<typename Char, typename IsSep, typename Str>
void tokenise(const Char* s, qsizetype n, IsSep isSep, Char at, Str& name, Str& email)
{
    qsizetype i = 0;
    while (i < n) {
        while (i < n && isSep(s[i]))
            ++i;
        if (i >= n)
            break;
        const qsizetype begin = i;
        bool hasAt = false;
        while (i < n && !isSep(s[i])) {
            hasAt = hasAt || s[i] == at;
            ++i;
        }
        if (hasAt) {
            email = Str(s + begin, i - begin);
            return;
        }
        if (name.isNull()) {
            name = Str(s + begin, i - begin);
        } else {
            name.append(static_cast<Char>(u' '));
            name.append(s + begin, i - begin);
        }
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
    tokenise(str.constData(), str.cLength(),
             [](char c) { return isByteSeparator(static_cast<unsigned char>(c)); }, '@', name, email);
    translateName();
}

AddressClass::AddressClass(const char* str) : AddressClass(QCString(str)) {}

AddressClass::AddressClass(const QString& str)
{
    QString mail;
    tokenise(str.constData(), str.size(), isCharSeparator, QChar(u'@'), translated_name, mail);
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
        if (n.contains("=?") && n.lastIndexOf("?=") >= 0) {
            out.append(n);
            if (!e.isEmpty())
                out.append(' ');
        } else {
            out.append('"').append(n).append("\" ");
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
