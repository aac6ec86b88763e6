#pragma once

#include "orvanemail_export.h"
#include "qcstring.h"

#include <QDataStream>

/**
 * \brief One MIME leaf part of a message: its media type, transfer
 * encoding, charset, content id, file name, its role in the message and
 * where its encoded body lies (byte offset and length).
 *
 * A plain record. Offsets count bytes in the raw message text while the part
 * belongs to a parsed message, and in the folder's messages file once the
 * message is stored.
 *
 * The part type is one of "text", "attachment", "related", "digest", or
 * "unknown" for a record that could not be read.
 */
class ORVANEMAIL_EXPORT MimePart
{
public:
    /// Every field at its default: "text/plain", "", "", "8bit",
    /// "us-ascii", "attachment", "", 0, 0, "1".
    MimePart();
    /// Copies every field except version, which becomes "1".
    MimePart(const MimePart& other);
    /// Starts from the defaults and reads a one-line part description. The
    /// first non-blank character selects the layout:
    ///   V version [type mimetype encoding offset length charset cid base64(name)]
    ///   T mimetype encoding offset length charset...   (a text part)
    ///   A mimetype encoding offset length base64(name) (an attachment)
    ///   R mimetype cid encoding offset length name...  (a related part)
    ///   D offset length                                (a digest part)
    /// Anything else gives a part of type "unknown".
    explicit MimePart(const QCString& description);
    MimePart& operator=(const MimePart& other) = default;
    virtual ~MimePart();

    QCString mimetype;      ///< media type without parameters
    QCString name;          ///< file name
    QCString cid;           ///< content id without angle brackets
    QCString encoding;      ///< Content-Transfer-Encoding as written
    QCString charset;       ///< charset parameter
    QCString type;          ///< part type ("text", "attachment", ...)
    QCString embeddedPath;  ///< path text of some older layouts; never written
    qint32 offset;          ///< byte offset of the encoded body
    qint32 length;          ///< byte length of the encoded body
    QCString version;       ///< record layout version
};

/// Writes one part record: version, type, mimetype, encoding, offset,
/// length, charset, cid, name (strings in the classic QCString form,
/// numbers as 32-bit big-endian integers).
ORVANEMAIL_EXPORT QDataStream& operator<<(QDataStream& s, const MimePart& p);
/// Reads one part record into \a p, accepting the current layout and the
/// older "text", "related", "attachment" and "digest" layouts.
ORVANEMAIL_EXPORT QDataStream& operator>>(QDataStream& s, MimePart& p);
