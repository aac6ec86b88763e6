#pragma once

#include "orvanemail_export.h"
#include "qcstring.h"

#include <QByteArray>
#include <QString>

/**
 * \brief Stateless MIME transfer codecs.
 *
 * Quoted-printable, base64, line-end conversion, header folding, coding by
 * Content-Transfer-Encoding name, RFC 2047 encoded words, and the CRAM-MD5
 * and message-id helpers. Every operation is static, reentrant, takes its
 * input by const reference and returns a new value; none reports an error.
 *
 * \c QCString inputs are read up to their first zero byte. Byte-array
 * results whose size is said to "count the NUL" end in one zero byte that is
 * part of size(): encodeBase64(), encode() and decode() for
 * quoted-printable, and the "unknown encoding" text of decode().
 */
class ORVANEMAIL_EXPORT MIMECodec
{
public:
    MIMECodec() = delete;

    /// Every LF written as CR LF (a CR already before it stays: CR CR LF).
    static QCString encodeEndLine(const QCString& str);
    /// Every CR removed.
    static QCString decodeEndLine(const QCString& str);

    /// Decodes quoted-printable text. Soft breaks ("=" CR LF, "=" LF, and a
    /// lone "=" at the very end) vanish; "=XY" with two hex digits of either
    /// case gives that byte; an "=" not followed by two hex digits is kept
    /// literally. Decoded zero bytes are dropped.
    static QCString decodeQuotedPrintable(const QCString& text);
    /// Encodes quoted-printable text with lines of at most 76 characters.
    /// Line breaks of the input are encoded (=0D, =0A). With \a compat the
    /// characters !"#@[\]^`{|}~ are escaped too. With \a footer the
    /// configured footer text is appended to the input first.
    static QCString encodeQuotedPrintable(const QCString& str, bool compat, bool footer);

    /// Removes each LF TAB pair that follows a copied character.
    static QCString unfold(const QCString& str);
    /// Inserts LF TAB after every 76th character.
    static QCString fold(const QCString& str);
    /// Inserts CR LF after every 77th character of a line.
    static QCString canonicalForm(const QCString& str);

    /// Decodes base64; the result has exactly the decoded size. Bytes
    /// outside the alphabet (line breaks, blanks) are skipped wherever they
    /// stand, even inside a group of four. Inputs of three bytes or fewer
    /// decode to nothing.
    static QByteArray decodeBase64(const QByteArray& buf);
    /// Encodes base64. With \a endAllNewLines an LF starts a new line every
    /// 76 characters; with \a endNewLine one LF ends the text. The result
    /// ends in a NUL that is counted in its size.
    static QByteArray encodeBase64(const QByteArray& buf, bool endNewLine, bool endAllNewLines);

    /// Decodes by Content-Transfer-Encoding name (case-insensitive): 7bit,
    /// 8bit, none, binary, quoted-printable, base64. Any other name gives
    /// the 17 bytes "unknown encoding" and a NUL.
    static QByteArray decode(const QByteArray& buf, const char* encoding);
    /// Encodes by Content-Transfer-Encoding name (case-insensitive): 7bit,
    /// 8bit, none, binary, quoted-printable, quoted-printable-compat,
    /// base64. Any other name gives an empty array.
    static QByteArray encode(const QByteArray& buf, const char* encoding, bool footer);

    /// Decodes the RFC 2047 encoded words of a raw header value ('_' in Q
    /// words is a space). White space between two encoded words is dropped;
    /// adjacent words in one charset decode as one byte sequence, so a
    /// character split between them survives. Other text is read as UTF-8
    /// when it is well-formed UTF-8, else as Latin-1. Empty input gives a
    /// null string.
    static QString translate(const QCString& name);

    /// The RFC 2195 CRAM-MD5 response: base64 of "username HEXDIGEST",
    /// where the digest is HMAC-MD5(password, challenge), on one line
    /// however long the user name. NUL counted.
    static QByteArray CramMd5Digest(const QCString& username, const QCString& password,
                                    const QCString& challenge);
    /// A message-id token made of the base64 forms of \a indexNr and
    /// \a userName, joined by ".".
    static QString encodeMessageId(const QString& indexNr, const QString& userName);

    /// The built-in footer appended by encodeQuotedPrintable() when no
    /// footer file is configured or it cannot be read.
    static QCString defaultFooter();
};
