#pragma once

#include "orvanemail_export.h"
#include "qcstring.h"

#include <QString>

class QTextStream;

/**
 * \brief One RFC 822 mailbox: an optional display name and an address.
 *
 * Built from raw header text (8-bit, possibly holding RFC 2047 encoded
 * words) or from Unicode text typed by a user; printed for display
 * (fullAddress()) or for a message header (getOriginalAddress()).
 *
 * Parsing follows RFC 5322, read loosely and totally: comments are dropped
 * wherever they stand, quoted strings lose their quotes and escapes, the
 * first address in angle brackets is the address whatever the display name
 * holds, and without angle brackets the first word holding '@' is the
 * address (the words before it form the display name, what follows is
 * ignored); a single bare ASCII word is a local address. Raw 8-bit text is
 * UTF-8 when well-formed (RFC 6532), else Latin-1.
 *
 * A field that the text does not fill stays null (not just empty): a text
 * without '@' leaves \c email null, a text with nothing before the address
 * leaves \c name and the translated name null.
 */
class ORVANEMAIL_EXPORT AddressClass
{
public:
    /// An address with all fields null.
    AddressClass();
    AddressClass(const AddressClass& other);
    /// Parses raw header text (read up to its first zero byte). \c name
    /// keeps the display name as read, encoded words included; the
    /// translated name is its decoded form.
    AddressClass(const QCString& str);
    /// Same as the QCString constructor (raw 8-bit text).
    AddressClass(const char* str);
    /// Parses Unicode text. \c email is the address in UTF-8. A plain ASCII
    /// display name goes into \c name as it stands; any other becomes one
    /// base64 encoded word, "=?utf-8?B?...?=" (or labelled with the locale
    /// codec's name for text that UTF-8 cannot carry).
    AddressClass(const QString& str);
    virtual ~AddressClass();

    AddressClass& operator=(const AddressClass& other);
    /// True when name, email and the translated name are all equal.
    bool operator==(const AddressClass& other) const;

    /// The display name as Unicode.
    QString getTranslated_name() const;
    void setTranslated_name(const QString& name);
    /// Sets the translated name to MIMECodec::translate(name).
    void translateName();

    /// Display form: the address alone when there is no translated name,
    /// "\"Name\"" when there is no address, else "\"Name\" <address>".
    QString fullAddress() const;
    /// Header form: a name holding an encoded word (and nothing that needs
    /// quoting) unquoted and one space, any other name quoted (with '"' and
    /// '\\' escaped) and two spaces (one when there is no address), then
    /// "<address>". An all-empty address gives a null string. Never holds a
    /// CR or LF byte: should a caller put one into \c name or \c email, it is
    /// written as a space.
    QCString getOriginalAddress() const;

    /// Display name in header form: plain ASCII, raw text as read, or an
    /// encoded word built from Unicode.
    QCString name;
    /// The address (the word holding '@'), 8-bit; UTF-8 when built from
    /// Unicode.
    QCString email;

private:
    QString translated_name;
};

/// Writes getOriginalAddress() (as Latin-1 text).
ORVANEMAIL_EXPORT QTextStream& operator<<(QTextStream& s, const AddressClass& a);
