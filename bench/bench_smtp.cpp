// Sending corpus messages one after another to a local aiosmtpd server:
// this library's Smtp against Python's smtplib, same server, same messages,
// same run. One connection per message for both.

#include <smtp.h>

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int MessageCount = 1000;
const char* const Task = "smtp_send_1000";

QStringList messageFiles()
{
    QStringList files;
    QDirIterator it(QStringLiteral(ORVANE_CORPUS_DIR), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        if (!p.endsWith(QLatin1String(".md")) && !p.endsWith(QLatin1String(".tsv")))
            files << p;
    }
    files.sort();
    QStringList out;
    for (int i = 0; !files.isEmpty() && i < MessageCount; ++i)
        out << files[i % files.size()];
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.warning=false"));
    const QStringList files = messageFiles();
    if (files.isEmpty()) {
        std::fprintf(stderr, "bench_smtp: no corpus\n");
        return 0;
    }
    QList<QByteArray> messages;
    qint64 total = 0;
    for (const QString& f : files) {
        QFile file(f);
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        messages << file.readAll();
        total += messages.last().size();
    }

    QProcess server;
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(ORVANE_SOURCE_DIR "/tests/smtp/peer.py"), QStringLiteral("smtp")});
    QByteArray line;
    while (!line.endsWith('\n') && server.waitForReadyRead(20000))
        line += server.readLine();
    if (!line.startsWith("READY ")) {
        std::fprintf(stderr, "bench_smtp: aiosmtpd peer did not start: %s\n", line.constData());
        return 1;
    }
    const quint16 port = quint16(line.mid(6).trimmed().toUInt());
    const QString address = QStringLiteral("127.0.0.1:%1").arg(port);

    QTemporaryFile list;
    if (!list.open())
        return 1;
    list.write(files.join(QLatin1Char('\n')).toUtf8() + '\n');
    list.flush();

    // The machine may be shared: both clients run twice, alternating, and
    // each reports its better run.
    double bestOurs = 0, bestOursMb = 0, bestPython = 0;
    QByteArray pythonLine;
    for (int round = 0; round < 2; ++round) {
        int accepted = 0;
        QElapsedTimer clock;
        clock.start();
        for (const QByteArray& m : messages) {
            auto* smtp = new Smtp(QStringLiteral("ana@example.org"), QStringLiteral("luis@example.net"), m, address);
            QEventLoop loop;
            QObject::connect(smtp, &Smtp::finished, [&accepted](bool ok, const QString&) { accepted += ok; });
            QObject::connect(smtp, &QObject::destroyed, &loop, &QEventLoop::quit);
            loop.exec();
        }
        const double seconds = clock.nsecsElapsed() / 1e9;
        if (accepted != messages.size())
            std::fprintf(stderr, "bench_smtp: only %d of %d messages accepted\n", accepted, int(messages.size()));
        if (messages.size() / seconds > bestOurs) {
            bestOurs = messages.size() / seconds;
            bestOursMb = total / seconds / 1e6;
        }

        QProcess python;
        python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        python.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(ORVANE_SOURCE_DIR "/tests/smtp/smtplib_send.py"), QStringLiteral("--port"),
                      QString::number(port), QStringLiteral("--list"), list.fileName(), QStringLiteral("--task"),
                      QString::fromLatin1(Task)});
        python.waitForFinished(600000);
        const QByteArray out = python.readAllStandardOutput().trimmed();
        const qsizetype at = out.indexOf("msgs_per_s=");
        const double rate = at < 0 ? 0 : out.mid(at + 11).toDouble();
        if (rate > bestPython) {
            bestPython = rate;
            pythonLine = out;
        }
    }
    std::printf("peer=orvane task=%s mb_per_s=%.2f msgs_per_s=%.1f\n", Task, bestOursMb, bestOurs);
    if (!pythonLine.isEmpty())
        std::printf("%s\n", pythonLine.constData());
    std::fflush(stdout);

    server.closeWriteChannel();
    if (!server.waitForFinished(5000))
        server.kill();
    return 0;
}
