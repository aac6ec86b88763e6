#pragma once

// An SMTP server in the test's own process that follows a script: per step
// what to answer ("close" and "silent" for what they say), over plain,
// STARTTLS or implicit TLS. Every byte the client sent in clear or inside
// TLS is kept in received.

#include <QFile>
#include <QMap>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
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
        {"mail", "250 2.1.0 ok\r\n"}, {"rcpt", "250 2.1.5 ok\r\n"}, {"data", "354 go\r\n"},
        {"body", "250 2.0.0 queued\r\n"}, {"rset", "250 2.0.0 ok\r\n"}, {"quit", "221 2.0.0 bye\r\n"}};
    QString tlsDir, cert = QStringLiteral("server");
    bool implicitTls = false, oneByte = false;  // oneByte: every reply one byte at a time
    bool stallData = false;                     // stop reading once the text begins
    QByteArray splitStep, received;             // splitStep's reply goes in two pieces, cut at splitAt
    int splitAt = 0, connections = 0;

    ScriptedServer() { listen(QHostAddress::LocalHost); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(serverPort()); }

protected:
    void incomingConnection(qintptr fd) override
    {
        ++connections;
        if (socket) {
            QTcpSocket().setSocketDescriptor(fd);
            return;
        }
        socket = new QSslSocket(this);
        socket->setSocketDescriptor(fd);
        if (!tlsDir.isEmpty()) {
            const QString base = tlsDir + QLatin1Char('/') + cert;
            socket->setLocalCertificate(QSslCertificate::fromPath(base + QStringLiteral(".pem")).value(0));
            QFile key(base + QStringLiteral(".key"));
            if (key.open(QIODevice::ReadOnly))
                socket->setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
        }
        connect(socket, &QSslSocket::readyRead, this, [this] { onRead(); });
        connect(socket, &QSslSocket::encrypted, this, [this] {
            if (implicitTls)
                answer("greeting");
        });
        connect(socket, &QSslSocket::sslErrors, this, [] {});
        if (implicitTls)
            socket->startServerEncryption();
        else
            answer("greeting");
    }

private:
    QPointer<QSslSocket> socket;
    QByteArray line;
    bool inData = false, inAuth = false, tls = false, mute = false;

    // Sends the reply of step, piece by piece with time for the client to
    // read each; then, with tls, turns to TLS at once (so that the
    // client's handshake never meets a server still in clear).
    void answer(const QByteArray& step, bool tls = false)
    {
        const QByteArray r = replies.value(step);
        if (r == "close")
            return socket->disconnectFromHost();
        if (r == "silent")
            return;
        QList<QByteArray> pieces{r};
        if (oneByte) {
            pieces.clear();
            for (char c : r)
                pieces << QByteArray(1, c);
        } else if (step == splitStep && splitAt > 0 && splitAt < r.size()) {
            pieces = {r.left(splitAt), r.mid(splitAt)};
        }
        for (int i = 0; i < pieces.size(); ++i) {
            QTimer::singleShot(2 * i, socket, [s = socket, p = pieces[i], tls, last = i + 1 == pieces.size()] {
                s->write(p);
                if (tls && last)
                    s->startServerEncryption();
            });
        }
    }

    void onRead()
    {
        if (inData && stallData)
            return socket->setReadBufferSize(4096);  // the client's writes back up
        const QByteArray bytes = socket->readAll();
        if (mute)
            return;
        received += bytes;
        for (char c : bytes) {
            line += c;
            if (inData) {
                if (line.endsWith("\r\n.\r\n") || line == ".\r\n") {
                    inData = false;
                    line.clear();
                    answer("body");
                }
                continue;
            }
            if (c != '\n')
                continue;
            const QByteArray verb = line.left(4).toUpper(), whole = line;
            line.clear();
            if (inAuth) {
                inAuth = false;
                answer("auth2");
            } else if (verb == "EHLO") {
                answer(tls || implicitTls ? "ehlo2" : "ehlo");
            } else if (verb == "STAR") {
                tls = replies["starttls"].startsWith("220");
                mute = tls && replies["handshake"] == "silent";
                if (tls && replies["handshake"] == "close")
                    socket->disconnectFromHost();
                else
                    answer("starttls", tls && !mute);
                return;
            } else if (verb == "AUTH") {
                answer("auth");
                inAuth = replies["auth"].startsWith("334");
            } else if (verb == "RCPT" && whole.contains("refused")) {
                socket->write("550 5.1.1 no such user\r\n");
            } else if (verb == "DATA") {
                answer("data");
                inData = replies["data"].startsWith("354");
            } else {
                const QByteArray step = verb.toLower();
                answer(replies.contains(step) ? step : QByteArray("helo"));
            }
        }
    }
};

} // namespace
