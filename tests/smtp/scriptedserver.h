#pragma once

// An SMTP server in this process that follows a script: per step what to
// answer ("close", "silent": what they say), in order, one piece a millisecond,
// over plain or STARTTLS. All the client sent, in clear or in TLS: received.

#include <QMap>
#include <QPointer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

namespace {

class ScriptedServer : public QTcpServer
{
public:
    QMap<QByteArray, QByteArray> replies{
        {"greeting", "220 peer.test ESMTP\r\n"},
        {"ehlo", "250-peer.test\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n"},
        {"ehlo2", "250-peer.test\r\n250-PIPELINING\r\n250-8BITMIME\r\n250-SIZE 1000\r\n"
                  "250 AUTH PLAIN LOGIN CRAM-MD5\r\n"},
        {"starttls", "220 2.0.0 go ahead\r\n"}, {"handshake", ""},
        {"auth", "235 2.7.0 ok\r\n"}, {"auth2", "235 2.7.0 ok\r\n"}, {"helo", "250 peer.test\r\n"},
        {"mail", "250 2.1.0 ok\r\n"}, {"rcpt", "250 2.1.5 ok\r\n"}, {"refused", "550 5.1.1 no such user\r\n"},
        {"data", "354 go\r\n"}, {"body", "250 2.0.0 queued\r\n"}, {"rset", "250 2.0.0 ok\r\n"},
        {"quit", "221 2.0.0 bye\r\n"}};  // "refused": RCPT of an address containing "refused"
    QString tlsDir, cert = QStringLiteral("server");
    bool oneByte = false;  // every reply one byte at a time
    QByteArray received;
    int connections = 0;

    ScriptedServer()
    {
        listen(QHostAddress::LocalHost);
        QObject::connect(&pacer, &QTimer::timeout, this, [this] { writeNext(); });
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(serverPort()); }

protected:
    void incomingConnection(qintptr fd) override
    {
        ++connections;
        if (socket)  // one connection only: later ones are closed at once
            return void(QTcpSocket().setSocketDescriptor(fd));
        socket = new QSslSocket(this);
        socket->setSocketDescriptor(fd);
        if (!tlsDir.isEmpty()) {
            socket->setLocalCertificate(tlsDir + QLatin1Char('/') + cert + QStringLiteral(".pem"));
            socket->setPrivateKey(tlsDir + QLatin1Char('/') + cert + QStringLiteral(".key"), QSsl::Ec);
        }
        connect(socket, &QSslSocket::readyRead, this, [this] { onRead(); });
        answer("greeting");
    }

private:
    QPointer<QSslSocket> socket;
    QTimer pacer;
    QList<QByteArray> out;  // pieces still to write; "<tls>" and "<close>" act
    QByteArray line;
    bool inData = false, inAuth = false, tls = false, mute = false, closing = false;

    // Queues the reply of step; with tls, TLS starts right after its last
    // byte (so that the client's handshake never meets a server in clear).
    void answer(const QByteArray& step, bool startTls = false)
    {
        const QByteArray r = replies.value(step);
        if (r == "silent" || closing)
            return;
        closing = r == "close";
        for (qsizetype i = 0; !closing && i < r.size(); i += oneByte ? 1 : r.size())
            out << r.mid(i, oneByte ? 1 : r.size());
        if (closing || startTls)
            out << QByteArray(closing ? "<close>" : "<tls>");
        pacer.start(1);
    }

    void writeNext()
    {
        if (!socket || out.isEmpty())
            return pacer.stop();
        const QByteArray piece = out.takeFirst();
        if (piece == "<close>")
            return socket->disconnectFromHost();
        socket->write(piece);
        if (!out.isEmpty() && out.first() == "<tls>") {
            out.removeFirst();
            socket->startServerEncryption();
        }
    }

    void onRead()
    {
        const QByteArray bytes = socket->readAll();
        if (mute)
            return;
        received += bytes;
        for (char c : bytes) {
            line += c;
            if (inData && (line.endsWith("\r\n.\r\n") || line == ".\r\n")) {
                inData = false;
                line.clear();
                answer("body");
            }
            if (inData || c != '\n' || line.isEmpty())  // empty: the text just ended
                continue;
            const QByteArray verb = line.left(4).toUpper(), whole = line;
            line.clear();
            if (inAuth) {
                inAuth = false;
                answer("auth2");
            } else if (verb == "STAR") {
                tls = replies["starttls"].startsWith("220");
                mute = tls && replies["handshake"] == "silent";
                if (tls && replies["handshake"] == "close")
                    return socket->disconnectFromHost();
                return answer("starttls", tls && !mute);
            } else {
                const QByteArray step = verb == "EHLO" ? QByteArray(tls ? "ehlo2" : "ehlo")
                    : verb == "RCPT" && whole.contains("refused") ? QByteArray("refused") : verb.toLower();
                answer(replies.contains(step) ? step : QByteArray("helo"));
                inAuth = verb == "AUTH" && replies["auth"].startsWith("334");
                inData = verb == "DATA" && replies["data"].startsWith("354");
            }
        }
    }
};

} // namespace
