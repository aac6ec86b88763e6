#include "messagedevice.h"

#include "addressclass.h"
#include "addresslistclass.h"
#include "charsets.h"
#include "dateclass.h"
#include "indexclass.h"
#include "mailfolder.h"
#include "mimecodec.h"
#include "mimepart.h"
#include "orvanelog_p.h"
#include "storefile_p.h"
#include "storeio_p.h"
#include "streamio_p.h"

#include <QBuffer>
#include <QFile>
#include <QLocale>
#include <QTextCodec>

#include <orvaneversion.h>

#include <cstring>

#include <limits>

namespace {

// Reads \a len bytes at \a off of \a path, or nothing (a null array) when
// the file cannot be opened or does not hold them all.
QByteArray readRange(const QString& path, qint64 off, qint64 len, bool* opened = nullptr)
{
    // One read at the offset, straight into the result: no read buffer
    // of the file's own for a single record.
    QFile f(path);
    const bool ok = !path.isEmpty() && f.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    if (opened)
        *opened = ok;
    if (!ok || off < 0 || len <= 0 || off + len > f.size())
        return QByteArray();
    QByteArray data(qsizetype(len), Qt::Uninitialized);
    if (!Orvane::StoreIO::readAt(f, off, data.data(), len))
        return QByteArray();
    return data;
}

} // namespace

MessageDevice::MessageDevice(IndexClass* index) : _index(index) {}

MessageDevice::~MessageDevice() = default;

void MessageDevice::loadDescriptor(bool fast)
{
    if (!_index || _index->getDescriptorLength() <= 0)
        return;
    const QByteArray record = readRange(_index->getDescriptorFileName(),
                                        _index->getDescriptorOffset(),
                                        _index->getDescriptorLength());
    if (record.isNull())
        return;
    // Read into a copy: a damaged record must not leave half-read values.
    MessageDescriptor d = _descriptor;
    QDataStream s(record);
    Orvane::setupClassicStream(s);
    d.setCoreLoad(fast);
    s >> d;
    d.setCoreLoad(false);
    if (!Orvane::streamOk(s))
        return;
    if (fast) {
        // The file holds full records: in a core read, the two values that
        // follow the core block belong to the full-only block. Keep ours.
        d.attachments = _descriptor.attachments;
        d.size = _descriptor.size;
    }
    _descriptor = d;
}

void MessageDevice::saveDescriptor()
{
    if (!_index)
        return;
    QFile f(_index->getDescriptorFileName());
    if (_index->getDescriptorFileName().isEmpty() || !f.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QByteArray record;
    {
        QDataStream s(&record, QIODevice::WriteOnly);
        Orvane::setupClassicStream(s);
        s << _descriptor;
    }
    const qint64 start = f.size();
    if (start + record.size() > std::numeric_limits<qint32>::max())
        return;
    if (f.write(record) != record.size() || !f.flush()) {
        f.resize(start);
        return;
    }
    f.close();
    _index->setDescriptorOffset(long(start));
    _index->setDescriptorLength(long(record.size()));
    if (MailFolder* folder = _index->getParentFolder())
        folder->saveIndex(_index);
}

int MessageDevice::getPartCount() const
{
    return _index ? _index->getPartCount() : 0;
}

MimePart* MessageDevice::operator[](int i) const
{
    return _index ? _index->getPartAt(i) : nullptr;
}

int MessageDevice::createPart()
{
    _index->setMultipartOnly(true);
    const int at = _index->addPart(std::make_unique<MimePart>(), false);
    if (MailFolder* folder = _index->getParentFolder())
        folder->saveIndex(_index);
    return at;
}

bool MessageDevice::getPartData(int partIndex, QByteArray& data)
{
    data = QByteArray();
    const int count = getPartCount();
    if (partIndex < 0 || partIndex >= count) {
        orvaneDebug("messagedevice: part out of scope (%d parts registered)", count);
        return false;
    }
    const MimePart* part = _index->getPartAt(partIndex);
    if (part->length < 1) {
        orvaneDebug("messagedevice: empty part");
        return true;
    }
    bool opened = false;
    QByteArray raw = readRange(_index->getDataFilename(), part->offset, part->length, &opened);
    if (!opened) {
        orvaneDebug("messagedevice: could not open file");
        return false;
    }
    if (raw.isNull()) {
        orvaneDebug("messagedevice: part lies outside the messages file");
        return false;
    }
    raw.append('\0');
    data = MIMECodec::decode(raw, part->encoding.constData());
    return true;
}

bool MessageDevice::hasAttachments() const
{
    for (int i = 0; i < getPartCount(); ++i)
        if (_index->getPartAt(i)->type == "attachment")
            return true;
    return false;
}

namespace {
bool selectParts(const IndexClass* index, const char* mimetype, QList<int>* list)
{
    bool any = false;
    for (int i = 0; index && i < index->getPartCount(); ++i) {
        const MimePart* p = index->getPartAt(i);
        if ((p->type == "text" || p->type == "attachment") && p->mimetype == mimetype) {
            any = true;
            if (list)
                list->append(i);
        }
    }
    return any;
}
} // namespace

bool MessageDevice::textPart(QList<int>* list) const
{
    return selectParts(_index, "text/plain", list);
}

bool MessageDevice::htmlPart(QList<int>* list) const
{
    return selectParts(_index, "text/html", list);
}

int MessageDevice::messageText() const
{
    for (int i = 0; i < getPartCount(); ++i) {
        const MimePart* p = _index->getPartAt(i);
        if (p->type == "text" && (p->mimetype == "text/plain" || p->mimetype == "text/html"))
            return i;
    }
    return -1;
}

QByteArray MessageDevice::getEntryCacheBlock()
{
    loadDescriptor(true);
    const MessageDescriptor& d = _descriptor;
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    Orvane::setupClassicStream(s);
    s << d.status;
    Orvane::writeStringList(s, d.extendedStatus);
    s << quint8(d.flag) << quint8(hasAttachments() ? 1 : 0) << quint8(d.red) << quint8(d.green)
      << quint8(d.blue);
    s << d.from;
    Orvane::writeStringList(s, d.to);
    s << d.subject << d.sentDate << d.receivedDate << d.scheduling << d.priority << d.parentIndexID;
    s << qint32(_index ? _index->getSize() : 0);
    s << d.contentType << d.inReplyTo;
    Orvane::writeStringList(s, d.references);
    return out;
}

QCString MessageDevice::rfc822Message() const
{
    if (!_index)
        return QCString();
    if (_index->getUniblockLength() == 0)
        return QCString("");
    return QCString(readRange(_index->getDataFilename(), _index->getUniblockOffset(),
                              _index->getUniblockLength()));
}

// ---------------------------------------------------------------- composition

namespace {

// A header value taken from stored or host-given text never ends its line
// early: CR and LF (and the NUL that would cut a C string) become blanks.
QByteArray headerSafe(QByteArray v)
{
    for (char& c : v)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    return v;
}

QByteArray headerSafe(const QString& v)
{
    return headerSafe(v.toLatin1());
}

// "Date:" value: RFC 5322 date-time with seconds and the local zone.
QByteArray rfc5322Date(const QDateTime& now)
{
    const int offset = now.offsetFromUtc() / 60;
    const int a = qAbs(offset);
    return QLocale::c().toString(now, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss")).toLatin1() + ' '
        + (offset < 0 ? '-' : '+') + QByteArray::number(a / 60).rightJustified(2, '0')
        + QByteArray::number(a % 60).rightJustified(2, '0');
}

// To and Cc lines: addresses joined by ", "; once the header text passes
// 75 characters every further address starts a continuation line.
QByteArray addressLine(const char* name, const QStringList& list)
{
    const QStringList addrs =
        AddressListClass(list.join(QStringLiteral(", ")), true).toQStringList();
    QByteArray line(name);
    for (int i = 0; i < addrs.size(); ++i) {
        const QByteArray a = headerSafe(addrs[i]);
        line += a;
        if (i + 1 < addrs.size()) {
            line += ", ";
            if (line.size() + headerSafe(addrs[i + 1]).size() > 75)
                line += "\n\t";
        }
    }
    return line + '\n';
}

QByteArray subjectText(const QString& subjectIn)
{
    QString subject = subjectIn;
    subject.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QByteArray ascii = subject.toLatin1();
    if (QString::fromLatin1(ascii) == subject && CharSets::isRFC822(QCString(ascii)))
        return ascii;
    auto b64 = [](const QByteArray& bytes) {
        QByteArray e = MIMECodec::encodeBase64(bytes, false, false);
        e.chop(1);  // the counted NUL
        return e;
    };
    if (QString::fromUtf8(subject.toUtf8()) != subject) {
        if (QTextCodec* codec = CharSets::getCodec(subject))
            return "=?" + codec->name() + "?B?" + b64(codec->fromUnicode(subject)) + "?=";
    }
    return "=?utf-8?B?" + b64(subject.toUtf8()) + "?=";
}

// A quoted-string parameter value: quotes and backslashes become
// quoted-pairs (RFC 5322), so a name cannot end the string early.
QByteArray quoted(const QByteArray& v)
{
    QByteArray out;
    out.reserve(v.size() + 2);
    out += '"';
    for (char c : headerSafe(v)) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

bool isBoundaryChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
        || std::strchr("'()+_,-./:=?", c) != nullptr;
}

// The boundary: "-boundary", the date text (blanks made "_", lower case)
// and the index ID, kept to RFC 2046's characters and 70 characters, and
// changed until no body holds it.
QByteArray chooseBoundary(const QByteArray& dateText, const QString& indexID,
                          const std::vector<QByteArray>& bodies)
{
    QByteArray date = dateText.toLower();
    for (char& c : date)
        if (QChar::isSpace(uchar(c)))
            c = '_';
    QByteArray base = "-boundary" + date + indexID.toLatin1();
    QByteArray clean;
    for (char c : base)
        if (isBoundaryChar(c))
            clean += c;
    clean.truncate(70);
    QByteArray candidate = clean;
    for (int n = 1;; ++n) {
        bool clash = false;
        for (const QByteArray& b : bodies)
            if (b.contains(candidate)) {
                clash = true;
                break;
            }
        if (!clash)
            return candidate;
        const QByteArray suffix = "=_" + QByteArray::number(n);
        candidate = clean.left(70 - suffix.size()) + suffix;
    }
}

} // namespace

bool MessageDevice::setPartData(int partIndex, const QByteArray& data)
{
    if (partIndex < 0 || partIndex >= getPartCount() || data.isEmpty())
        return false;
    return saveMessage(partIndex, data);
}

bool MessageDevice::deletePart(int partIndex)
{
    if (!_index || !_index->removePart(partIndex))
        return false;
    _index->setMultipartOnly(true);
    saveMessage(-1, QByteArray());
    return true;
}

bool MessageDevice::saveMessage(int iPart, const QByteArray& data)
{
    if (!_index)
        return false;
    loadDescriptor(false);
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray shortDate = QCString(DateClass(now));
    const MessageDescriptor& d = _descriptor;
    const QString fileName = _index->getDataFilename();
    const int count = _index->getPartCount();
    const bool newContent = iPart >= 0 && iPart < count && !data.isEmpty();

    QByteArray text;
    text += "Date: " + rfc5322Date(now) + '\n';
    text += addressLine("To: ", d.to);
    if (!d.cc.isEmpty())
        text += addressLine("Cc: ", d.cc);
    text += "From: " + headerSafe(AddressClass(d.from).getOriginalAddress()) + '\n';
    if (!d.replyTo.isEmpty())
        text += "Reply-To: " + headerSafe(AddressClass(d.replyTo).getOriginalAddress()) + '\n';
    text += "Subject: " + subjectText(d.subject) + '\n';
    text += "Message-ID: <" + headerSafe(d.messageID) + ">\n";
    if (!d.inReplyTo.isEmpty()) {
        text += "In-Reply-To: <" + headerSafe(d.inReplyTo) + ">\n";
        if (!d.references.isEmpty()) {
            QStringList refs;
            for (const QString& r : d.references)
                refs << QString::fromLatin1(headerSafe(r));
            text += "References: <" + refs.join(QStringLiteral("> <")).toLatin1() + ">\n";
        }
    }
    if (!d.priority.isEmpty())
        text += "Priority: " + headerSafe(d.priority) + '\n';
    text += "X-Mailer: Orvane " ORVANE_MAIL_VERSION "\n";
    text += "X-Orvane-Generated: header (rfc822), reference id " + headerSafe(d.indexID) + '\n';
    text += "MIME-Version: 1.0\n";
    const QString extraTag = QStringLiteral("HEADER_EXTRA ");
    if (d.extraInfo.startsWith(extraTag) && d.extraInfo.size() > extraTag.size()) {
        // The host's own header lines, verbatim; they must end their last
        // line before the content headers follow.
        QByteArray extra = d.extraInfo.mid(extraTag.size()).toLatin1();
        if (!extra.endsWith('\n'))
            extra += '\n';
        text += extra;
    }

    // The bodies: new content encoded here, the others copied as stored.
    // The messages file is needed only when a stored body must be copied.
    auto failed = [&](const char* diagnostic) {
        orvaneDebug(diagnostic, QFile::encodeName(fileName).constData());
        return false;
    };
    std::vector<QByteArray> bodies(static_cast<size_t>(count));
    QFile in(fileName);
    for (int i = 0; i < count; ++i) {
        MimePart* p = _index->getPartAt(i);
        if (i == iPart && newContent)
            continue;  // encoded below, once the footer flag is known
        if (p->length <= 0)
            continue;
        if ((!in.isOpen() && !in.open(QIODevice::ReadOnly)) || p->offset < 0
            || qint64(p->offset) + p->length > in.size() || !in.seek(p->offset))
            return failed("No reading rights for %s");
        bodies[size_t(i)] = in.read(p->length);
    }
    in.close();
    int lastText = 0;
    for (int i = 0; i < count; ++i)
        if (_index->getPartAt(i)->type == "text")
            lastText = i;
    if (newContent) {
        MimePart* p = _index->getPartAt(iPart);
        const bool footer = count > 1 && iPart == lastText;
        QByteArray encoded = MIMECodec::encode(data, p->encoding.constData(), footer);
        const QByteArray enc = p->encoding.toLower();
        // The codecs end quoted-printable and base64 text with a counted
        // terminator that is not body data; other encodings are the data.
        if ((enc == "base64" || enc.startsWith("quoted-printable")) && encoded.endsWith('\0'))
            encoded.chop(1);
        bodies[size_t(iPart)] = encoded;
    }

    std::vector<std::pair<qint64, qint64>> places(static_cast<size_t>(count));
    auto appendBody = [&](int i) {
        places[size_t(i)] = {text.size(), bodies[size_t(i)].size()};
        text += bodies[size_t(i)];
    };
    if (count == 1) {
        const MimePart* p = _index->getPartAt(0);
        text += "Content-Type: " + p->mimetype;
        if (!p->charset.isEmpty())
            text += "; charset=" + p->charset;
        text += "\nContent-Transfer-Encoding: " + p->encoding + "\n\n";
        appendBody(0);
    } else if (count > 1) {
        const QByteArray boundary = chooseBoundary(shortDate, d.indexID, bodies);
        text += "Content-Type: multipart/related;\n\tboundary=\"" + boundary + "\"\n";
        for (int i = 0; i < count; ++i) {
            MimePart* p = _index->getPartAt(i);
            // The line end before "--" belongs to the delimiter: a body is
            // followed directly by "\n--boundary", so it keeps its bytes.
            text += i == 0 ? "\n\n--" : "\n--";
            text += boundary + '\n';
            QByteArray ct = "Content-Type: " + p->mimetype;
            if (p->type == "text" && !p->charset.isEmpty()) {
                ct += "; charset=" + p->charset;
            } else if (p->type == "attachment") {
                if (p->name.isEmpty())
                    p->name = "attachment.dat";
                const QByteArray param = "; name=" + quoted(p->name);
                if (ct.size() + param.size() > 75)
                    ct += "\n\t";
                ct += param;
            }
            text += ct + '\n';
            text += "Content-Transfer-Encoding: " + p->encoding + '\n';
            if (!p->cid.isEmpty())
                text += "Content-ID: <" + headerSafe(QByteArray(p->cid)) + ">\n";
            if (p->type == "attachment") {
                const QByteArray first = "Content-Disposition: attachment; ";
                const QByteArray second = "filename=" + quoted(p->name);
                text += first + (first.size() + second.size() > 75 ? "\n\t" : "") + second + "\n\n";
            } else {
                text += '\n';
            }
            appendBody(i);
        }
        text += "\n--" + boundary + "--\n";
    }

    // Write the new copy behind the others.
    QFile out(fileName);
    if (fileName.isEmpty() || !out.open(QIODevice::WriteOnly | QIODevice::Append))
        return failed("No writing rights for %s");
    const QByteArray separator = Orvane::separatorLine(now);
    const qint64 start = out.size();
    const qint64 blockOffset = start + separator.size();
    if (blockOffset + text.size() + 2 > std::numeric_limits<qint32>::max())
        return failed("No writing rights for %s");  // offsets would not fit the records
    if (out.write(separator + text + "\r\n") != separator.size() + text.size() + 2 || !out.flush()) {
        out.resize(start);
        return failed("No writing rights for %s");
    }
    out.close();
    _index->setUniblockOffset(long(blockOffset), false);
    _index->setUniblockLength(long(text.size()));

    loadDescriptor(false);
    _descriptor.size = 0;
    _descriptor.attachments = 0;
    for (int i = 0; i < count; ++i) {
        MimePart* p = _index->getPartAt(i);
        p->offset = qint32(places[size_t(i)].first + blockOffset);
        p->length = qint32(places[size_t(i)].second);
        _descriptor.size += unsigned(p->length);
        if (p->type == "attachment")
            _descriptor.attachments = 1;
    }
    saveDescriptor();
    return true;
}

// ---------------------------------------------------------------- views

namespace {

QString toUnicode(const QByteArray& bytesIn, const MimePart* p)
{
    const QByteArray bytes = QCString(bytesIn).upToNul();
    if (QTextCodec* codec = p->charset.isEmpty() ? nullptr : QTextCodec::codecForName(p->charset))
        return codec->toUnicode(bytes);
    if (p->charset.toLower() == "utf-8")
        return QString::fromUtf8(bytes);
    if (p->encoding.toLower() == "8bit")
        return QString::fromLocal8Bit(bytes);
    return QString::fromLatin1(bytes);
}

const char HtmlSeparator[] =
    "                            <br>&nbsp;                            "
    "<p>-------- Attachment Part ---------                            <br>&nbsp;"
    "                            ";
static_assert(sizeof(HtmlSeparator) - 1 == 169, "the HTML separator has 169 characters");

} // namespace

QString MessageDevice::text(bool bAllTextParts)
{
    QList<int> list;
    textPart(&list);
    QString out;
    for (int i : std::as_const(list)) {
        const MimePart* p = _index->getPartAt(i);
        const bool attachment = p->type == "attachment";
        if (attachment && !bAllTextParts)
            continue;
        QByteArray data;
        getPartData(i, data);
        if (attachment)
            out += QLatin1String("\n-------- Attachment ---------\n");
        out += toUnicode(data, p);
    }
    return out;
}

QString MessageDevice::html(bool bAllHTMLParts)
{
    QList<int> list;
    bool plain = false;
    if (!htmlPart(&list)) {
        textPart(&list);
        plain = true;
    }
    QString out;
    for (int i : std::as_const(list)) {
        const MimePart* p = _index->getPartAt(i);
        const bool attachment = p->type == "attachment";
        if (attachment && !bAllHTMLParts)
            continue;
        QByteArray data;
        getPartData(i, data);
        if (attachment)
            out += QLatin1String(HtmlSeparator);
        QString part = toUnicode(data, p);
        if (plain) {
            // Plain text shown in an HTML view must display as the text it
            // is: markup in it is escaped, line breaks stay visible.
            part = part.toHtmlEscaped();
            part.replace(QLatin1Char('\n'), QLatin1String("<br>\n"));
        }
        out += part;
    }
    return out;
}
