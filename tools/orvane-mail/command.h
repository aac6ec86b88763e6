#pragma once

// The tool's subcommand registry and the small I/O helpers every
// subcommand shares. A subcommand lives in its own cmd_*.cpp and registers
// itself with a static Command::Registrar.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <vector>

namespace tool {

struct Command {
    QString name;
    QString synopsis;  // one line: "encode [--encoding NAME] [FILE|-]"
    QString help;      // full help text, printed by "orvane-mail NAME --help"
    std::function<int(const QStringList& args)> run;

    static std::vector<Command>& all();
    struct Registrar {
        explicit Registrar(Command c) { all().push_back(std::move(c)); }
    };
};

// Exit codes.
constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;  // the operation failed
constexpr int ExitUsage = 2;    // bad arguments

/// Writes "orvane-mail: " + text + newline to stderr.
void error(const QString& text);
/// Writes bytes to stdout as they are.
bool writeOut(const char* data, qsizetype size);
inline bool writeOut(const QByteArray& a) { return writeOut(a.constData(), a.size()); }
inline bool writeLine(const QString& s) { return writeOut(s.toUtf8() + '\n'); }

/// Opens FILE or "-" (stdin) for binary reading; null and an error on failure.
std::FILE* openInput(const QString& path);
/// Reads a whole file or "-"; sets ok false (after an error message) on failure.
QByteArray readAll(const QString& path, bool* ok);

/// Minimal option parsing shared by the subcommands: takes "--name VALUE" or
/// "--name=VALUE" out of args. Returns a null string when absent.
QString takeOption(QStringList& args, const QString& name, bool* missingValue = nullptr);
/// Takes a "--name" flag out of args; true if it was there.
bool takeFlag(QStringList& args, const QString& name);
/// The one input of a command that reads FILE or "-" ("-" when none is
/// given); false (after an error message) when options are left over or
/// more than one input is given.
bool singleInput(const QStringList& args, QString* path);
/// True when args hold an option (starting with "--", or "-x") that no
/// subcommand took; reports it as an error.
bool rejectUnknownOptions(const QStringList& args);

/// "extract FILE N [-o OUT]": part N of a message file, decoded (the
/// folder form of extract hands the file form over to this).
int extractFromFile(QStringList args);
/// OUT itself, or when OUT is a directory the file in it named after the
/// part's decoded name (path separators replaced).
QString partOutputPath(const QString& out, const QByteArray& name);

} // namespace tool
