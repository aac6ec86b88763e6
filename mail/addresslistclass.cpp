#include "addresslistclass.h"

#include <QTextStream>

namespace {

inline char16_t code(char c) { return static_cast<unsigned char>(c); }
inline char16_t code(QChar c) { return c.unicode(); }

// Calls piece(begin, length) for every non-empty piece of [s, s + n)
// between the commas that lie outside double quotes, angle brackets and
// comments. Group syntax (RFC 5322): a colon outside them, in a piece that
// holds no '@' yet, ends the group's name, which is dropped; a semicolon
// ends the group and its last member.
template<typename Char, typename Piece>
void split(const Char* s, qsizetype n, Piece piece)
{
    bool quoted = false, angle = false, at = false;
    int depth = 0;
    qsizetype begin = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = code(s[i]);
        if (quoted || depth > 0) {
            if (c == '\\')
                ++i;
            else if (quoted && c == '"')
                quoted = false;
            else if (depth > 0 && c == '(')
                ++depth;
            else if (depth > 0 && c == ')')
                --depth;
            continue;
        }
        switch (c) {
        case '"': quoted = true; break;
        case '(': depth = 1; break;
        case '<': angle = true; break;
        case '>': angle = false; break;
        case '@': at = true; break;
        case ':':
            if (!angle && !at)
                begin = i + 1;
            break;
        case ',': case ';':
            if (angle)
                break;
            if (i > begin)
                piece(begin, i - begin);
            begin = i + 1;
            at = false;
            break;
        default: break;
        }
    }
    if (n > begin)
        piece(begin, n - begin);
}

template<typename Char>
bool allBlank(const Char* s, qsizetype n)
{
    for (qsizetype i = 0; i < n; ++i)
        if (!(code(s[i]) == ' ' || (code(s[i]) >= '\t' && code(s[i]) <= '\r')))
            return false;
    return true;
}

// A piece that is all white space gives an empty entry; one that is only
// comments and group punctuation gives none.
bool bogus(const AddressClass& a, bool blank)
{
    return !blank && a.name.isNull() && a.email.isNull();
}

} // namespace

AddressListClass::AddressListClass() = default;
AddressListClass::AddressListClass(const AddressListClass& other) = default;
AddressListClass::~AddressListClass() = default;
AddressListClass& AddressListClass::operator=(const AddressListClass& other) = default;

AddressListClass::AddressListClass(const QCString& str)
{
    const char* s = str.constData();
    split(s, str.cLength(), [&](qsizetype b, qsizetype len) {
        AddressClass a(QCString(s + b, len));
        if (!bogus(a, allBlank(s + b, len)))
            addrList.append(std::move(a));
    });
}

AddressListClass::AddressListClass(const char* str) : AddressListClass(QCString(str)) {}

AddressListClass::AddressListClass(const QString& t, bool unicode)
{
    const QChar* s = t.constData();
    split(s, t.size(), [&](qsizetype b, qsizetype len) {
        AddressClass a = unicode ? AddressClass(QString(s + b, len))
                                 : AddressClass(QCString(QString(s + b, len).toUtf8()));
        if (!bogus(a, allBlank(s + b, len)))
            addrList.append(std::move(a));
    });
}

void AddressListClass::addAddress(AddressClass a) { addrList.append(std::move(a)); }

void AddressListClass::clear() { addrList.clear(); }

int AddressListClass::count() const { return int(addrList.size()); }

AddressClass AddressListClass::operator[](int index) const
{
    if (index < 0 || index >= addrList.size())
        return AddressClass();
    return addrList.at(index);
}

QList<AddressClass> AddressListClass::getAddrList() const { return addrList; }

QString AddressListClass::returnString() const
{
    QString out;
    for (const AddressClass& a : addrList) {
        const QString f = a.fullAddress();
        if (f.isEmpty())
            continue;
        if (!out.isNull())
            out += QLatin1String(", ");
        out += f;
    }
    return out;
}

AddressListClass::operator QCString() const
{
    QCString out;
    for (const AddressClass& a : addrList) {
        const QCString h = a.getOriginalAddress();
        if (h.isEmpty())
            continue;
        if (!out.isNull())
            out.append(", ");
        out.append(h);
    }
    return out;
}

QCString AddressListClass::toQCString() const { return *this; }

QStringList AddressListClass::toQStringList() const
{
    QStringList out;
    for (const AddressClass& a : addrList) {
        const QCString h = a.getOriginalAddress();
        if (!h.isEmpty())
            out.append(QString::fromLatin1(h));
    }
    return out;
}

QStringList AddressListClass::returnNameStringList() const
{
    QStringList out;
    for (const AddressClass& a : addrList) {
        const QString f = a.fullAddress();
        if (!f.isEmpty())
            out.append(f);
    }
    return out;
}

QTextStream& operator<<(QTextStream& s, const AddressListClass& l)
{
    return s << QString::fromLatin1(l.toQCString());
}
