// Sending corpus messages one after another to a local aiosmtpd server:
// this library's Smtp against Python's smtplib, same server, same messages,
// same run. One connection per message for both. Then submission: 1,000
// messages of 20 KB over one STARTTLS connection with AUTH PLAIN, this
// library's SmtpSubmission against smtplib (starttls, login, sendmail).

#include <smtp.h>
#include <smtpsubmission.h>

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QSslCertificate>
#include <QTemporaryDir>
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

// Starts tests/smtp/peer.py with args; its port, or 0.
quint16 startPeer(QProcess& server, const QStringList& args)
{
    server.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral(ORVANE_SOURCE_DIR "/tests/smtp/peer.py")} + args);
    QByteArray line;
    while (!line.endsWith('\n') && server.waitForReadyRead(20000))
        line += server.readLine();
    if (!line.startsWith("READY ")) {
        std::fprintf(stderr, "bench_smtp: peer did not start: %s\n", line.constData());
        return 0;
    }
    return quint16(line.mid(6).trimmed().toUInt());
}

double pythonRate(const QStringList& args, QByteArray* lineOut)
{
    QProcess python;
    python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    python.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral(ORVANE_SOURCE_DIR "/bench/peers/smtplib_send.py")} + args);
    python.waitForFinished(600000);
    const QByteArray out = python.readAllStandardOutput().trimmed();
    const qsizetype at = out.indexOf("msgs_per_s=");
    *lineOut = out;
    return at < 0 ? 0 : out.mid(at + 11).toDouble();
}

// Prints both benchmark lines and stops the server.
void report(const char* task, double mbPerS, double msgsPerS, const QByteArray& pythonLine, QProcess& server)
{
    std::printf("peer=orvane task=%s mb_per_s=%.2f msgs_per_s=%.1f\n", task, mbPerS, msgsPerS);
    if (!pythonLine.isEmpty())
        std::printf("%s\n", pythonLine.constData());
    std::fflush(stdout);
    server.closeWriteChannel();
    if (!server.waitForFinished(5000))
        server.kill();
}

void benchSubmission()
{
    const char* const task = "smtp_submit_1000x20k_starttls";
    QTemporaryDir dir;
    QProcess maker;
    if (!startPeer(maker, {QStringLiteral("certs"), dir.path()}) && !QFile::exists(dir.filePath(QStringLiteral("ca.pem"))))
        return;
    maker.waitForFinished();
    QProcess server;
    const quint16 port = startPeer(server, {QStringLiteral("smtp"), QStringLiteral("--tls"), dir.path(),
                                            QStringLiteral("--auth"), QStringLiteral("bench:secret")});
    if (!port)
        return;
    QList<QByteArray> messages;
    QStringList files;
    qint64 total = 0;
    for (int i = 0; i < 1000; ++i) {
        QByteArray m = "From: ana@example.org\r\nTo: luis@example.net\r\nSubject: bench " + QByteArray::number(i)
            + "\r\n\r\n";
        for (int l = 0; m.size() < 20 * 1024 - 80; ++l)
            m += (l % 9 == 0 ? "." : "") + QByteArray(70, char('a' + (i + l) % 26)) + "\r\n";
        messages << m;
        total += m.size();
        files << dir.filePath(QStringLiteral("m%1.eml").arg(i));
        QFile f(files.last());
        if (!f.open(QIODevice::WriteOnly) || f.write(m) != m.size())
            return;
    }
    QFile list(dir.filePath(QStringLiteral("list")));
    if (!list.open(QIODevice::WriteOnly))
        return;
    list.write(files.join(QLatin1Char('\n')).toUtf8() + '\n');
    list.close();

    double bestOurs = 0, bestPython = 0;
    QByteArray pythonLine;
    for (int round = 0; round < 2; ++round) {
        SmtpSettings settings;
        settings.server = QStringLiteral("127.0.0.1");
        settings.port = port;
        settings.user = QStringLiteral("bench");
        settings.mechanisms = SmtpSettings::MechPlain;
        SmtpSubmission submission(settings);
        submission.setPassword(QStringLiteral("secret"));
        submission.setCaCertificates(QSslCertificate::fromPath(dir.filePath(QStringLiteral("ca.pem"))));
        int accepted = 0;
        QEventLoop loop;
        QObject::connect(&submission, &SmtpSubmission::finished, [&accepted](int, bool ok) { accepted += ok; });
        QObject::connect(&submission, &SmtpSubmission::sessionFinished, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        for (const QByteArray& m : messages)
            submission.send(QStringLiteral("ana@example.org"), {QStringLiteral("luis@example.net")}, m);
        loop.exec();
        const double seconds = clock.nsecsElapsed() / 1e9;
        if (accepted != messages.size())
            std::fprintf(stderr, "bench_smtp: only %d of %d messages accepted\n", accepted, int(messages.size()));
        bestOurs = qMax(bestOurs, messages.size() / seconds);

        QByteArray line;
        const double rate = pythonRate({QStringLiteral("--port"), QString::number(port), QStringLiteral("--list"),
                                        list.fileName(), QStringLiteral("--task"), QString::fromLatin1(task),
                                        QStringLiteral("--starttls"), dir.filePath(QStringLiteral("ca.pem")),
                                        QStringLiteral("--user"), QStringLiteral("bench"), QStringLiteral("--password"),
                                        QStringLiteral("secret")},
                                       &line);
        if (rate > bestPython) {
            bestPython = rate;
            pythonLine = line;
        }
    }
    report(task, bestOurs * total / messages.size() / 1e6, bestOurs, pythonLine, server);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.warning=false"));
    if (app.arguments().contains(QStringLiteral("--submission"))) {
        benchSubmission();
        return 0;
    }
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
    const quint16 port = startPeer(server, {QStringLiteral("smtp")});
    if (!port)
        return 1;
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

        QByteArray out;
        const double rate = pythonRate({QStringLiteral("--port"), QString::number(port), QStringLiteral("--list"),
                                        list.fileName(), QStringLiteral("--task"), QString::fromLatin1(Task)},
                                       &out);
        if (rate > bestPython) {
            bestPython = rate;
            pythonLine = out;
        }
    }
    report(Task, bestOursMb, bestOurs, pythonLine, server);
    benchSubmission();
    return 0;
}
