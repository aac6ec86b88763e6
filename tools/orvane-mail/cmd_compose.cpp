// compose and thread: writing a new message into a folder through the
// library's composition path, and linking a folder's replies into threads.

#include "command.h"

#include <indexclass.h>
#include <localmailfolder.h>
#include <messageclass.h>
#include <messagedevice.h>
#include <mimepart.h>

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QSet>
#include <QStringDecoder>

#include <vector>

namespace {

// Every value of a repeatable option, in order.
QStringList takeAll(QStringList& args, const QString& name, bool* missing)
{
    QStringList out;
    for (;;) {
        const QString v = tool::takeOption(args, name, missing);
        if (v.isNull())
            return out;
        out << v;
    }
}

// The charset a text file is labelled with: us-ascii for plain ASCII,
// utf-8 for valid UTF-8, otherwise Latin-1 (every byte is a character).
QByteArray charsetOf(const QByteArray& data)
{
    bool ascii = true;
    for (char c : data)
        if (uchar(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return "us-ascii";
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)QString(utf8(data));
    return utf8.hasError() ? QByteArray("iso-8859-1") : QByteArray("utf-8");
}

struct NewPart {
    QByteArray type, mimetype, encoding, charset, name, data;
};

int runCompose(QStringList args)
{
    bool missing = false;
    const QString from = tool::takeOption(args, QStringLiteral("--from"), &missing);
    const QStringList to = takeAll(args, QStringLiteral("--to"), &missing);
    const QStringList cc = takeAll(args, QStringLiteral("--cc"), &missing);
    const QString subject = tool::takeOption(args, QStringLiteral("--subject"), &missing);
    const QString textFile = tool::takeOption(args, QStringLiteral("--text"), &missing);
    const QString htmlFile = tool::takeOption(args, QStringLiteral("--html"), &missing);
    const QStringList attachments = takeAll(args, QStringLiteral("--attach"), &missing);
    const QString inReplyTo = tool::takeOption(args, QStringLiteral("--in-reply-to"), &missing);
    const QStringList references = takeAll(args, QStringLiteral("--reference"), &missing);
    if (missing || from.isEmpty() || to.isEmpty() || subject.isNull() || tool::rejectUnknownOptions(args)
        || args.size() != 1) {
        tool::error(QStringLiteral("usage: compose FOLDER --from A --to B [--to C...] [--cc C...] --subject S\n"
                                   "       [--text FILE] [--html FILE] [--attach FILE...]"));
        return tool::ExitUsage;
    }

    // Read every input before anything is written to the folder.
    std::vector<NewPart> parts;
    auto addText = [&](const QString& file, const char* mimetype) {
        bool ok = false;
        const QByteArray data = tool::readAll(file, &ok);
        if (ok)
            parts.push_back({"text", mimetype, "quoted-printable", charsetOf(data), QByteArray(), data});
        return ok;
    };
    if (!textFile.isNull() && !addText(textFile, "text/plain"))
        return tool::ExitFailure;
    if (!htmlFile.isNull() && !addText(htmlFile, "text/html"))
        return tool::ExitFailure;
    const QMimeDatabase mimes;
    for (const QString& file : attachments) {
        bool ok = false;
        const QByteArray data = tool::readAll(file, &ok);
        if (!ok)
            return tool::ExitFailure;
        // By name and content; an empty file by its name alone (its content
        // says only "empty").
        const QMimeType type = data.isEmpty() ? mimes.mimeTypeForFile(file, QMimeDatabase::MatchExtension)
                                              : mimes.mimeTypeForFileNameAndData(file, data);
        QByteArray mimetype = type.name().toLatin1();
        // message/* and multipart/* bodies may not be base64 (RFC 2046): a
        // file that looks like one travels as plain data.
        if (mimetype.isEmpty() || mimetype.startsWith("message/") || mimetype.startsWith("multipart/"))
            mimetype = "application/octet-stream";
        parts.push_back({"attachment", mimetype, "base64", QByteArray(),
                         QFileInfo(file).fileName().toUtf8(), data});
    }

    const QString folderPath = args.first();
    if (!QDir().mkpath(folderPath)) {
        tool::error(QStringLiteral("%1: cannot create the folder").arg(folderPath));
        return tool::ExitFailure;
    }
    LocalMailFolder folder(QDir::cleanPath(QFileInfo(folderPath).absoluteFilePath()));
    const QString id = folder.createMessage();
    IndexClass* entry = id.isEmpty() ? nullptr : folder.indexIDict()->find(id);
    if (!entry) {
        tool::error(QStringLiteral("%1: cannot create a message").arg(folderPath));
        return tool::ExitFailure;
    }
    MessageDevice dev(entry);
    dev.loadDescriptor(false);
    MessageDescriptor& d = dev.getDescriptor();
    d.from = from;
    d.to = to;
    d.cc = cc;
    d.subject = subject;
    d.inReplyTo = inReplyTo;
    d.references = references;
    if (!inReplyTo.isEmpty() && !d.references.contains(inReplyTo))
        d.references << inReplyTo;
    d.status = QStringLiteral("Read");
    dev.saveDescriptor();
    for (const NewPart& np : parts) {
        MimePart* p = dev[dev.createPart()];
        p->type = np.type;
        p->mimetype = np.mimetype;
        p->encoding = np.encoding;
        p->charset = np.charset;
        p->name = np.name;
    }
    // Every content change writes the whole message anew; a message with
    // no content (or only empty files) is written once at the end.
    bool written = false;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].data.isEmpty())
            continue;
        if (!dev.setPartData(int(i), parts[i].data)) {
            tool::error(QStringLiteral("%1: cannot write the message").arg(folderPath));
            return tool::ExitFailure;
        }
        written = true;
    }
    if (!written && !dev.saveMessage(-1, QByteArray())) {
        tool::error(QStringLiteral("%1: cannot write the message").arg(folderPath));
        return tool::ExitFailure;
    }
    // The sending date is the Date line just composed (its short form, as
    // for a received message); the sender's copy counts as read.
    dev.loadDescriptor(false);
    const MessageClass composed(dev.rfc822Message());
    dev.getDescriptor().sentDate = QString::fromLatin1(QCString(composed.Date));
    entry->setUnreadMark(false);
    folder.decrementUnread();
    dev.saveDescriptor();
    tool::writeLine(id);
    return tool::ExitOk;
}

// ---------------------------------------------------------------- thread

// Indentation stops growing here, so a very deep chain cannot make the
// output quadratic in size; deeper lines say their depth instead.
constexpr int MaxIndent = 32;

int runThread(QStringList args)
{
    if (tool::rejectUnknownOptions(args) || args.size() != 1) {
        tool::error(QStringLiteral("usage: thread FOLDER"));
        return tool::ExitUsage;
    }
    const QFileInfo info(args.first());
    if (!info.isDir()) {
        tool::error(QStringLiteral("%1: no such folder").arg(args.first()));
        return tool::ExitFailure;
    }
    LocalMailFolder folder(QDir::cleanPath(info.absoluteFilePath()));
    IndexCollection* entries = folder.indexIDict();

    // Link every message that has no parent in this folder yet: by
    // In-Reply-To first, then by References.
    int linked = 0;
    for (IndexClass* e : entries->entries()) {
        if (!e->getParentID().isEmpty() && entries->find(e->getParentID()))
            continue;
        folder.reparentIndex(e);
        if (e->getParentID().isEmpty() || !entries->find(e->getParentID()))
            folder.reparentByRelated(e);
        if (!e->getParentID().isEmpty() && entries->find(e->getParentID()))
            ++linked;
    }

    // The tree, children in folder order under their parents.
    const std::vector<IndexClass*> all = entries->entries();
    QHash<QString, std::vector<IndexClass*>> children;
    std::vector<IndexClass*> roots;
    for (IndexClass* e : all) {
        if (!e->getParentID().isEmpty() && entries->find(e->getParentID()))
            children[e->getParentID()].push_back(e);
        else
            roots.push_back(e);
    }
    QSet<const IndexClass*> shown;
    int threads = 0;
    auto printTree = [&](IndexClass* root) {
        ++threads;
        // Depth-first without recursion: chains may be arbitrarily deep.
        std::vector<std::pair<IndexClass*, int>> stack{{root, 0}};
        while (!stack.empty()) {
            auto [e, depth] = stack.back();
            stack.pop_back();
            if (shown.contains(e))
                continue;
            shown.insert(e);
            MessageDevice dev(e);
            dev.loadDescriptor(true);
            QString subject = dev.getDescriptor().subject.simplified();
            if (subject.isEmpty())
                subject = QStringLiteral("(no subject)");
            const QString indent = depth <= MaxIndent
                ? QString(depth * 2, QLatin1Char(' '))
                : QString(MaxIndent * 2, QLatin1Char(' ')) + QStringLiteral("[depth %1] ").arg(depth);
            tool::writeLine(indent + subject + QStringLiteral("  ") + e->getID());
            const auto it = children.constFind(e->getID());
            if (it == children.constEnd())
                continue;
            for (auto c = it->rbegin(); c != it->rend(); ++c)
                stack.push_back({*c, depth + 1});
        }
    };
    for (IndexClass* r : roots)
        printTree(r);
    // Entries caught in a parent loop (possible only in damaged or foreign
    // index files) are reached from no root: show them as threads of their own.
    for (IndexClass* e : all)
        if (!shown.contains(e))
            printTree(e);
    tool::writeLine(QStringLiteral("%1 messages in %2 threads, %3 replies newly linked")
                        .arg(all.size())
                        .arg(threads)
                        .arg(linked));
    return tool::ExitOk;
}

using tool::Command;
const Command::Registrar composeCmd({QStringLiteral("compose"),
    QStringLiteral("compose FOLDER --from A --to B [--to C...] [--cc C...] --subject S [--text FILE] "
                   "[--html FILE] [--attach FILE...]"),
    QStringLiteral(
        "Composes a new message in FOLDER (created when missing) and prints its ID.\n"
        "The text and HTML files become quoted-printable text parts (charset us-ascii,\n"
        "utf-8 or iso-8859-1, as their bytes are); every --attach FILE becomes a base64\n"
        "attachment named after the file. With more than one part, the last text part\n"
        "gets the footer configured in the user's settings.\n"
        "\n"
        "  --in-reply-to ID   the Message-ID this message answers (without <>)\n"
        "  --reference ID     a Message-ID for References (repeatable)"),
    runCompose});
const Command::Registrar threadCmd({QStringLiteral("thread"), QStringLiteral("thread FOLDER"),
    QStringLiteral(
        "Links the replies of FOLDER to the messages they answer (by In-Reply-To,\n"
        "then by References) and prints the threads: one line per message, its\n"
        "subject indented under its parent, followed by its ID. Messages already\n"
        "linked are left as they are."),
    runThread});

} // namespace
