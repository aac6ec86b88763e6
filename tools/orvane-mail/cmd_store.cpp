// Folder commands: import, list, show, parts, extract, raw, delete, copy,
// move, compact, expunge and check.

#include "command.h"

#include <dateclass.h>
#include <indexclass.h>
#include <localmailfolder.h>
#include <messagedevice.h>
#include <mimecodec.h>
#include <mimepart.h>
#include <orvaneversion.h>
#include <storeio_p.h>

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextCodec>

#include <algorithm>

namespace {

// Opens an existing folder. A missing directory is an error, and nothing
// is created or changed then.
std::unique_ptr<LocalMailFolder> openFolder(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isDir()) {
        tool::error(QStringLiteral("%1: no such folder").arg(path));
        return nullptr;
    }
    return std::make_unique<LocalMailFolder>(QDir::cleanPath(info.absoluteFilePath()));
}

IndexClass* findEntry(LocalMailFolder& f, const QString& id)
{
    IndexClass* e = f.indexIDict()->find(id);
    if (!e)
        tool::error(QStringLiteral("%1: no message %2").arg(f.getStorageDevice(), id));
    return e;
}

// A folder and one of its messages, for the commands that work on one.
struct StoredMessage {
    std::unique_ptr<LocalMailFolder> folder;
    IndexClass* entry = nullptr;
};

// Opens FOLDER and finds ID in it; a null entry (after an error message)
// when either is missing.
StoredMessage openMessage(const QString& folderPath, const QString& id)
{
    StoredMessage m;
    m.folder = openFolder(folderPath);
    if (m.folder)
        m.entry = findEntry(*m.folder, id);
    return m;
}

QString readState(const IndexClass* e)
{
    return e->getUnreadMark() ? QStringLiteral("unread") : QStringLiteral("read");
}

// The bytes of a part as a reader wants them: decoded, without the zero
// byte that the identity and quoted-printable decoders add.
QByteArray partContent(MessageDevice& dev, int n, bool* ok)
{
    QByteArray data;
    *ok = dev.getPartData(n, data);
    const QByteArray enc = dev[n] ? dev[n]->encoding.toLower() : QByteArray();
    if (*ok && enc != "base64" && data.endsWith('\0'))
        data.chop(1);
    return data;
}

QString textOf(const QByteArray& bytes, const QByteArray& charset)
{
    QTextCodec* codec = charset.isEmpty() ? nullptr : QTextCodec::codecForName(charset);
    return codec ? codec->toUnicode(bytes) : QString::fromLatin1(bytes);
}

// ---------------------------------------------------------------- import

// Reads an mbox file one message at a time, split at its "From " lines
// (which are not part of the messages), holding no more than the current
// message and a chunk of the file; a file that does not start with one is
// one message.
class MboxReader
{
public:
    explicit MboxReader(QIODevice& in) : _in(in) {}
    /// The next message; false at the end.
    bool next(QByteArray* out)
    {
        if (_done)
            return false;
        if (_start < 0 && !begin(out))
            return !out->isNull();  // the whole file, or nothing
        for (qsizetype from = _start - 1;;) {
            const qsizetype next = _data.indexOf("\nFrom ", from);
            if (next < 0) {
                from = qMax(_start - 1, _data.size() - 5);  // a match may straddle the chunks
                if (fill())
                    continue;
                _done = true;
                *out = _data.mid(_start);
                return !out->trimmed().isEmpty();
            }
            // The blank line before a "From " line belongs to the mbox format.
            qsizetype end = next + 1;
            if (end - _start >= 2 && _data.at(end - 2) == '\n')
                end -= 1;
            if (end - _start >= 3 && _data.at(end - 3) == '\r' && _data.at(end - 2) == '\n')
                end -= 2;
            *out = _data.mid(_start, end - _start);
            const qsizetype lineEnd = newlineFrom(next + 1);
            if (lineEnd < 0) {
                _done = true;
                return true;
            }
            _start = lineEnd + 1;
            if (_start > (1 << 20)) {
                // Drop what was read, keeping the newline before the start.
                _data.remove(0, _start - 1);
                _start = 1;
            }
            return true;
        }
    }

private:
    // Reads the first line. False when there is no mbox to split: then
    // \a out holds the whole file as one message (done), or nothing.
    bool begin(QByteArray* out)
    {
        while (_data.size() < 5 && fill()) {
        }
        if (!_data.startsWith("From ")) {
            while (fill()) {
            }
            *out = _data;
            _done = true;
            return false;
        }
        const qsizetype nl = newlineFrom(0);
        if (nl < 0) {
            _done = true;
            *out = QByteArray();
            return false;
        }
        _start = nl + 1;
        return true;
    }
    // The first newline at or after \a from, reading on as needed; -1 when
    // the input ends before one.
    qsizetype newlineFrom(qsizetype from)
    {
        qsizetype at = _data.indexOf('\n', from);
        while (at < 0) {
            const qsizetype scanned = _data.size();
            if (!fill())
                return -1;
            at = _data.indexOf('\n', scanned);
        }
        return at;
    }
    bool fill()
    {
        const QByteArray chunk = _in.read(4 << 20);
        _data += chunk;
        return !chunk.isEmpty();
    }
    QIODevice& _in;
    QByteArray _data;
    qsizetype _start = -1;  // where the current message starts; -1 before the first
    bool _done = false;
};

int runImport(QStringList args)
{
    if (tool::rejectUnknownOptions(args))
        return tool::ExitUsage;
    if (args.size() < 2) {
        tool::error(QStringLiteral("usage: import FOLDER FILE..."));
        return tool::ExitUsage;
    }
    const QString folderPath = args.takeFirst();
    QStringList files;
    for (const QString& a : std::as_const(args)) {
        const QFileInfo info(a);
        if (info.isDir()) {
            QDirIterator it(a, QDir::Files, QDirIterator::Subdirectories);
            QStringList found;
            while (it.hasNext())
                found << it.next();
            found.sort();
            files << found;
        } else if (info.isFile()) {
            files << a;
        } else {
            tool::error(QStringLiteral("%1: no such file").arg(a));
            return tool::ExitFailure;
        }
    }
    if (!QDir().mkpath(folderPath)) {
        tool::error(QStringLiteral("%1: cannot create the folder").arg(folderPath));
        return tool::ExitFailure;
    }
    auto folder = openFolder(folderPath);
    if (!folder)
        return tool::ExitFailure;
    const bool progress = Orvane::StoreIO::isTerminal(2);
    QElapsedTimer timer;
    timer.start();
    qint64 bytes = 0;
    int messages = 0, failed = 0;
    int fileNo = 0;
    qint64 shownAt = -1000;
    // A progress line at most twice a second: files, messages, megabytes
    // and the rate so far.
    auto showProgress = [&](bool last) {
        if (!progress || (!last && timer.elapsed() - shownAt < 500))
            return;
        shownAt = timer.elapsed();
        const double secs = qMax(shownAt, qint64(1)) / 1000.0;
        const QByteArray text = "\rfile " + QByteArray::number(fileNo) + "/" + QByteArray::number(files.size())
            + ", " + QByteArray::number(messages) + " messages, " + QByteArray::number(bytes / 1e6, 'f', 1)
            + " MB, " + QByteArray::number(messages / secs, 'f', 0) + " msgs/s   ";
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    };
    for (int i = 0; i < files.size(); ++i) {
        fileNo = i + 1;
        QFile f(files[i]);
        if (!f.open(QIODevice::ReadOnly)) {
            tool::error(QStringLiteral("%1: cannot read").arg(files[i]));
            ++failed;
            continue;
        }
        MboxReader reader(f);
        for (QByteArray m; reader.next(&m);) {
            // The source's unique ID is the text's digest: with an empty one
            // the folder would replace the message's own Message-ID, and
            // replies could no longer be threaded to it.
            const QCString uid(QCryptographicHash::hash(m, QCryptographicHash::Md5).toHex());
            const QString id = folder->createMessage(QCString(m), uid, QDateTime::currentDateTime(),
                                                     QString(), nullptr, true, 0);
            if (id.isNull()) {
                tool::error(QStringLiteral("%1: cannot store a message").arg(files[i]));
                ++failed;
                continue;
            }
            ++messages;
            bytes += m.size();
            if ((messages & 255) == 0)
                showProgress(false);
        }
        showProgress(i + 1 == files.size());
    }
    folder->sync();
    if (progress)
        std::fputc('\n', stderr);
    const double secs = qMax(timer.elapsed(), qint64(1)) / 1000.0;
    const double mb = bytes / 1e6;
    tool::writeLine(QStringLiteral("imported %1 messages, %2 MB in %3 s (%4 MB/s, %6 messages/s)%5")
                        .arg(messages)
                        .arg(mb, 0, 'f', 2)
                        .arg(secs, 0, 'f', 2)
                        .arg(mb / secs, 0, 'f', 1)
                        .arg(failed ? QStringLiteral(", %1 failed").arg(failed) : QString())
                        .arg(messages / secs, 0, 'f', 0));
    return failed ? tool::ExitFailure : tool::ExitOk;
}

// ---------------------------------------------------------------- list / show

// Reads single fields of descriptor records from the mapped descriptor
// file, without decoding whole records: sorting a large folder needs one
// field of every message, and a page needs whole descriptors of a few.
class DescriptorPeek
{
public:
    explicit DescriptorPeek(const QString& path) : _file(path)
    {
        if (_file.open(QIODevice::ReadOnly) && _file.size() > 0)
            _map = _file.map(0, _file.size());
        _size = _map ? _file.size() : 0;
    }
    ~DescriptorPeek()
    {
        if (_map)
            _file.unmap(_map);
    }
    // Field \a k (1 from, 3 subject, 7 sent date) of the record at \a off,
    // or a null string when the record does not hold it.
    QString field(qint64 off, qint64 len, int k) const
    {
        if (!_map || off < 0 || len <= 0 || off + len > _size)
            return QString();
        const uchar* p = _map + off;
        const uchar* end = p + len;
        for (int i = 1; i <= k; ++i) {
            if (i == 2 || i == 10) {  // string lists: to, flags
                quint32 n = 0;
                if (!word(p, end, &n))
                    return QString();
                for (quint32 j = 0; j < n; ++j)
                    if (!skipString(p, end))
                        return QString();
                continue;
            }
            if (i == k)
                return readString(p, end);
            if (!skipString(p, end))
                return QString();
        }
        return QString();
    }

private:
    static bool word(const uchar*& p, const uchar* end, quint32* v)
    {
        if (end - p < 4)
            return false;
        *v = quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
        p += 4;
        return true;
    }
    static bool skipString(const uchar*& p, const uchar* end)
    {
        quint32 n = 0;
        if (!word(p, end, &n))
            return false;
        if (n == 0xffffffffu)
            return true;
        if (qint64(n) > end - p)
            return false;
        p += n;
        return true;
    }
    static QString readString(const uchar*& p, const uchar* end)
    {
        quint32 n = 0;
        if (!word(p, end, &n) || n == 0xffffffffu || qint64(n) > end - p)
            return QString();
        QString s(qsizetype(n / 2), Qt::Uninitialized);
        for (quint32 i = 0; i < n / 2; ++i)
            s[i] = QChar(char16_t(p[2 * i] << 8 | p[2 * i + 1]));
        return s;
    }
    QFile _file;
    uchar* _map = nullptr;
    qint64 _size = 0;
};

int runList(QStringList args)
{
    const bool json = tool::takeFlag(args, QStringLiteral("--json"));
    bool missing = false;
    const QString limitText = tool::takeOption(args, QStringLiteral("--limit"), &missing);
    const QString offsetText = tool::takeOption(args, QStringLiteral("--offset"), &missing);
    const QString sort = tool::takeOption(args, QStringLiteral("--sort"), &missing);
    bool limitOk = true, offsetOk = true;
    const qint64 limit = limitText.isEmpty() ? -1 : limitText.toLongLong(&limitOk);
    const qint64 offset = offsetText.isEmpty() ? 0 : offsetText.toLongLong(&offsetOk);
    const int sortField = sort.isEmpty() ? 0
        : sort == QLatin1String("date")  ? 7
        : sort == QLatin1String("subject") ? 3
        : sort == QLatin1String("from")  ? 1
                                         : -1;
    if (missing || tool::rejectUnknownOptions(args) || args.size() != 1 || !limitOk || !offsetOk || limit < -1
        || offset < 0 || sortField < 0) {
        tool::error(QStringLiteral("usage: list FOLDER [--json] [--limit N] [--offset N] [--sort date|subject|from]"));
        return tool::ExitUsage;
    }
    auto folder = openFolder(args.first());
    if (!folder)
        return tool::ExitFailure;
    std::vector<IndexClass*> all = folder->indexIDict()->entries();
    const size_t from = size_t(qMin<qint64>(offset, qint64(all.size())));
    const size_t to = limit < 0 ? all.size() : size_t(qMin<qint64>(qint64(from) + limit, qint64(all.size())));
    std::vector<IndexClass*> page;
    if (sortField == 0) {
        page.assign(all.begin() + qsizetype(from), all.begin() + qsizetype(to));
    } else {
        // One field of every descriptor, read in place; only the first
        // `to` keys in order are kept (a bounded heap), ties in arrival order.
        const DescriptorPeek peek(folder->getDescriptorFileName());
        struct Key {
            qint64 date;
            QString text;
            size_t at;
        };
        auto less = [&](const Key& a, const Key& b) {
            if (sortField == 7) {
                if (a.date != b.date)
                    return a.date < b.date;
            } else if (const int c = a.text.compare(b.text, Qt::CaseInsensitive); c != 0) {
                return c < 0;
            } else if (const int exact = a.text.compare(b.text); exact != 0) {
                return exact < 0;
            }
            return a.at < b.at;
        };
        std::vector<Key> heap;
        for (size_t i = 0; i < all.size() && to > 0; ++i) {
            const IndexClass* e = all[i];
            Key k{0, QString(), i};
            const QString v = peek.field(e->getDescriptorOffset(), e->getDescriptorLength(), sortField);
            if (sortField == 7)
                k.date = DateClass(QCString(v.toLatin1())).toQDateTime().toSecsSinceEpoch();
            else
                k.text = v;
            if (heap.size() < to) {
                heap.push_back(std::move(k));
                std::push_heap(heap.begin(), heap.end(), less);
            } else if (less(k, heap.front())) {
                std::pop_heap(heap.begin(), heap.end(), less);
                heap.back() = std::move(k);
                std::push_heap(heap.begin(), heap.end(), less);
            }
        }
        std::sort_heap(heap.begin(), heap.end(), less);
        for (size_t i = from; i < heap.size(); ++i)
            page.push_back(all[heap[i].at]);
    }
    QJsonArray rows;
    for (IndexClass* e : page) {
        MessageDevice dev(e);
        dev.loadDescriptor(false);
        const MessageDescriptor& d = dev.getDescriptor();
        if (json) {
            rows.append(QJsonObject{{QStringLiteral("id"), e->getID()},
                                    {QStringLiteral("date"), d.sentDate},
                                    {QStringLiteral("from"), d.from},
                                    {QStringLiteral("subject"), d.subject},
                                    {QStringLiteral("read"), !e->getUnreadMark()},
                                    {QStringLiteral("size"), e->getSize()}});
        } else {
            tool::writeLine(QStringLiteral("%1  %2  %3  %4  %5  %6")
                                .arg(e->getID(), d.sentDate, d.from, d.subject, readState(e))
                                .arg(e->getSize()));
        }
    }
    if (json)
        tool::writeOut(QJsonDocument(rows).toJson(QJsonDocument::Indented));
    return tool::ExitOk;
}

int runShow(QStringList args)
{
    const bool html = tool::takeFlag(args, QStringLiteral("--html"));
    if (tool::rejectUnknownOptions(args))
        return tool::ExitUsage;
    if (args.size() != 2) {
        tool::error(QStringLiteral("usage: show FOLDER ID [--html]"));
        return tool::ExitUsage;
    }
    const StoredMessage m = openMessage(args[0], args[1]);
    if (!m.entry)
        return tool::ExitFailure;
    IndexClass* e = m.entry;
    MessageDevice dev(e);
    dev.loadDescriptor(false);
    const MessageDescriptor& d = dev.getDescriptor();
    tool::writeLine(QStringLiteral("From: ") + d.from);
    tool::writeLine(QStringLiteral("To: ") + d.to.join(QStringLiteral(", ")));
    if (!d.cc.isEmpty())
        tool::writeLine(QStringLiteral("Cc: ") + d.cc.join(QStringLiteral(", ")));
    tool::writeLine(QStringLiteral("Subject: ") + d.subject);
    tool::writeLine(QStringLiteral("Date: ") + d.sentDate);
    tool::writeLine(QString());
    // The text view (or with --html the HTML view); a message whose only
    // body is HTML shows that body in the text view too.
    const QString view = html ? dev.html(false) : dev.text(false);
    const int n = view.isEmpty() ? dev.messageText() : -1;
    if (!view.isEmpty())
        tool::writeLine(view);
    if (n >= 0) {
        bool ok = false;
        const QByteArray body = partContent(dev, n, &ok);
        if (ok)
            tool::writeLine(textOf(body, dev[n]->charset));
    }
    for (int i = 0; i < dev.getPartCount(); ++i)
        if (dev[i]->type == "attachment")
            tool::writeLine(QStringLiteral("[attachment %1: %2, %3]")
                                .arg(i)
                                .arg(MIMECodec::translate(dev[i]->name), QString::fromLatin1(dev[i]->mimetype)));
    return tool::ExitOk;
}

int runParts(QStringList args)
{
    if (tool::rejectUnknownOptions(args))
        return tool::ExitUsage;
    if (args.size() != 2) {
        tool::error(QStringLiteral("usage: parts FOLDER ID"));
        return tool::ExitUsage;
    }
    const StoredMessage m = openMessage(args[0], args[1]);
    if (!m.entry)
        return tool::ExitFailure;
    IndexClass* e = m.entry;
    for (int i = 0; i < e->getPartCount(); ++i) {
        const MimePart* p = e->getPartAt(i);
        tool::writeLine(QStringLiteral("%1  %2  %3  %4  %5  %6  %7  %8")
                            .arg(i)
                            .arg(QString::fromLatin1(p->type), QString::fromLatin1(p->mimetype),
                                 QString::fromLatin1(p->encoding), QString::fromLatin1(p->charset),
                                 MIMECodec::translate(p->name))
                            .arg(p->offset)
                            .arg(p->length));
    }
    return tool::ExitOk;
}

int runExtract(QStringList args)
{
    {
        // "extract FILE N" works on a message file, "extract FOLDER ID N"
        // on a stored message.
        QStringList positional = args;
        tool::takeOption(positional, QStringLiteral("-o"));
        tool::takeOption(positional, QStringLiteral("--output"));
        if (positional.size() == 2)
            return tool::extractFromFile(args);
    }
    bool missing = false;
    const QString out = tool::takeOption(args, QStringLiteral("-o"), &missing);
    if (missing || tool::rejectUnknownOptions(args) || args.size() != 3) {
        tool::error(QStringLiteral("usage: extract FOLDER ID N [-o OUT]"));
        return tool::ExitUsage;
    }
    const StoredMessage m = openMessage(args[0], args[1]);
    if (!m.entry)
        return tool::ExitFailure;
    IndexClass* e = m.entry;
    bool isNumber = false;
    const int n = args[2].toInt(&isNumber);
    if (!isNumber || n < 0 || n >= e->getPartCount()) {
        tool::error(QStringLiteral("no part %1 (the message has %2)").arg(args[2]).arg(e->getPartCount()));
        return tool::ExitFailure;
    }
    MessageDevice dev(e);
    bool ok = false;
    const QByteArray data = partContent(dev, n, &ok);
    if (!ok) {
        tool::error(QStringLiteral("cannot read part %1").arg(n));
        return tool::ExitFailure;
    }
    if (out.isEmpty() || out == QLatin1String("-"))
        return tool::writeOut(data) ? tool::ExitOk : tool::ExitFailure;
    QFile f(tool::partOutputPath(out, e->getPartAt(n)->name));  // a directory: the part's name
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size()) {
        tool::error(QStringLiteral("%1: cannot write").arg(f.fileName()));
        return tool::ExitFailure;
    }
    return tool::ExitOk;
}

int runRaw(QStringList args)
{
    if (tool::rejectUnknownOptions(args) || args.size() != 2) {
        tool::error(QStringLiteral("usage: raw FOLDER ID"));
        return tool::ExitUsage;
    }
    const StoredMessage m = openMessage(args[0], args[1]);
    if (!m.entry)
        return tool::ExitFailure;
    IndexClass* e = m.entry;
    const QCString text = MessageDevice(e).rfc822Message();
    if (text.isNull()) {
        tool::error(QStringLiteral("cannot read the message text"));
        return tool::ExitFailure;
    }
    return tool::writeOut(text) ? tool::ExitOk : tool::ExitFailure;
}

// ---------------------------------------------------------------- changes

int runDelete(QStringList args)
{
    if (tool::rejectUnknownOptions(args) || args.size() < 2) {
        tool::error(QStringLiteral("usage: delete FOLDER ID..."));
        return tool::ExitUsage;
    }
    auto folder = openFolder(args.takeFirst());
    if (!folder)
        return tool::ExitFailure;
    for (const QString& id : std::as_const(args))
        if (!findEntry(*folder, id))
            return tool::ExitFailure;
    if (!folder->deleteMessage(args)) {
        tool::error(QStringLiteral("deletion failed"));
        return tool::ExitFailure;
    }
    return tool::ExitOk;
}

int runCopyMove(QStringList args, bool move)
{
    bool missing = false;
    const QString dest = tool::takeOption(args, QStringLiteral("--to"), &missing);
    if (missing || dest.isEmpty() || tool::rejectUnknownOptions(args) || args.size() < 2) {
        tool::error(QStringLiteral("usage: %1 FOLDER ID... --to DEST").arg(move ? QStringLiteral("move") : QStringLiteral("copy")));
        return tool::ExitUsage;
    }
    auto source = openFolder(args.takeFirst());
    if (!source)
        return tool::ExitFailure;
    for (const QString& id : std::as_const(args))
        if (!findEntry(*source, id))
            return tool::ExitFailure;
    if (!QDir().mkpath(dest)) {
        tool::error(QStringLiteral("%1: cannot create the folder").arg(dest));
        return tool::ExitFailure;
    }
    auto target = openFolder(dest);
    if (!target)
        return tool::ExitFailure;
    const bool ok = move ? target->moveMessage(args) : target->copyMessage(args);
    if (!ok) {
        tool::error(move ? QStringLiteral("move failed") : QStringLiteral("copy failed"));
        return tool::ExitFailure;
    }
    return tool::ExitOk;
}

int runCompact(QStringList args, bool expunge)
{
    const bool force = expunge && tool::takeFlag(args, QStringLiteral("--force"));
    if (tool::rejectUnknownOptions(args) || args.size() != 1) {
        tool::error(expunge ? QStringLiteral("usage: expunge FOLDER [--force]") : QStringLiteral("usage: compact FOLDER"));
        return tool::ExitUsage;
    }
    auto folder = openFolder(args.first());
    if (!folder)
        return tool::ExitFailure;
    if (expunge) {
        const bool done = folder->expunge(force);
        tool::writeLine(done ? QStringLiteral("compacted") : QStringLiteral("not enough waste to compact (use --force)"));
        return tool::ExitOk;
    }
    if (!folder->compact(0)) {
        tool::error(QStringLiteral("%1: cannot compact (files missing or unreadable)").arg(args.first()));
        return tool::ExitFailure;
    }
    return tool::ExitOk;
}

// ---------------------------------------------------------------- check

// Validates the folder's files without changing anything: reads the index
// file itself (not through a folder object, which would finish an
// interrupted compaction) and checks every record against the other files.
int runCheck(QStringList args)
{
    if (tool::rejectUnknownOptions(args) || args.size() != 1) {
        tool::error(QStringLiteral("usage: check FOLDER"));
        return tool::ExitUsage;
    }
    const QString dir = args.first();
    if (!QFileInfo(dir).isDir()) {
        tool::error(QStringLiteral("%1: no such folder").arg(dir));
        return tool::ExitFailure;
    }
    int problems = 0;
    auto problem = [&](const QString& text) {
        ++problems;
        tool::writeLine(QStringLiteral("problem: ") + text);
    };
    for (const char* leftover : {"/messagesnew", "/descriptornew", "/indexnew", "/compact.commit"})
        if (QFile::exists(dir + QLatin1String(leftover)))
            problem(QStringLiteral("an interrupted compaction left %1 (it is finished or undone when the folder is next opened)")
                        .arg(QLatin1String(leftover + 1)));
    const qint64 msgSize = QFileInfo(dir + QLatin1String("/messages")).size();
    const qint64 descSize = QFileInfo(dir + QLatin1String("/descriptor")).size();
    QFile index(dir + QLatin1String("/index"));
    if (!index.open(QIODevice::ReadOnly)) {
        tool::writeLine(QStringLiteral("no index file: the folder is empty"));
        return problems ? tool::ExitFailure : tool::ExitOk;
    }
    QDataStream s(&index);
    s.setVersion(QDataStream::Qt_3_3);
    QString header;
    s >> header;
    if (header != QLatin1String(ORVANE_MAIL_VERSION)) {
        problem(QStringLiteral("index header is \"%1\", expected \"%2\"").arg(header, QLatin1String(ORVANE_MAIL_VERSION)));
        return tool::ExitFailure;
    }
    QHash<QString, int> seen;
    int records = 0;
    while (!s.atEnd()) {
        const qint64 at = index.pos();
        IndexClass e(nullptr, QString());
        s >> e;
        if (s.status() != QDataStream::Ok) {
            problem(QStringLiteral("index record at byte %1 is damaged; %2 bytes after it are unreadable")
                        .arg(at).arg(index.size() - at));
            break;
        }
        ++records;
        seen[e.getID()]++;
        const QString who = e.getID().isEmpty() ? QStringLiteral("(no ID)") : e.getID();
        if (e.getID().isEmpty())
            problem(QStringLiteral("index record at byte %1 has no ID").arg(at));
        if (e.getDescriptorOffset() < 0 || e.getDescriptorLength() < 0
            || e.getDescriptorOffset() + e.getDescriptorLength() > descSize)
            problem(QStringLiteral("%1: descriptor record outside the descriptor file").arg(who));
        if (e.getUniblockOffset() < 0 || e.getUniblockLength() < 0
            || e.getUniblockOffset() + e.getUniblockLength() > msgSize)
            problem(QStringLiteral("%1: message text outside the messages file").arg(who));
        for (int i = 0; i < e.getPartCount(); ++i) {
            const MimePart* p = e.getPartAt(i);
            if (p->offset < 0 || p->length < 0 || qint64(p->offset) + p->length > msgSize)
                problem(QStringLiteral("%1: part %2 outside the messages file").arg(who).arg(i));
        }
    }
    int messages = 0;
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        ++messages;
    tool::writeLine(QStringLiteral("%1 index records, %2 messages, %3 problems").arg(records).arg(messages).arg(problems));
    return problems ? tool::ExitFailure : tool::ExitOk;
}

using tool::Command;
const Command::Registrar importCmd({QStringLiteral("import"), QStringLiteral("import FOLDER FILE|DIR..."),
    QStringLiteral("Stores messages in FOLDER (created when missing): files of one message each, mbox\n"
                   "files (split at their \"From \" lines) or directories of such files. Prints a summary."),
    runImport});
const Command::Registrar listCmd({QStringLiteral("list"),
    QStringLiteral("list FOLDER [--json] [--limit N] [--offset N] [--sort date|subject|from]"),
    QStringLiteral("Lists the messages of FOLDER: ID, date, sender, subject, read state, size. A page\n"
                   "(--offset, --limit) of a large folder reads only its own descriptors; --sort\n"
                   "orders by sent date, subject or sender, reading that one field of each message."),
    runList});
const Command::Registrar showCmd({QStringLiteral("show"), QStringLiteral("show FOLDER ID [--html]"),
    QStringLiteral("Shows a message's main headers and its text (with --html its HTML view)."), runShow});
const Command::Registrar partsCmd({QStringLiteral("parts"), QStringLiteral("parts FOLDER ID"),
    QStringLiteral("Lists a message's parts: index, type, media type, encoding, charset, name, offset, length."), runParts});
const Command::Registrar extractCmd({QStringLiteral("extract"), QStringLiteral("extract FOLDER ID N [-o OUT] | extract FILE N [-o OUT]"),
    QStringLiteral("Writes part N of a stored message (FOLDER ID) or of a message file (FILE, parts\n"
                   "numbered as by 'parse'), decoded (base64 and quoted-printable), to OUT or to\n"
                   "standard output. When OUT is a directory, the file in it takes the part's\n"
                   "decoded name."), runExtract});
const Command::Registrar rawCmd({QStringLiteral("raw"), QStringLiteral("raw FOLDER ID"),
    QStringLiteral("Writes a message's stored RFC 822 text to standard output."), runRaw});
const Command::Registrar deleteCmd({QStringLiteral("delete"), QStringLiteral("delete FOLDER ID..."),
    QStringLiteral("Deletes messages (one compaction for all of them). Unknown IDs delete nothing."), runDelete});
const Command::Registrar copyCmd({QStringLiteral("copy"), QStringLiteral("copy FOLDER ID... --to DEST"),
    QStringLiteral("Copies messages into the folder DEST (created when missing)."),
    [](const QStringList& a) { return runCopyMove(a, false); }});
const Command::Registrar moveCmd({QStringLiteral("move"), QStringLiteral("move FOLDER ID... --to DEST"),
    QStringLiteral("Moves messages into the folder DEST (created when missing)."),
    [](const QStringList& a) { return runCopyMove(a, true); }});
const Command::Registrar compactCmd({QStringLiteral("compact"), QStringLiteral("compact FOLDER"),
    QStringLiteral("Rewrites the folder's files without dead records (atomically)."),
    [](const QStringList& a) { return runCompact(a, false); }});
const Command::Registrar expungeCmd({QStringLiteral("expunge"), QStringLiteral("expunge FOLDER [--force]"),
    QStringLiteral("Compacts when more than 100 KiB of the folder's files is waste (always with --force)."),
    [](const QStringList& a) { return runCompact(a, true); }});
const Command::Registrar checkCmd({QStringLiteral("check"), QStringLiteral("check FOLDER"),
    QStringLiteral("Validates every index record and offset; reports problems, changes nothing."), runCheck});

} // namespace
