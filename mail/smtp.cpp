#include "smtp.h"
#include "smtp_p.h"

#include "orvanelog_p.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDnsLookup>
#include <QMessageBox>
#include <QPointer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <array>

using namespace Orvane;

namespace {

constexpr int StageCount = Smtp::QuitStage + 1;

// Defaults after RFC 5321 section 4.5.3.2 for the dialogue; lookups, the
// connection and QUIT are not covered there and get a minute each.
constexpr std::array<int, StageCount> DefaultTimeouts = {
    60 * 1000,       // LookupStage
    60 * 1000,       // ConnectStage
    5 * 60 * 1000,   // GreetingStage
    5 * 60 * 1000,   // HeloStage
    5 * 60 * 1000,   // MailStage
    5 * 60 * 1000,   // RcptStage
    2 * 60 * 1000,   // DataStage
    3 * 60 * 1000,   // DataBlockStage
    10 * 60 * 1000,  // DataEndStage
    60 * 1000,       // QuitStage
};

} // namespace

struct Smtp::Private {
    QByteArray message;  // the DATA block as it goes on the wire
    QString from;
    QString rcpt;
    QTcpSocket* socket = nullptr;  // child of the sender
    QTimer* timer = nullptr;       // child of the sender; the stage's time-out
    int state = AwaitGreeting;
    std::unique_ptr<QDnsLookup> mxLookup;
    std::unique_ptr<QDnsLookup> hostLookup;  // the exchange's address, with a nameserver set
    QString mailServer_;

    SmtpWire::ReplyReader reader;
    QHostAddress nameserver;
    std::array<int, StageCount> timeouts = DefaultTimeouts;
    Stage stage = LookupStage;
    QString host;  // the server in use, for messages
    quint16 port = SmtpWire::DefaultPort;
    bool constructing = true;
    bool accepted = false;
    bool done = false;
    Error error = NoError;
    QString errorText;
};

Smtp::Smtp(const QString& from, const QString& to, const QString& message, const QString& mailServer)
    : QObject(nullptr), d(std::make_unique<Private>())
{
    d->message = SmtpWire::dataBlock(SmtpWire::messageBytes(message));
    init(from, to, mailServer);
}

Smtp::Smtp(const QString& from, const QString& to, const QByteArray& message, const QString& mailServer)
    : QObject(nullptr), d(std::make_unique<Private>())
{
    d->message = SmtpWire::dataBlock(message);
    init(from, to, mailServer);
}

void Smtp::init(const QString& from, const QString& to, const QString& mailServer)
{
    d->mailServer_ = mailServer;
    d->socket = new QTcpSocket(this);
    connect(d->socket, &QTcpSocket::readyRead, this, &Smtp::readyRead);
    connect(d->socket, &QTcpSocket::connected, this, &Smtp::connected);
    connect(d->socket, &QTcpSocket::errorOccurred, this, &Smtp::socketError);
    connect(d->socket, &QTcpSocket::disconnected, this, &Smtp::socketClosed);
    connect(d->socket, &QTcpSocket::bytesWritten, this, &Smtp::written);
    d->timer = new QTimer(this);
    d->timer->setSingleShot(true);
    connect(d->timer, &QTimer::timeout, this, &Smtp::stageTimedOut);
    d->from = from;
    d->rcpt = to;
    d->state = AwaitGreeting;

    // Addresses go into command lines: anything that could end a line or
    // smuggle a second command is refused before anything is sent. The
    // outcome is reported from the event loop, when the caller listens.
    QString refusal;
    if (!SmtpWire::isValidAddress(from))
        refusal = tr("Dirección de remitente no válida: %1").arg(SmtpWire::printable(from));
    else if (!SmtpWire::isValidAddress(to))
        refusal = tr("Dirección de destinatario no válida: %1").arg(SmtpWire::printable(to));
    if (!refusal.isEmpty()) {
        QTimer::singleShot(0, this, [this, refusal] {
            fail(InvalidAddress, refusal);
            end();
        });
    } else if (d->mailServer_.isEmpty()) {
        const QString domain = to.mid(to.indexOf(QLatin1Char('@')) + 1);
        d->host = domain;
        d->mxLookup = std::make_unique<QDnsLookup>(QDnsLookup::MX, domain);
        connect(d->mxLookup.get(), &QDnsLookup::finished, this, &Smtp::dnsLookupHelper);
        // Started from the event loop so that a nameserver set right after
        // construction applies.
        setStage(LookupStage);
        QTimer::singleShot(0, this, &Smtp::startLookup);
    } else {
        connectToMailServer(d->mailServer_);
    }
    d->constructing = false;
}

Smtp::~Smtp()
{
    // The socket and timer are children and outlive this part of the
    // object; nothing they emit from now on may reach it.
    d->socket->disconnect(this);
    d->timer->disconnect(this);
}

QString Smtp::mailServer() const
{
    return d->mailServer_;
}

void Smtp::setTimeout(Stage stage, int msecs)
{
    if (stage < 0 || stage >= StageCount)
        return;
    d->timeouts[stage] = msecs < 1 ? DefaultTimeouts[stage] : msecs;
    if (!d->done && d->stage == stage && d->timer->isActive())
        d->timer->start(d->timeouts[stage]);
}

int Smtp::timeout(Stage stage) const
{
    return stage < 0 || stage >= StageCount ? 0 : d->timeouts[stage];
}

int Smtp::defaultTimeout(Stage stage)
{
    return stage < 0 || stage >= StageCount ? 0 : DefaultTimeouts[stage];
}

void Smtp::setNameserver(const QHostAddress& nameserver)
{
    d->nameserver = nameserver;
}

Smtp::Error Smtp::error() const
{
    return d->error;
}

QString Smtp::errorString() const
{
    return d->errorText;
}

void Smtp::startLookup()
{
    if (d->done || !d->mxLookup)
        return;
    if (!d->nameserver.isNull())
        d->mxLookup->setNameserver(d->nameserver);
    d->mxLookup->lookup();
}

void Smtp::dnsLookupHelper()
{
    if (d->done)
        return;
    const QList<QDnsMailExchangeRecord> servers = d->mxLookup->mailExchangeRecords();
    if (!servers.isEmpty()) {
        connectToMailServer(servers.first().exchange());
        return;
    }
    fail(DnsError, tr("Error en el registro MX del DNS"));
    end();
}

void Smtp::connectToMailServer(const QString& server)
{
    emit status(tr("Conectando a %1").arg(server));
    if (d->done)
        return;
    QString host;
    quint16 port = SmtpWire::DefaultPort;
    if (!SmtpWire::splitServer(server, &host, &port)) {
        const QString text = tr("Servidor de correo no válido: %1").arg(SmtpWire::printable(server));
        QTimer::singleShot(0, this, [this, text] {
            fail(InvalidServer, text);
            end();
        });
        return;
    }
    d->host = host;
    d->port = port;
    if (!d->nameserver.isNull() && QHostAddress(host).isNull()) {
        // The exchange's address comes from the same nameserver as its name.
        setStage(LookupStage);
        d->hostLookup = std::make_unique<QDnsLookup>(QDnsLookup::A, host, d->nameserver);
        connect(d->hostLookup.get(), &QDnsLookup::finished, this, [this] {
            if (d->done)
                return;
            const QList<QDnsHostAddressRecord> addresses = d->hostLookup->hostAddressRecords();
            if (addresses.isEmpty()) {
                fail(HostNotFound, tr("No se encuentra el servidor %1").arg(d->host));
                end();
                return;
            }
            setStage(ConnectStage);
            d->socket->connectToHost(addresses.first().value(), d->port);
        });
        d->hostLookup->lookup();
        return;
    }
    setStage(ConnectStage);
    if (d->constructing) {
        // A connection that fails at once reports from the event loop, when
        // the caller listens.
        QTimer::singleShot(0, this, [this] {
            if (!d->done)
                d->socket->connectToHost(d->host, d->port);
        });
    } else {
        d->socket->connectToHost(host, port);
    }
}

void Smtp::connected()
{
    if (d->done)
        return;
    d->socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    setStage(GreetingStage);
    emit status(tr("Conectado a %1").arg(d->socket->peerName()));
}

void Smtp::readyRead()
{
    if (d->done)
        return;
    d->reader.feed(d->socket->readAll());
    const QPointer<Smtp> self(this);
    for (;;) {
        QByteArray reply;
        int code = -1;
        const SmtpWire::ReplyReader::Result r = d->reader.next(&reply, &code);
        if (r == SmtpWire::ReplyReader::NeedMore)
            return;
        if (r == SmtpWire::ReplyReader::TooLong) {
            if (d->state == Closing)
                end();
            else
                unexpected(d->reader.partial());
            return;
        }
        act(code, reply);
        if (!self || d->done)
            return;
    }
}

void Smtp::act(int code, const QByteArray& reply)
{
    const int kind = code < 0 ? -1 : code / 100;
    const QString from = d->from;
    switch (d->state) {
    case AwaitGreeting:
        if (kind == 2) {
            d->socket->write("HELO " + from.mid(from.indexOf(QLatin1Char('@')) + 1).toLatin1() + "\r\n");
            d->state = AwaitHeloReply;
            setStage(HeloStage);
            return;
        }
        break;
    case AwaitHeloReply:
        if (kind == 2) {
            d->socket->write("MAIL FROM: <" + from.toLatin1() + ">\r\n");
            d->state = AwaitMailReply;
            setStage(MailStage);
            return;
        }
        break;
    case AwaitMailReply:
        if (kind == 2) {
            d->socket->write("RCPT TO: <" + d->rcpt.toLatin1() + ">\r\n");
            d->state = AwaitRcptReply;
            setStage(RcptStage);
            return;
        }
        break;
    case AwaitRcptReply:
        if (kind == 2) {
            d->socket->write("DATA\r\n");
            d->state = AwaitDataReply;
            setStage(DataStage);
            return;
        }
        break;
    case AwaitDataReply:
        if (kind == 3) {
            d->socket->write(d->message);
            d->state = AwaitBodyReply;
            setStage(DataBlockStage);
            return;
        }
        break;
    case AwaitBodyReply:
        if (kind == 2) {
            d->accepted = true;
            d->socket->write("QUIT\r\n");
            d->state = Closing;
            setStage(QuitStage);
            emit status(tr("Envío completado"));
            return;
        }
        break;
    default:
        // Any reply while closing ends the object: normally the reply to QUIT.
        end();
        return;
    }
    unexpected(reply);
}

void Smtp::unexpected(const QByteArray& reply)
{
    const QString text = tr("Respuesta inesperada desde el servidor SMTP:\n\n") + QString::fromLatin1(reply);
    if (d->error == NoError) {
        d->error = UnexpectedReply;
        d->errorText = text;
    }
    // Say goodbye instead of waiting for a reply that will not come.
    d->state = Closing;
    if (d->socket->state() == QAbstractSocket::ConnectedState)
        d->socket->write("QUIT\r\n");
    setStage(QuitStage);

    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app && QThread::currentThread() == app->thread()) {
        // Modal, but not a nested event loop: the dialogue goes on (and the
        // object may be gone) while the box is open.
        auto* box = new QMessageBox(QMessageBox::Warning, tr("Error SMTP"), text, QMessageBox::NoButton,
                                    QApplication::activeWindow());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::ApplicationModal);
        box->show();
    } else {
        qCWarning(lcOrvaneMail).noquote() << text;
        emit status(text);
    }
}

void Smtp::setStage(Stage stage)
{
    d->stage = stage;
    d->timer->start(d->timeouts[stage]);
}

void Smtp::stageTimedOut()
{
    if (d->done)
        return;
    if (d->state == Closing) {
        end();
        return;
    }
    if (d->stage == LookupStage)
        fail(Timeout, tr("Tiempo de espera agotado en la consulta DNS de %1").arg(d->host));
    else
        fail(Timeout, tr("Tiempo de espera agotado con el servidor %1").arg(d->host));
    end();
}

void Smtp::socketError()
{
    if (d->done)
        return;
    switch (d->socket->error()) {
    case QAbstractSocket::RemoteHostClosedError:
        socketClosed();
        return;
    case QAbstractSocket::ConnectionRefusedError:
        fail(ConnectionRefused, tr("Conexión rechazada por %1").arg(d->host));
        break;
    case QAbstractSocket::HostNotFoundError:
        fail(HostNotFound, tr("No se encuentra el servidor %1").arg(d->host));
        break;
    default:
        if (d->state == Closing) {
            end();
            return;
        }
        fail(NetworkError, tr("Error de red con el servidor %1: %2").arg(d->host, d->socket->errorString()));
        break;
    }
    end();
}

void Smtp::socketClosed()
{
    if (d->done)
        return;
    // Replies that came with the close count first.
    const QPointer<Smtp> self(this);
    if (d->socket->bytesAvailable() > 0)
        readyRead();
    if (!self || d->done)
        return;
    if (d->state != Closing)
        fail(ConnectionClosed, tr("Conexión cerrada por el servidor %1").arg(d->host));
    end();
}

void Smtp::written()
{
    if (d->done || d->state != AwaitBodyReply)
        return;
    if (d->stage != DataBlockStage && d->stage != DataEndStage)
        return;
    setStage(d->socket->bytesToWrite() > 0 ? DataBlockStage : DataEndStage);
}

void Smtp::fail(Error error, const QString& text)
{
    if (d->error == NoError) {
        d->error = error;
        d->errorText = text;
    }
    emit status(text);
}

void Smtp::end()
{
    if (d->done)
        return;
    d->done = true;
    d->timer->stop();
    d->socket->disconnect(this);
    d->socket->abort();
    if (d->mxLookup)
        d->mxLookup->abort();
    if (d->hostLookup)
        d->hostLookup->abort();
    const bool ok = d->accepted;
    const QPointer<Smtp> self(this);
    emit finished(ok, ok ? QString() : d->errorText);
    if (self)
        deleteLater();
}
