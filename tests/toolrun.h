#pragma once

// Running the orvane-mail tool from a test, and writing its input files.

#include <QFile>
#include <QProcess>

/// One run of the tool: exit code (-1: did not start or finish, -2: crashed), stdout, stderr.
struct Run {
    int rc = -1;
    QByteArray out, err;
};

/// Runs the tool with \a args and \a input on stdin; its settings live under \a configHome.
inline Run runTool(const QStringList& args, const QString& configHome,
                   const QByteArray& input = QByteArray(), int timeoutMs = 300000)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ORVANE_TOOL), args);
    Run r;
    if (!p.waitForStarted(30000))
        return r;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2, p.readAllStandardOutput(), p.readAllStandardError()};
}

/// The contents of \a path; a null array when it cannot be read.
inline QByteArray readTestFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

/// Writes \a data to \a path; the path, or a null string on failure.
inline QString writeTestFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size() ? path : QString();
}
