// parse and extract: the message parser on files.

#include "command.h"

#include <messageclass.h>
#include <mimecodec.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

namespace {

QString latin1(const QCString& s)
{
    return QString::fromLatin1(s);
}

QString headerSummary(const MessageClass& m, const QString& label)
{
    QString out;
    auto line = [&](const char* name, const QString& value) {
        out += QLatin1String(name) + QLatin1String(": ") + value + QLatin1Char('\n');
    };
    out += QLatin1String("== ") + label + QLatin1Char('\n');
    line("From", m.From.fullAddress());
    line("To", m.To.returnString());
    if (m.Cc.count())
        line("Cc", m.Cc.returnString());
    line("Subject", MIMECodec::translate(m.Subject));
    line("Date", latin1(m.Date.toQCString()));
    if (!m.Message_ID.isEmpty())
        line("Message-ID", latin1(m.Message_ID));
    line("Content-Type", latin1(m.Content_Type));
    return out;
}

QString partTable(const MessageClass& m)
{
    QString out = QStringLiteral("  #  %1 %2 %3 %4 %5 %6 %7\n")
                      .arg(QStringLiteral("type"), -10)
                      .arg(QStringLiteral("media type"), -28)
                      .arg(QStringLiteral("encoding"), -16)
                      .arg(QStringLiteral("charset"), -12)
                      .arg(QStringLiteral("offset"), 9)
                      .arg(QStringLiteral("length"), 9)
                      .arg(QStringLiteral("name"));
    int i = 0;
    for (const auto& p : m.partList) {
        out += QStringLiteral("%1  %2 %3 %4 %5 %6 %7 %8\n")
                   .arg(i++, 3)
                   .arg(latin1(p->type), -10)
                   .arg(latin1(p->mimetype), -28)
                   .arg(latin1(p->encoding), -16)
                   .arg(latin1(p->charset), -12)
                   .arg(p->offset, 9)
                   .arg(p->length, 9)
                   .arg(MIMECodec::translate(p->name));
    }
    return out;
}

QJsonObject toJson(const MessageClass& m, const QString& file)
{
    QJsonArray parts;
    int i = 0;
    for (const auto& p : m.partList) {
        parts.append(QJsonObject{
            { QStringLiteral("index"), i++ },
            { QStringLiteral("type"), latin1(p->type) },
            { QStringLiteral("mimetype"), latin1(p->mimetype) },
            { QStringLiteral("encoding"), latin1(p->encoding) },
            { QStringLiteral("charset"), latin1(p->charset) },
            { QStringLiteral("cid"), latin1(p->cid) },
            { QStringLiteral("name"), MIMECodec::translate(p->name) },
            { QStringLiteral("offset"), p->offset },
            { QStringLiteral("length"), p->length },
        });
    }
    return QJsonObject{
        { QStringLiteral("file"), file },
        { QStringLiteral("from"), m.From.fullAddress() },
        { QStringLiteral("to"), m.To.returnString() },
        { QStringLiteral("cc"), m.Cc.returnString() },
        { QStringLiteral("subject"), MIMECodec::translate(m.Subject) },
        { QStringLiteral("date"), latin1(m.Date.toQCString()) },
        { QStringLiteral("messageId"), latin1(m.Message_ID) },
        { QStringLiteral("contentType"), latin1(m.Content_Type) },
        { QStringLiteral("digest"), m.digest },
        { QStringLiteral("parts"), parts },
    };
}

// Every regular file under dir, in a stable order.
QStringList filesUnder(const QString& dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

int runParse(QStringList args)
{
    const bool json = tool::takeFlag(args, QStringLiteral("--json"));
    const bool recursive = tool::takeFlag(args, QStringLiteral("--recursive"));
    if (tool::rejectUnknownOptions(args))
        return tool::ExitUsage;
    if (args.isEmpty()) {
        tool::error(QStringLiteral("give at least one message file or directory"));
        return tool::ExitUsage;
    }

    bool summary = recursive;
    QStringList files;
    for (const QString& a : std::as_const(args)) {
        if (a != QLatin1String("-") && QFileInfo(a).isDir()) {
            summary = true;
            files += filesUnder(a);
        } else {
            files << a;
        }
    }

    // A summary over many files would drown in per-message diagnostics.
    if (summary)
        QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));

    int failures = 0;
    qint64 messages = 0, parts = 0, bytes = 0, nanos = 0;
    QJsonArray jsonMessages;
    for (const QString& file : std::as_const(files)) {
        bool ok = false;
        const QByteArray raw = tool::readAll(file, &ok);
        if (!ok) {
            ++failures;
            continue;
        }
        QElapsedTimer t;
        t.start();
        const MessageClass m{ QCString(raw) };
        nanos += t.nsecsElapsed();
        ++messages;
        parts += qint64(m.partList.size());
        bytes += raw.size();
        if (summary)
            continue;
        if (json)
            jsonMessages.append(toJson(m, file));
        else if (!tool::writeLine(headerSummary(m, file) + partTable(m)))
            return tool::ExitFailure;
    }

    if (summary) {
        const double seconds = double(nanos) / 1e9;
        const double mbps = seconds > 0 ? double(bytes) / 1e6 / seconds : 0.0;
        if (json) {
            const QJsonObject o{ { QStringLiteral("messages"), messages },
                                 { QStringLiteral("parts"), parts },
                                 { QStringLiteral("errors"), failures },
                                 { QStringLiteral("bytes"), bytes },
                                 { QStringLiteral("seconds"), seconds },
                                 { QStringLiteral("mbPerSecond"), mbps } };
            tool::writeOut(QJsonDocument(o).toJson(QJsonDocument::Indented));
        } else {
            tool::writeLine(QStringLiteral("messages=%1 parts=%2 errors=%3 bytes=%4 seconds=%5 mb_per_s=%6")
                                .arg(messages)
                                .arg(parts)
                                .arg(failures)
                                .arg(bytes)
                                .arg(seconds, 0, 'f', 4)
                                .arg(mbps, 0, 'f', 1));
        }
    } else if (json) {
        tool::writeOut(QJsonDocument(jsonMessages).toJson(QJsonDocument::Indented));
    }
    return failures ? tool::ExitFailure : tool::ExitOk;
}

} // namespace

QString tool::partOutputPath(const QString& out, const QByteArray& name)
{
    if (!QFileInfo(out).isDir())
        return out;
    // Into a directory: under the part's decoded name, path separators made
    // harmless.
    QString file = MIMECodec::translate(QCString(name));
    file.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
    if (file.isEmpty() || file == QLatin1String(".") || file == QLatin1String(".."))
        file = QStringLiteral("attachment.dat");
    return QDir(out).filePath(file);
}

int tool::extractFromFile(QStringList args)
{
    bool missing = false;
    QString out = tool::takeOption(args, QStringLiteral("-o"), &missing);
    if (out.isNull())
        out = tool::takeOption(args, QStringLiteral("--output"), &missing);
    if (missing) {
        tool::error(QStringLiteral("-o needs a file name"));
        return tool::ExitUsage;
    }
    if (tool::rejectUnknownOptions(args))
        return tool::ExitUsage;
    bool isNumber = false;
    const int index = args.size() == 2 ? args[1].toInt(&isNumber) : -1;
    if (args.size() != 2 || !isNumber) {
        tool::error(QStringLiteral("give a message file and a part number"));
        return tool::ExitUsage;
    }
    bool ok = false;
    const QByteArray raw = tool::readAll(args[0], &ok);
    if (!ok)
        return tool::ExitFailure;
    const MessageClass m{ QCString(raw) };
    if (index < 0 || index >= int(m.partList.size())) {
        tool::error(QStringLiteral("%1 has no part %2 (it has %3)")
                        .arg(args[0]).arg(index).arg(m.partList.size()));
        return tool::ExitFailure;
    }
    const MimePart& p = *m.partList[size_t(index)];
    const QByteArray body = raw.mid(p.offset, p.length);
    const QByteArray enc = p.encoding.toLower();
    QByteArray data;
    if (enc == "base64") {
        data = MIMECodec::decodeBase64(body);
    } else if (enc == "quoted-printable") {
        data = MIMECodec::decode(body, "quoted-printable");
        if (data.endsWith('\0'))
            data.chop(1);  // the decoder counts a terminating NUL
    } else {
        data = body;  // 7bit, 8bit, binary and encodings we do not know
    }
    if (out.isNull() || out == QLatin1String("-"))
        return tool::writeOut(data) ? tool::ExitOk : tool::ExitFailure;
    out = tool::partOutputPath(out, p.name);
    QFile f(out);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size()) {
        tool::error(QStringLiteral("cannot write %1").arg(out));
        return tool::ExitFailure;
    }
    return tool::ExitOk;
}

namespace {

const tool::Command::Registrar parseCmd({
    QStringLiteral("parse"),
    QStringLiteral("parse [--json] [--recursive] FILE|DIR..."),
    QStringLiteral("Parses each message FILE and prints its main header fields (decoded) and its\n"
                   "part table: index, part type, media type, encoding, charset, byte offset and\n"
                   "length of the encoded body in the file, and name. With --json the same as JSON.\n"
                   "A directory (or --recursive) parses every file under it and prints a summary:\n"
                   "messages, parts, unreadable files and parsing speed."),
    [](const QStringList& a) { return runParse(a); } });



} // namespace
