#pragma once

#include "addressclass.h"
#include "addresslistclass.h"
#include "dateclass.h"
#include "mimepart.h"
#include "orvanemail_export.h"
#include "qcstring.h"

#include <QList>

#include <memory>
#include <vector>

class HeaderClass;

/**
 * \brief The parsed form of one raw RFC 822 / MIME message: its header fields
 * and the flat list of its MIME leaf parts.
 *
 * The constructor cuts out the header block, fills the fields (unfolded,
 * white space simplified, comments removed from structured fields, missing
 * values defaulted) and walks the MIME structure of the body, appending one
 * MimePart per leaf part in text order. Each part records where its encoded
 * body lies in the text given to the constructor (byte offset and length;
 * CR LF counts two bytes). Multipart containers give no part of their own.
 *
 * Parsing never fails: any byte sequence gives a record, in time and memory
 * proportional to its size. Containers nested deeper than MaxNestingDepth
 * are taken as leaves; at most MaxParts leaves are recorded.
 */
class ORVANEMAIL_EXPORT MessageClass
{
public:
    /// Multipart levels the structure walk descends into. A container found
    /// deeper is recorded as one leaf with its multipart media type, so a
    /// hostile message cannot exhaust the stack or make the walk rescan the
    /// text once per level without bound.
    static constexpr int MaxNestingDepth = 256;
    /// Leaf parts recorded for one message. A part record takes a few
    /// hundred bytes while a hostile text can delimit a part every four
    /// bytes; parts beyond this many are not recorded, which bounds memory.
    static constexpr int MaxParts = 100000;

    /// Parses a whole raw message. Zero bytes and bytes from 0x80 up are
    /// ordinary bytes. An empty text gives empty fields and no parts.
    explicit MessageClass(const QCString& text);
    /// A message without parts whose header fields come from \a h.
    explicit MessageClass(const HeaderClass& h);
    MessageClass(const MessageClass&) = delete;
    MessageClass& operator=(const MessageClass&) = delete;
    virtual ~MessageClass();

    /// Replaces the sixteen header fields by those of \a h; the parts and
    /// the digest flag stay.
    void importHeader(const HeaderClass& h);
    /// The sixteen header fields as a header record.
    HeaderClass header() const;

    /// Collapses white space: trimmed, inner runs replaced by one space.
    static void stripSpaces(QCString& s);
    /// Removes RFC 822 comments (parenthesised text, nested, outside double
    /// quotes); an unclosed '(' drops the rest.
    static void stripComments(QCString& s);
    /// Removes a leading and then a trailing double quote.
    static void stripQuotes(QCString& s);
    /// Removes a leading '<' and then a trailing '>'.
    static void stripParanthesis(QCString& s);
    /// Splits \a text at \a separator; every piece white-space simplified,
    /// empty inner pieces kept, an empty last piece dropped.
    static void split(QList<QCString>& out, char separator, const QCString& text);
    /// The bracketed ids of a References / In-Reply-To value, brackets
    /// removed, in order.
    static void chunk(QList<QCString>& out, const QCString& text);

    AddressClass From;          ///< author mailbox
    AddressClass Reply_To;      ///< reply mailbox
    AddressListClass To;        ///< primary recipients
    AddressListClass Cc;        ///< copy recipients
    AddressListClass Bcc;       ///< blind copy recipients
    QCString Subject;           ///< subject, still holding its encoded words
    QCString Message_ID;        ///< message id without angle brackets
    QCString In_Reply_To;       ///< first id of In-Reply-To, without brackets
    QCString Organization;      ///< organisation text
    QCString Status;            ///< "Read" or "New"
    QCString Priority;          ///< "Highest", "High", "Normal", "Low" or "Lowest"
    QCString Content_Type;      ///< media type of the message, no parameters
    QCString Content_Transfer_Encoding;  ///< transfer encoding as written
    QList<QCString> Received;   ///< every Received value, in header order
    QList<QCString> References; ///< referenced ids, without brackets
    DateClass Date;             ///< sending date
    /// The leaf parts in text order; owned by the message.
    std::vector<std::unique_ptr<MimePart>> partList;
    /// True when the top-level Content-Type is multipart/digest.
    bool digest;

private:
    QCString getPartHeader(const QCString& text, int offset, int length);
    void parseHeader(const QCString& header);
    // inDigest: the region is a part of a multipart/digest, whose parts
    // are message/rfc822 unless they say otherwise.
    void processPart(const QCString& text, int offset, int length, bool related, int depth = 0,
                     const QCString* knownHeader = nullptr, bool inDigest = false);
};
