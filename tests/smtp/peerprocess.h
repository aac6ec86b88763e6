#pragma once

// A peer process from tests/smtp/peer.py, shared by the SMTP tests. It dies
// with its standard input, so it goes away even when a test crashes.

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>

namespace {

class Peer
{
public:
    ~Peer() { stop(); }

    // Starts the peer; its SMTP port, or 0 (with the reason in *why).
    quint16 start(const QStringList& args, QString* why)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("/usr/bin/python3"),
                      QStringList{QStringLiteral(ORVANE_TEST_DATA "/../smtp/peer.py")} + args);
        QByteArray line;
        const QDeadlineTimer deadline(20000);
        while (!line.endsWith('\n') && !deadline.hasExpired()) {
            if (!process.waitForReadyRead(200) && process.state() != QProcess::Running)
                break;
            line += process.readLine();
        }
        line = line.trimmed();
        if (line.startsWith("READY "))
            return quint16(line.mid(6).toUInt());
        *why = line.isEmpty() ? process.errorString() : QString::fromUtf8(line);
        stop();
        return 0;
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.closeWriteChannel();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

private:
    QProcess process;
};

} // namespace
