#pragma once

#include "orvanemail_export.h"
#include "qcstring.h"

#include <QMap>
#include <QString>

class QTextCodec;

/**
 * \brief The process-wide charset registry.
 *
 * Answers which charset outgoing text is labelled with: the locale's codec
 * (getCodec()), whether a text is plain 7-bit (isRFC822()), a charset for the
 * user's language (getDefaultCharset()) and a normalised charset name for a
 * codec name (fromQTCodec()). Text conversion itself is done by QTextCodec.
 *
 * The locale codec is whatever QTextCodec::codecForLocale() returns; a host
 * or a test chooses it with QTextCodec::setCodecForLocale(). A codec whose
 * name() is "System" stands for "the platform's own 8-bit encoding":
 * getDefaultCharset() then falls back to the language table. Tests inject
 * such a codec by registering a QTextCodec subclass named "System" and making
 * it the locale codec. The language is the first two letters of
 * QLocale().name() (the default locale, which is the system locale unless
 * the host sets another with QLocale::setDefault()).
 *
 * Used from one thread only, like the rest of the library.
 */
class ORVANEMAIL_EXPORT CharSets
{
public:
    /// Cache of fromQTCodec() results: name asked for -> normalised name.
    typedef QMap<QString, QString> CodecsMap;

    virtual ~CharSets();

    /// The normalised charset name for a codec name: "iso8859-2" gives
    /// "iso-8859-2", "utf8" "utf-8", "gb2312.1980-0" "set-gbk"; a name
    /// already normalised gives itself; any other name is returned unchanged.
    /// Comparisons are exact (case-sensitive).
    virtual QString fromQTCodec(const QString& name);

    /// The charset for the current locale: the locale codec's name, or
    /// "us-ascii" when there is no locale codec. When the codec is called
    /// "System", the language decides: "ISO-8859-1" for en, da, de, fr, fi,
    /// it, is, nb, nl, pt, es, sv; "ISO-8859-2" for ro, sk, hr, hu, cs, pl,
    /// sl; "System" for any other.
    virtual QString getDefaultCharset();

    /// The singleton, created on first use; it lives until the process ends.
    static CharSets* thisInstance();

    /// The locale codec if there is one and it can encode all of \a text,
    /// else null.
    static QTextCodec* getCodec(const QString& text);

    /// True when no byte of \a text (up to its first zero byte) has its high
    /// bit set; true for an empty or null text.
    static bool isRFC822(const QCString& text);

protected:
    CharSets();

private:
    CodecsMap codecs;
};
