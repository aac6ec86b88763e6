// header: decodes the Subject, address and Date values of a header block.

#include "command.h"

#include <addressclass.h>
#include <addresslistclass.h>
#include <dateclass.h>
#include <mimecodec.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

enum class Kind { Text, Mailbox, List, Date };

struct Field {
    const char* lower;
    const char* name;
    Kind kind;
};

const Field Fields[] = {
    {"subject", "Subject", Kind::Text},  {"from", "From", Kind::Mailbox},
    {"reply-to", "Reply-To", Kind::Mailbox}, {"to", "To", Kind::List},
    {"cc", "Cc", Kind::List},            {"date", "Date", Kind::Date},
};

struct Value {
    const Field* field;
    QByteArray raw;  // unfolded, trimmed
};

// Reads header lines up to the first empty line (or the end): a leading
// mbox "From " line is skipped, continuation lines are joined to the field
// they continue (the line break goes, the white space stays). Returns the
// wanted fields in order; *headerLines counts every field line seen.
QList<Value> readHeader(const QByteArray& data, int* headerLines)
{
    QList<Value> out;
    *headerLines = 0;
    Value* cur = nullptr;
    qsizetype pos = 0;
    bool first = true;
    while (pos < data.size()) {
        qsizetype eol = data.indexOf('\n', pos);
        if (eol < 0)
            eol = data.size();
        QByteArray line = data.mid(pos, eol - pos);
        pos = eol + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (first && line.startsWith("From ")) {
            first = false;
            continue;
        }
        first = false;
        if (line.isEmpty())
            break;
        if (line[0] == ' ' || line[0] == '\t') {
            if (cur)
                cur->raw += line;
            continue;
        }
        cur = nullptr;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        ++*headerLines;
        const QByteArray name = line.left(colon).trimmed().toLower();
        for (const Field& f : Fields) {
            if (name == f.lower) {
                out.append({&f, line.mid(colon + 1)});
                cur = &out.last();
                break;
            }
        }
    }
    for (Value& v : out)
        v.raw = v.raw.trimmed();
    return out;
}

// Decoded text may hold control characters (an encoded CR or LF); the
// line-oriented output shows them escaped so every value stays on its line.
QString oneLine(const QString& s)
{
    QString out;
    out.reserve(s.size());
    for (QChar c : s) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c.unicode() < 0x20 && c != QLatin1Char('\t'))
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QStringList addressesOf(const Value& v)
{
    const QCString raw(v.raw);
    if (v.field->kind == Kind::Mailbox) {
        const QString a = AddressClass(raw).fullAddress();
        return a.isEmpty() ? QStringList() : QStringList{a};
    }
    return AddressListClass(raw).returnNameStringList();
}

QString streamForm(const DateClass& d)
{
    QString s;
    QTextStream ts(&s);
    ts << d;
    ts.flush();
    return s;
}

QJsonObject addressJson(const AddressClass& a)
{
    return QJsonObject{
        {QStringLiteral("display"), a.fullAddress()},
        {QStringLiteral("name"), a.getTranslated_name()},
        {QStringLiteral("email"), QString::fromLatin1(a.email)},
        {QStringLiteral("header"), QString::fromLatin1(a.getOriginalAddress())},
    };
}

QJsonObject toJson(const Value& v)
{
    const QCString raw(v.raw);
    QJsonObject o{
        {QStringLiteral("field"), QLatin1String(v.field->name)},
        {QStringLiteral("raw"), QString::fromLatin1(v.raw)},
    };
    switch (v.field->kind) {
    case Kind::Text:
        o.insert(QStringLiteral("text"), MIMECodec::translate(raw));
        break;
    case Kind::Mailbox: {
        QJsonArray list;
        const AddressClass a(raw);
        if (!a.fullAddress().isEmpty())
            list.append(addressJson(a));
        o.insert(QStringLiteral("addresses"), list);
        break;
    }
    case Kind::List: {
        QJsonArray list;
        for (const AddressClass& a : AddressListClass(raw).getAddrList())
            if (!a.fullAddress().isEmpty())
                list.append(addressJson(a));
        o.insert(QStringLiteral("addresses"), list);
        break;
    }
    case Kind::Date: {
        const DateClass d(raw);
        o.insert(QStringLiteral("date"), QJsonObject{
            {QStringLiteral("short"), QString::fromLatin1(d.toQCString())},
            {QStringLiteral("local"), QString::fromLatin1(d.toLocalDateQCString())},
            {QStringLiteral("full"), streamForm(d)},
        });
        break;
    }
    }
    return o;
}

QString toText(const Value& v)
{
    const QString label = QLatin1String(v.field->name) + QLatin1String(": ");
    const QCString raw(v.raw);
    QString out;
    switch (v.field->kind) {
    case Kind::Text:
        out += label + oneLine(MIMECodec::translate(raw)) + QLatin1Char('\n');
        break;
    case Kind::Mailbox:
    case Kind::List:
        for (const QString& a : addressesOf(v))
            out += label + oneLine(a) + QLatin1Char('\n');
        break;
    case Kind::Date: {
        const DateClass d(raw);
        out += label + QString::fromLatin1(d.toQCString()) + QLatin1Char('\n');
        out += QLatin1String(v.field->name) + QLatin1String(" (local): ")
               + QString::fromLatin1(d.toLocalDateQCString()) + QLatin1Char('\n');
        out += QLatin1String(v.field->name) + QLatin1String(" (full): ") + streamForm(d) + QLatin1Char('\n');
        break;
    }
    }
    return out;
}

int runHeader(QStringList args)
{
    const bool json = tool::takeFlag(args, QStringLiteral("--json"));
    if (tool::rejectUnknownOptions(args))
        return tool::ExitUsage;
    if (args.size() > 1) {
        tool::error(QStringLiteral("give one input file or -"));
        return tool::ExitUsage;
    }
    const QString path = args.isEmpty() ? QStringLiteral("-") : args.first();
    bool ok = false;
    const QByteArray data = tool::readAll(path, &ok);
    if (!ok)
        return tool::ExitFailure;
    int headerLines = 0;
    const QList<Value> values = readHeader(data, &headerLines);
    if (headerLines == 0) {
        tool::error(QStringLiteral("%1: no header lines (expected \"Name: value\" lines)")
                        .arg(path == QLatin1String("-") ? QStringLiteral("standard input") : path));
        return tool::ExitFailure;
    }
    bool written = true;
    if (json) {
        QJsonArray list;
        for (const Value& v : values)
            list.append(toJson(v));
        written = tool::writeOut(QJsonDocument(list).toJson(QJsonDocument::Indented));
    } else {
        for (const Value& v : values)
            written = written && tool::writeOut(toText(v).toUtf8());
    }
    if (!written) {
        tool::error(QStringLiteral("cannot write to standard output"));
        return tool::ExitFailure;
    }
    return tool::ExitOk;
}

const tool::Command::Registrar headerCmd({
    QStringLiteral("header"),
    QStringLiteral("header [--json] [FILE|-]"),
    QStringLiteral(
        "Reads header lines from FILE (or standard input) up to the first empty\n"
        "line and prints each Subject, From, Reply-To, To, Cc and Date value\n"
        "decoded, in the order they appear:\n\n"
        "  Subject   the text with its encoded words decoded\n"
        "  From ...  one line per address, in display form (\"Name\" <address>)\n"
        "  Date      three lines: the short header form, the form with the\n"
        "            locale's day and month names (local), and the full form\n\n"
        "Control characters in decoded text are shown escaped (\\r, \\n, \\xNN).\n\n"
        "  --json  print a JSON array with one object per value: field, raw,\n"
        "          and text, addresses (display, name, email, header) or date\n"
        "          (short, local, full)"),
    [](const QStringList& a) { return runHeader(a); }});

} // namespace
