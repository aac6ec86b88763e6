#include "addresslistclass.h"

#include <QTextStream>

namespace {

// Calls piece(begin, length) for every non-empty piece of [s, s + n) between
// the commas that lie outside double quotes.
template<typename Char, typename Piece>
void split(const Char* s, qsizetype n, Piece piece)
{
    bool quoted = false;
    qsizetype begin = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (s[i] == static_cast<Char>(u'"')) {
            quoted = !quoted;
        } else if (s[i] == static_cast<Char>(u',') && !quoted) {
            if (i > begin)
                piece(begin, i - begin);
            begin = i + 1;
        }
    }
    if (n > begin)
        piece(begin, n - begin);
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
        addrList.append(AddressClass(QCString(s + b, len)));
    });
}

AddressListClass::AddressListClass(const char* str) : AddressListClass(QCString(str)) {}

AddressListClass::AddressListClass(const QString& t, bool unicode)
{
    const QChar* s = t.constData();
    split(s, t.size(), [&](qsizetype b, qsizetype len) {
        if (unicode)
            addrList.append(AddressClass(QString(s + b, len)));
        else
            addrList.append(AddressClass(QCString(QString(s + b, len).toUtf8())));
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
