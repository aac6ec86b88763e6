#pragma once

// A peer process from tests/smtp/peer.py, shared by the SMTP tests. It dies
// with its standard input, so it goes away even when a test crashes.

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace {

const QString Python = QStringLiteral("/usr/bin/python3");
const QString PeerScript = QStringLiteral(ORVANE_TEST_DATA "/../smtp/peer.py");

class Peer
{
public:
    ~Peer() { stop(); }

    // Starts the peer; its SMTP port, or 0 (with the reason in *why).
    quint16 start(const QStringList& args, QString* why)
    {
        process.setProgram(Python);
        process.setArguments(QStringList{PeerScript} + args);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        if (!process.waitForStarted(10000)) {
            *why = process.errorString();
            return 0;
        }
        QByteArray line;
        QElapsedTimer clock;
        clock.start();
        while (!line.endsWith('\n') && clock.elapsed() < 20000) {
            if (!process.waitForReadyRead(200) && process.state() != QProcess::Running)
                break;
            line += process.readLine();
        }
        line = line.trimmed();
        if (!line.startsWith("READY ")) {
            *why = QString::fromUtf8(line.isEmpty() ? QByteArray("no answer") : line);
            stop();
            return 0;
        }
        return quint16(line.mid(6).toUInt());
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
