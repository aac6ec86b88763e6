#pragma once

#include "addressclass.h"
#include "addresslistclass.h"
#include "dateclass.h"
#include "orvanemail_export.h"
#include "qcstring.h"

#include <QList>

class MessageClass;

/**
 * \brief The header fields of a message without its MIME structure.
 *
 * Parsed from a raw header, or from a whole raw message of which only the
 * header is read; also the exchange form between MessageClass objects
 * (MessageClass::header(), MessageClass::importHeader()).
 *
 * The fields have the names and meanings of MessageClass's. Defaults are
 * applied only to fields that stay null: no sender or recipient gives
 * "unknown", no subject "Not specified", no date the fixed 1999 date, no
 * Content-Type "text/plain", no Content-Transfer-Encoding "8bit". In-Reply-To
 * ids after the first are appended to References.
 */
class ORVANEMAIL_EXPORT HeaderClass
{
public:
    /// Parses \a text up to its first zero byte; a null \a text gives a
    /// record with every field empty and no defaults applied.
    HeaderClass(const char* text);
    /// Parses \a text, zero bytes included; a null \a text gives an empty
    /// record.
    explicit HeaderClass(const QCString& text);
    /// An empty record into which importMessage() copies \a m's fields.
    explicit HeaderClass(MessageClass& m);
    virtual ~HeaderClass();

    /// Copies the sixteen header fields of \a m.
    void importMessage(MessageClass& m);

    AddressClass From;
    AddressClass Reply_To;
    AddressListClass To;
    AddressListClass Cc;
    AddressListClass Bcc;
    QCString Subject;
    QCString Message_ID;
    QCString In_Reply_To;
    QCString Organization;
    QCString Status;
    QCString Priority;
    QCString Content_Type;
    QCString Content_Transfer_Encoding;
    QList<QCString> Received;
    QList<QCString> References;
    DateClass Date;

private:
    void parse(const char* text, qsizetype size);
};
