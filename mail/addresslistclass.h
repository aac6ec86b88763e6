#pragma once

#include "addressclass.h"
#include "orvanemail_export.h"
#include "qcstring.h"

#include <QList>
#include <QString>
#include <QStringList>

class QTextStream;

/**
 * \brief The value of an address-list header (To, Cc, Bcc).
 *
 * An ordered list of AddressClass, duplicates allowed. The parsing
 * constructors split the text at the commas that lie outside double quotes,
 * angle brackets and comments, drop empty pieces and parse each remaining
 * piece as one address. Groups (RFC 5322 "name: a, b;") give their members
 * only. A piece of white space only gives an all-empty entry, which stays in
 * the list but is skipped by the joined forms; a piece of comments only
 * gives none.
 */
class ORVANEMAIL_EXPORT AddressListClass
{
public:
    /// An empty list.
    AddressListClass();
    /// Parses a raw header value (read up to its first zero byte); each piece
    /// goes to AddressClass's QCString constructor.
    AddressListClass(const QCString& str);
    /// Same as the QCString constructor (raw 8-bit text).
    AddressListClass(const char* str);
    /// Parses Unicode text. With \a unicode each piece goes to
    /// AddressClass's QString constructor (non-ASCII names become UTF-8
    /// encoded words); without it each piece is converted to UTF-8 and goes
    /// to the QCString constructor.
    AddressListClass(const QString& t, bool unicode);
    AddressListClass(const AddressListClass& other);
    virtual ~AddressListClass();
    AddressListClass& operator=(const AddressListClass& other);

    /// Appends \a a.
    void addAddress(AddressClass a);
    /// Empties the list.
    void clear();
    /// Number of entries, all-empty ones included.
    int count() const;
    /// A copy of entry \a index. An index outside 0..count()-1 gives an
    /// all-empty address.
    AddressClass operator[](int index) const;
    /// A copy of the list.
    QList<AddressClass> getAddrList() const;

    /// The non-empty display forms (AddressClass::fullAddress()) joined by
    /// ", "; a null string when there are none.
    QString returnString() const;
    /// The non-empty header forms (AddressClass::getOriginalAddress())
    /// joined by ", "; a null string when there are none.
    operator QCString() const;
    /// Same as operator QCString().
    QCString toQCString() const;
    /// The non-empty header forms, one entry each, as Latin-1 text.
    QStringList toQStringList() const;
    /// The non-empty display forms, one entry each.
    QStringList returnNameStringList() const;

private:
    QList<AddressClass> addrList;
};

/// Writes toQCString() (as Latin-1 text).
ORVANEMAIL_EXPORT QTextStream& operator<<(QTextStream& s, const AddressListClass& l);
