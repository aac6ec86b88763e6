#include "command.h"

#include <ktconfig.h>
#include <orvaneversion.h>

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tool {

std::vector<Command>& Command::all()
{
    static std::vector<Command> commands;
    return commands;
}

void error(const QString& text)
{
    const QByteArray line = "orvane-mail: " + text.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

bool writeOut(const char* data, qsizetype size)
{
    return size == 0 || std::fwrite(data, 1, size_t(size), stdout) == size_t(size);
}

std::FILE* openInput(const QString& path)
{
    if (path == QLatin1String("-"))
        return stdin;
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!f)
        error(QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    return f;
}

QByteArray readAll(const QString& path, bool* ok)
{
    *ok = false;
    std::FILE* f = openInput(path);
    if (!f)
        return QByteArray();
    QByteArray data;
    char buf[1 << 16];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.append(buf, qsizetype(got));
    const bool failed = std::ferror(f);
    if (f != stdin)
        std::fclose(f);
    if (failed) {
        error(QStringLiteral("cannot read %1").arg(path));
        return QByteArray();
    }
    *ok = true;
    return data;
}

QString takeOption(QStringList& args, const QString& name, bool* missingValue)
{
    const QString prefix = name + QLatin1Char('=');
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == name) {
            if (i + 1 >= args.size()) {
                if (missingValue)
                    *missingValue = true;
                args.removeAt(i);
                return QString();
            }
            const QString value = args[i + 1];
            args.remove(i, 2);
            return value;
        }
        if (args[i].startsWith(prefix)) {
            const QString value = args[i].mid(prefix.size());
            args.removeAt(i);
            return value.isNull() ? QString(QLatin1String("")) : value;
        }
    }
    return QString();
}

bool takeFlag(QStringList& args, const QString& name)
{
    return args.removeAll(name) > 0;
}

bool rejectUnknownOptions(const QStringList& args)
{
    for (const QString& a : args) {
        if (a.size() > 1 && a.startsWith(QLatin1Char('-'))) {
            error(QStringLiteral("unknown option %1").arg(a));
            return true;
        }
    }
    return false;
}

bool singleInput(const QStringList& args, QString* path)
{
    if (rejectUnknownOptions(args))
        return false;
    if (args.size() > 1) {
        error(QStringLiteral("give one input file or -"));
        return false;
    }
    *path = args.isEmpty() ? QStringLiteral("-") : args.first();
    return true;
}

} // namespace tool

namespace {

void usage(std::FILE* to)
{
    QByteArray text =
        "usage: orvane-mail COMMAND [ARGS...]\n"
        "       orvane-mail COMMAND --help\n"
        "       orvane-mail --version\n\ncommands:\n";
    auto cmds = tool::Command::all();
    std::sort(cmds.begin(), cmds.end(), [](const tool::Command& a, const tool::Command& b) { return a.name < b.name; });
    for (const auto& c : cmds)
        text += "  " + c.synopsis.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), to);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The library's diagnostics are for developers; a user sees them only
    // when asking through QT_LOGGING_RULES.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));
    // The footer lookup of the quoted-printable encoder reads the settings
    // key and default file that follow from the application's directories.
    KTConfig::init(&app);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        usage(stderr);
        return tool::ExitUsage;
    }
    const QString first = args.takeFirst();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        usage(stdout);
        return tool::ExitOk;
    }
    if (first == QLatin1String("--version")) {
        std::printf("orvane-mail %s\n", ORVANE_MAIL_VERSION);
        return tool::ExitOk;
    }
    for (const auto& c : tool::Command::all()) {
        if (c.name != first)
            continue;
        if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
            const QByteArray h = "usage: orvane-mail " + c.synopsis.toUtf8() + "\n\n" + c.help.toUtf8() + '\n';
            std::fwrite(h.constData(), 1, size_t(h.size()), stdout);
            return tool::ExitOk;
        }
        const int rc = c.run(args);
        if (std::fflush(stdout) != 0 && rc == tool::ExitOk) {
            tool::error(QStringLiteral("cannot write the output"));
            return tool::ExitFailure;
        }
        return rc;
    }
    tool::error(QStringLiteral("unknown command '%1' (see orvane-mail --help)").arg(first));
    return tool::ExitUsage;
}
