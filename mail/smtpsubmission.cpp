#include "smtpsubmission.h"
#include "smtp_p.h"

#include "ktconfig.h"
#include "mimecodec.h"
#include "orvanelog_p.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QSettings>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>
#include <QTimer>

#include <array>
#include <deque>

using namespace Orvane;

namespace {

constexpr int StageCount = SmtpSubmission::QuitStage + 1;

// RFC 5321 section 4.5.3.2 where it names a value; a minute elsewhere.
constexpr std::array<int, StageCount> DefaultTimeouts = {
    60 * 1000,      // ConnectStage
    5 * 60 * 1000,  // GreetingStage
    5 * 60 * 1000,  // EhloStage
    2 * 60 * 1000,  // StartTlsStage
    60 * 1000,      // HandshakeStage
    2 * 60 * 1000,  // AuthStage
    5 * 60 * 1000,  // MailStage
    5 * 60 * 1000,  // RcptStage
    2 * 60 * 1000,  // DataStage
    3 * 60 * 1000,  // DataBlockStage
    10 * 60 * 1000, // DataEndStage
    5 * 60 * 1000,  // RsetStage
    60 * 1000,      // QuitStage
};

// What a sent command waits for.
enum Kind { KGreeting, KEhlo, KHelo, KStartTls, KAuth, KMail, KRcpt, KData, KBody, KDiscard, KRset, KQuit };

struct Expect {
    Kind kind;
    int msg;   // index into the message list, or -1
    int rcpt;  // recipient index for KRcpt
    SmtpSubmission::Stage stage;
};

struct Message {
    int id = 0;
    QString from;
    QStringList rcpts;
    QByteArray block;  // the DATA block as it goes on the wire
    qsizetype size = 0;
    bool eightBit = false;
    bool utf8 = false;
    bool done = false;
    bool mailOk = false;
    int accepted = 0;
    int replied = 0;  // RCPT replies so far
    QString mailReply;
    QString lastRefusal;
};

const char* const MechNames[] = {"PLAIN", "LOGIN", "CRAM-MD5", "XOAUTH2"};

QString settingsKey(const QString& group, const char* key)
{
    return KTConfig::ktKeyBase + QLatin1Char('/') + group + QLatin1Char('/') + QLatin1String(key);
}

bool hasEightBit(const QByteArray& bytes)
{
    for (char c : bytes) {
        if (uchar(c) >= 0x80)
            return true;
    }
    return false;
}

bool isAscii(const QString& s)
{
    for (QChar c : s) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// A credential must fit into the SASL forms it goes into (NUL and ^A
// separate fields) and never end a command line.
bool isSafeCredential(const QString& s)
{
    for (QChar c : s) {
        if (c.unicode() == 0 || c.unicode() == 1 || c.unicode() == '\r' || c.unicode() == '\n')
            return false;
    }
    return true;
}

// The reasons of a failed certificate check, as the user reads them.
QString tlsReasons(const QList<QSslError>& errors)
{
    QStringList reasons;
    for (const QSslError& e : errors) {
        QString r;
        switch (e.error()) {
        case QSslError::CertificateExpired:
            r = SmtpSubmission::tr("el certificado ha caducado");
            break;
        case QSslError::CertificateNotYetValid:
            r = SmtpSubmission::tr("el certificado aún no es válido");
            break;
        case QSslError::HostNameMismatch:
            r = SmtpSubmission::tr("el certificado es de otro nombre");
            break;
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
            r = SmtpSubmission::tr("el certificado está autofirmado");
            break;
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
            r = SmtpSubmission::tr("autoridad de certificación desconocida");
            break;
        case QSslError::CertificateRevoked:
            r = SmtpSubmission::tr("el certificado está revocado");
            break;
        default:
            r = e.errorString();
            break;
        }
        if (!reasons.contains(r))
            reasons << r;
    }
    return reasons.join(QLatin1String("; "));
}

} // namespace

quint16 SmtpSettings::effectivePort() const
{
    if (port != 0)
        return port;
    return security == ImplicitTls ? 465 : 587;
}

SmtpSettings SmtpSettings::load(QSettings& s, const QString& group)
{
    SmtpSettings r;
    r.server = s.value(settingsKey(group, "server")).toString();
    r.port = quint16(s.value(settingsKey(group, "port"), 0).toUInt());
    const QString security = s.value(settingsKey(group, "security")).toString();
    if (security == QLatin1String("tls"))
        r.security = ImplicitTls;
    else if (security == QLatin1String("plain"))
        r.security = Plain;
    r.user = s.value(settingsKey(group, "user")).toString();
    if (s.contains(settingsKey(group, "mechanisms"))) {
        r.mechanisms = 0;
        const QStringList names = s.value(settingsKey(group, "mechanisms")).toString().split(QLatin1Char(','));
        for (int i = 0; i < 4; ++i) {
            if (names.contains(QLatin1String(MechNames[i]), Qt::CaseInsensitive))
                r.mechanisms |= 1 << i;
        }
    }
    return r;
}

void SmtpSettings::save(QSettings& s, const QString& group) const
{
    static const char* const SecurityNames[] = {"starttls", "tls", "plain"};
    QStringList names;
    for (int i = 0; i < 4; ++i) {
        if (mechanisms & (1 << i))
            names << QLatin1String(MechNames[i]);
    }
    s.setValue(settingsKey(group, "server"), server);
    s.setValue(settingsKey(group, "port"), uint(port));
    s.setValue(settingsKey(group, "security"), QLatin1String(SecurityNames[security]));
    s.setValue(settingsKey(group, "user"), user);
    s.setValue(settingsKey(group, "mechanisms"), names.join(QLatin1Char(',')));
}

struct SmtpSubmission::Private {
    SmtpSettings settings;
    QString password;
    QString token;
    QList<QSslCertificate> cas;
    QByteArray pin;
    std::array<int, StageCount> timeouts = DefaultTimeouts;

    std::deque<Message> messages;
    int nextId = 1;
    size_t nextMessage = 0;  // first message not yet started

    // The session.
    QSslSocket* socket = nullptr;  // child; replaced per session
    QTimer* timer = nullptr;       // child
    SmtpWire::ReplyReader reader;
    std::deque<Expect> expects;
    bool active = false;
    bool starting = false;
    bool quitting = false;
    bool encrypted = false;
    bool authenticated = false;
    bool handshaking = false;  // between the TLS go-ahead and encrypted()
    SmtpWire::Capabilities caps;  // of the last EHLO (none after HELO)
    int authOffered = 0;
    int mechanism = 0;   // the one in use
    int authStep = 0;
    int inFlight = -1;   // message whose DATA reply is still due
    int current = -1;    // message of the unpipelined transaction under way
    QString tlsReason;
    QList<QByteArray> secrets;  // what must never show in a text
    Error error = NoError;
    QString errorText;
    Error lastError = NoError;
};

SmtpSubmission::SmtpSubmission(const SmtpSettings& settings, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>())
{
    d->settings = settings;
    d->timer = new QTimer(this);
    d->timer->setSingleShot(true);
    connect(d->timer, &QTimer::timeout, this, &SmtpSubmission::onTimeout);
}

SmtpSubmission::~SmtpSubmission()
{
    if (d->socket)
        d->socket->disconnect(this);
    d->timer->disconnect(this);
}

SmtpSettings SmtpSubmission::settings() const { return d->settings; }
void SmtpSubmission::setPassword(const QString& password) { d->password = password; }
void SmtpSubmission::setOAuth2Token(const QString& token) { d->token = token; }
void SmtpSubmission::setCaCertificates(const QList<QSslCertificate>& certificates) { d->cas = certificates; }
void SmtpSubmission::setPinnedSha256(const QByteArray& digest) { d->pin = digest; }
bool SmtpSubmission::isBusy() const { return d->active || d->starting; }
SmtpSubmission::Error SmtpSubmission::lastError() const { return d->lastError; }

void SmtpSubmission::setTimeout(Stage stage, int msecs)
{
    if (stage >= 0 && stage < StageCount)
        d->timeouts[stage] = msecs < 1 ? DefaultTimeouts[stage] : msecs;
}

int SmtpSubmission::timeout(Stage stage) const
{
    return stage < 0 || stage >= StageCount ? 0 : d->timeouts[stage];
}

int SmtpSubmission::send(const QString& from, const QStringList& recipients, const QByteArray& message)
{
    Message m;
    m.id = d->nextId++;
    m.from = from;
    m.rcpts = recipients;
    m.block = SmtpWire::dataBlock(message);
    m.size = m.block.size() - 3;  // with CR LF line ends, without the terminator
    m.eightBit = hasEightBit(message);
    QString refusal;
    if (!SmtpWire::isValidAddress(from, true))
        refusal = tr("Dirección de remitente no válida: %1").arg(SmtpWire::printable(from));
    else if (recipients.isEmpty())
        refusal = tr("El mensaje no tiene destinatarios");
    m.utf8 = !isAscii(from);
    for (const QString& r : recipients) {
        if (refusal.isEmpty() && !SmtpWire::isValidAddress(r, true))
            refusal = tr("Dirección de destinatario no válida: %1").arg(SmtpWire::printable(r));
        m.utf8 = m.utf8 || !isAscii(r);
    }
    const int id = m.id;
    if (!refusal.isEmpty()) {
        m.done = true;
        // Reported from the event loop, when the caller listens.
        QTimer::singleShot(0, this, [this, id, refusal] {
            d->lastError = InvalidAddress;
            emit status(refusal);
            emit finished(id, false, refusal);
        });
    }
    d->messages.push_back(std::move(m));
    if (refusal.isEmpty() && !d->active && !d->starting) {
        d->starting = true;
        QTimer::singleShot(0, this, &SmtpSubmission::startSession);
    }
    return id;
}

void SmtpSubmission::startSession()
{
    d->starting = false;
    if (d->active)
        return;
    bool pending = false;
    for (size_t i = d->nextMessage; i < d->messages.size(); ++i)
        pending = pending || !d->messages[i].done;
    if (!pending)
        return;
    // A fresh session state.
    d->active = true;
    d->quitting = d->encrypted = d->authenticated = false;
    d->expects.clear();
    d->reader = SmtpWire::ReplyReader();
    d->inFlight = d->current = -1;
    d->error = NoError;
    d->errorText.clear();
    d->handshaking = false;
    d->tlsReason.clear();
    d->secrets.clear();
    if (!d->password.isEmpty())
        d->secrets << d->password.toUtf8();
    if (!d->token.isEmpty())
        d->secrets << d->token.toUtf8();

    const SmtpSettings& s = d->settings;
    if (s.server.isEmpty()) {
        failSession(InvalidServer, tr("No se ha indicado ningún servidor de correo"), false);
        return;
    }
    if (!isSafeCredential(s.user) || !isSafeCredential(d->password) || !isSafeCredential(d->token)) {
        failSession(AuthUnavailable, tr("Credenciales no válidas para %1").arg(s.server), false);
        return;
    }
    if (d->socket) {
        d->socket->disconnect(this);
        d->socket->deleteLater();
    }
    d->socket = new QSslSocket(this);
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    if (!d->cas.isEmpty())
        config.addCaCertificates(d->cas);
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    d->socket->setSslConfiguration(config);
    connect(d->socket, &QSslSocket::connected, this, &SmtpSubmission::onConnected);
    connect(d->socket, &QSslSocket::encrypted, this, &SmtpSubmission::onEncrypted);
    connect(d->socket, &QSslSocket::readyRead, this, &SmtpSubmission::onReadyRead);
    connect(d->socket, &QSslSocket::errorOccurred, this, &SmtpSubmission::onSocketError);
    connect(d->socket, &QSslSocket::sslErrors, this, &SmtpSubmission::onSslErrors);
    connect(d->socket, &QSslSocket::bytesWritten, this, &SmtpSubmission::onWritten);
    connect(d->socket, &QSslSocket::encryptedBytesWritten, this, &SmtpSubmission::onWritten);

    emit status(tr("Conectando a %1").arg(s.server));
    d->timer->start(d->timeouts[ConnectStage]);
    d->handshaking = s.security == SmtpSettings::ImplicitTls;
    if (s.security == SmtpSettings::ImplicitTls)
        d->socket->connectToHostEncrypted(s.server, s.effectivePort());
    else
        d->socket->connectToHost(s.server, s.effectivePort());
}

void SmtpSubmission::onConnected()
{
    d->socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    emit status(tr("Conectado a %1").arg(d->socket->peerName()));
    if (d->settings.security == SmtpSettings::ImplicitTls) {
        d->timer->start(d->timeouts[HandshakeStage]);
        return;
    }
    d->expects.push_back({KGreeting, -1, 0, GreetingStage});
    d->timer->start(d->timeouts[GreetingStage]);
}

void SmtpSubmission::onSslErrors(const QList<QSslError>& errors)
{
    const QByteArray der = d->socket->peerCertificate().toDer();
    if (!d->pin.isEmpty() && !der.isEmpty() && QCryptographicHash::hash(der, QCryptographicHash::Sha256) == d->pin) {
        // The pinned certificate: exactly these errors of exactly this
        // certificate are accepted.
        d->socket->ignoreSslErrors(errors);
        return;
    }
    d->tlsReason = tlsReasons(errors);
}

void SmtpSubmission::onEncrypted()
{
    if (!d->active)
        return;
    const QByteArray der = d->socket->peerCertificate().toDer();
    if (!d->pin.isEmpty() && QCryptographicHash::hash(der, QCryptographicHash::Sha256) != d->pin) {
        failSession(TlsFailed, tr("Conexión segura con %1 fallida: %2")
                                   .arg(d->settings.server, tr("el certificado no es el fijado")),
                    false);
        return;
    }
    d->encrypted = true;
    d->handshaking = false;
    emit status(tr("Conexión cifrada con %1").arg(d->settings.server));
    if (d->settings.security == SmtpSettings::ImplicitTls) {
        d->expects.push_back({KGreeting, -1, 0, GreetingStage});
        d->timer->start(d->timeouts[GreetingStage]);
        return;
    }
    // The capabilities before TLS may have been forged: ask again.
    d->caps = SmtpWire::Capabilities();
    command("EHLO " + SmtpWire::ehloName(d->socket->localAddress()), KEhlo, EhloStage);
}

void SmtpSubmission::onReadyRead()
{
    if (!d->active)
        return;
    if (d->handshaking) {
        // Nothing received before the handshake is acted upon.
        d->socket->readAll();
        return;
    }
    if (d->expects.empty()) {
        const QByteArray junk = d->socket->readAll();
        failSession(UnexpectedReply, tr("Respuesta inesperada desde el servidor SMTP:\n\n") + scrub(junk), true);
        return;
    }
    d->reader.feed(d->socket->readAll());
    const QPointer<SmtpSubmission> self(this);
    while (d->active && !d->expects.empty()) {
        QByteArray reply;
        int code = -1;
        const SmtpWire::ReplyReader::Result r = d->reader.next(&reply, &code);
        if (r == SmtpWire::ReplyReader::NeedMore)
            return;
        if (r == SmtpWire::ReplyReader::TooLong) {
            failSession(UnexpectedReply,
                        tr("Respuesta inesperada desde el servidor SMTP:\n\n") + scrub(d->reader.partial()), true);
            return;
        }
        handle(code, reply);
        if (!self)
            return;
    }
}

void SmtpSubmission::handle(int code, const QByteArray& reply)
{
    const Expect e = d->expects.front();
    d->expects.pop_front();
    if (!d->expects.empty())
        d->timer->start(d->timeouts[d->expects.front().stage]);
    else
        d->timer->stop();
    const int kind = code < 0 ? -1 : code / 100;
    const QString server = d->settings.server;
    switch (e.kind) {
    case KGreeting:
        if (kind == 2)
            command("EHLO " + SmtpWire::ehloName(d->socket->localAddress()), KEhlo, EhloStage);
        else
            failSession(Rejected, tr("El servidor %1 rechazó la conexión: %2").arg(server, scrub(reply)), true);
        return;
    case KEhlo:
    case KHelo:
        if (e.kind == KEhlo && code >= 500 && code <= 504) {
            // No extensions: the plain greeting of RFC 821.
            command("HELO " + SmtpWire::ehloName(d->socket->localAddress()), KHelo, EhloStage);
        } else if (kind == 2) {
            d->caps = e.kind == KEhlo ? SmtpWire::parseEhlo(reply) : SmtpWire::Capabilities();
            d->authOffered = 0;
            for (int i = 0; i < 4; ++i) {
                if (d->caps.auth.contains(QByteArray(MechNames[i])))
                    d->authOffered |= 1 << i;
            }
            afterHello();
        } else {
            failSession(Rejected, tr("El servidor %1 rechazó el saludo: %2").arg(server, scrub(reply)), true);
        }
        return;
    case KStartTls:
        if (code == 220) {
            // Anything the server sent with or after its go-ahead came before
            // the handshake and is dropped unread.
            d->reader = SmtpWire::ReplyReader();
            d->socket->readAll();
            d->expects.clear();
            d->handshaking = true;
            d->timer->start(d->timeouts[HandshakeStage]);
            d->socket->startClientEncryption();
        } else {
            failSession(TlsUnavailable, tr("El servidor %1 rechazó STARTTLS: %2").arg(server, scrub(reply)), false);
        }
        return;
    case KAuth:
        if (code == 235) {
            d->authenticated = true;
            emit status(tr("Autenticación aceptada por %1").arg(server));
            nextTransaction();
        } else if (code == 334) {
            authenticate(reply.mid(4).trimmed());
        } else if (code == 535) {
            failSession(AuthenticationFailed,
                        tr("Autenticación fallida en %1: %2").arg(server, scrub(reply)), true);
        } else {
            failSession(AuthUnavailable,
                        tr("El servidor %1 rechazó la autenticación: %2").arg(server, scrub(reply)), true);
        }
        return;
    case KQuit:
        endSession();
        return;
    default:
        transactionReply(code, reply, e.kind, e.msg, e.rcpt);
        return;
    }
}

void SmtpSubmission::afterHello()
{
    const SmtpSettings& s = d->settings;
    if (s.security == SmtpSettings::StartTls && !d->encrypted) {
        if (!d->caps.startTls) {
            failSession(TlsUnavailable, tr("El servidor %1 no ofrece STARTTLS").arg(s.server), false);
            return;
        }
        command("STARTTLS", KStartTls, StartTlsStage);
        return;
    }
    if (!s.user.isEmpty() && !d->authenticated) {
        d->mechanism = 0;
        d->authStep = 0;
        authenticate();
        return;
    }
    nextTransaction();
}

void SmtpSubmission::authenticate(const QByteArray& challengeText)
{
    const SmtpSettings& s = d->settings;
    if (!d->encrypted && s.security != SmtpSettings::Plain) {
        failSession(TlsUnavailable, tr("Autenticación sin cifrar rechazada con %1").arg(s.server), false);
        return;
    }
    const QByteArray user = s.user.toUtf8();
    const QByteArray password = d->password.toUtf8();
    if (d->mechanism == 0) {
        // The strongest mechanism offered, allowed, and with credentials.
        const int usable = d->authOffered & s.mechanisms
            & ((d->token.isEmpty() ? 0 : SmtpSettings::MechXOAuth2)
               | (d->password.isEmpty() ? 0 : SmtpSettings::MechCramMd5 | SmtpSettings::MechPlain
                                                   | SmtpSettings::MechLogin));
        for (int m : {SmtpSettings::MechXOAuth2, SmtpSettings::MechCramMd5, SmtpSettings::MechPlain,
                      SmtpSettings::MechLogin}) {
            if (usable & m) {
                d->mechanism = m;
                break;
            }
        }
        QByteArray first;
        switch (d->mechanism) {
        case SmtpSettings::MechPlain:
            first = "AUTH PLAIN " + QByteArray('\0' + user + '\0' + password).toBase64();
            break;
        case SmtpSettings::MechLogin:
            first = "AUTH LOGIN";
            break;
        case SmtpSettings::MechCramMd5:
            first = "AUTH CRAM-MD5";
            break;
        case SmtpSettings::MechXOAuth2:
            first = "AUTH XOAUTH2 "
                + QByteArray("user=" + user + "\x01" + "auth=Bearer " + d->token.toUtf8() + "\x01\x01").toBase64();
            break;
        default:
            failSession(AuthUnavailable,
                        tr("El servidor %1 no ofrece ningún método de autenticación permitido").arg(s.server), true);
            return;
        }
        d->secrets << first.mid(first.indexOf(' ', 5) + 1);
        command(first, KAuth, AuthStage);
        return;
    }
    // A 334 challenge of the mechanism in use.
    const QByteArray challenge = QByteArray::fromBase64(challengeText);
    QByteArray answer;
    const int step = d->authStep++;
    if (d->mechanism == SmtpSettings::MechLogin && step < 2) {
        answer = (step == 0 ? user : password).toBase64();
    } else if (d->mechanism == SmtpSettings::MechCramMd5 && step == 0) {
        // One line whatever the user name's length.
        answer = MIMECodec::CramMd5Digest(QCString(user), QCString(password), QCString(challenge));
        answer.replace('\n', QByteArray()).replace('\r', QByteArray()).replace('\0', QByteArray());
    } else if (d->mechanism == SmtpSettings::MechXOAuth2 && step == 0) {
        // The server's error details; an empty line gets its final reply.
        answer = QByteArray();
    } else {
        answer = "*";  // a challenge the mechanism has no answer to: cancel
    }
    d->secrets << answer;
    command(answer, KAuth, AuthStage);
}

void SmtpSubmission::nextTransaction()
{
    if (!d->active || d->quitting)
        return;
    if (d->caps.pipelining ? d->inFlight >= 0 : (d->current >= 0 || !d->expects.empty()))
        return;
    const QString server = d->settings.server;
    while (d->nextMessage < d->messages.size()) {
        const int index = int(d->nextMessage++);
        Message& m = d->messages[size_t(index)];
        if (m.done)
            continue;
        if (d->caps.size > 0 && m.size > d->caps.size) {
            finishMessage(index, false, MessageTooLarge,
                          tr("El mensaje (%1 bytes) supera el límite de %2 bytes del servidor %3")
                              .arg(m.size).arg(d->caps.size).arg(server));
            continue;
        }
        if ((m.eightBit && !d->caps.eightBitMime && !d->caps.smtpUtf8) || (m.utf8 && !d->caps.smtpUtf8)) {
            finishMessage(index, false, EightBitUnsupported,
                          m.utf8 ? tr("El servidor %1 no admite direcciones UTF-8 (SMTPUTF8)").arg(server)
                                 : tr("El servidor %1 no admite texto de 8 bits (8BITMIME)").arg(server));
            continue;
        }
        QByteArray mail = "MAIL FROM:<" + m.from.toUtf8() + '>';
        if (d->caps.sizeOffered)
            mail += " SIZE=" + QByteArray::number(m.size);
        if (m.eightBit)
            mail += " BODY=8BITMIME";
        if (m.utf8)
            mail += " SMTPUTF8";
        command(mail, KMail, MailStage, index);
        if (d->caps.pipelining) {
            for (int r = 0; r < m.rcpts.size(); ++r)
                command("RCPT TO:<" + m.rcpts[r].toUtf8() + '>', KRcpt, RcptStage, index, r);
            command("DATA", KData, DataStage, index);
            d->inFlight = index;
        } else {
            d->current = index;
        }
        return;
    }
    if (d->expects.empty()) {
        d->quitting = true;
        command("QUIT", KQuit, QuitStage);
    }
}

void SmtpSubmission::transactionReply(int code, const QByteArray& reply, int kind, int index, int rcpt)
{
    const bool good = code >= 200 && code < 300;
    if (kind == KRset) {
        // RSET belongs to no message.
        if (good)
            nextTransaction();
        else
            failSession(UnexpectedReply, tr("Respuesta inesperada desde el servidor SMTP:\n\n") + scrub(reply), true);
        return;
    }
    Message& m = d->messages[size_t(index)];
    const QString server = d->settings.server;
    const QPointer<SmtpSubmission> self(this);
    auto reset = [this] {
        command("RSET", KRset, RsetStage);
        d->current = -1;
    };
    switch (kind) {
    case KMail:
        m.mailOk = good;
        if (!good)
            m.mailReply = scrub(reply);
        if (d->caps.pipelining)
            return;
        if (!good) {
            finishMessage(index, false, Rejected,
                          tr("El servidor %1 rechazó el remitente %2: %3").arg(server, m.from, m.mailReply));
            if (self)
                reset();
            return;
        }
        command("RCPT TO:<" + m.rcpts[0].toUtf8() + '>', KRcpt, RcptStage, index, 0);
        return;
    case KRcpt:
        ++m.replied;
        if (good) {
            ++m.accepted;
        } else if (m.mailOk) {
            m.lastRefusal = scrub(reply);
            emit recipientRefused(m.id, m.rcpts[rcpt], m.lastRefusal);
            if (!self)
                return;
        }
        if (d->caps.pipelining)
            return;
        if (m.replied < m.rcpts.size()) {
            command("RCPT TO:<" + m.rcpts[m.replied].toUtf8() + '>', KRcpt, RcptStage, index, m.replied);
        } else if (m.accepted > 0) {
            command("DATA", KData, DataStage, index);
        } else {
            finishMessage(index, false, RecipientsRefused,
                          tr("El servidor %1 rechazó todos los destinatarios: %2").arg(server, m.lastRefusal));
            if (self)
                reset();
        }
        return;
    case KData:
        d->inFlight = -1;
        if (code == 354 && m.mailOk && m.accepted > 0) {
            d->socket->write(m.block);
            d->expects.push_back({KBody, index, 0, DataBlockStage});
            if (d->expects.size() == 1)
                d->timer->start(d->timeouts[DataBlockStage]);
            nextTransaction();
            return;
        }
        if (!m.mailOk)
            finishMessage(index, false, Rejected,
                          tr("El servidor %1 rechazó el remitente %2: %3").arg(server, m.from, m.mailReply));
        else if (m.accepted == 0)
            finishMessage(index, false, RecipientsRefused,
                          tr("El servidor %1 rechazó todos los destinatarios: %2").arg(server, m.lastRefusal));
        else
            finishMessage(index, false, Rejected,
                          tr("El servidor %1 rechazó el mensaje: %2").arg(server, scrub(reply)));
        if (!self)
            return;
        if (code == 354) {
            // A go-ahead with nobody to deliver to: end the empty text.
            command(".", KDiscard, DataEndStage, index);
            return;
        }
        reset();
        nextTransaction();
        return;
    case KBody:
        if (good)
            finishMessage(index, true, NoError, QString());
        else
            finishMessage(index, false, Rejected, tr("El servidor %1 rechazó el mensaje: %2").arg(server, scrub(reply)));
        if (!self)
            return;
        d->current = -1;
        nextTransaction();
        return;
    case KDiscard:
        reset();
        nextTransaction();
        return;
    default:
        return;
    }
}

void SmtpSubmission::command(const QByteArray& line, int kind, Stage stage, int index, int rcpt)
{
    d->socket->write(line + "\r\n");
    d->expects.push_back({Kind(kind), index, rcpt, stage});
    if (d->expects.size() == 1)
        d->timer->start(d->timeouts[stage]);
}

void SmtpSubmission::onWritten()
{
    if (!d->active || d->expects.empty() || d->expects.front().kind != KBody)
        return;
    const qint64 left = d->socket->bytesToWrite() + d->socket->encryptedBytesToWrite();
    d->timer->start(d->timeouts[left > 0 ? DataBlockStage : DataEndStage]);
}

void SmtpSubmission::onTimeout()
{
    if (!d->active)
        return;
    if (d->quitting) {
        endSession();
        return;
    }
    failSession(Timeout, tr("Tiempo de espera agotado con el servidor %1").arg(d->settings.server), false);
}

void SmtpSubmission::onSocketError()
{
    if (!d->active)
        return;
    const QString server = d->settings.server;
    switch (d->socket->error()) {
    case QAbstractSocket::RemoteHostClosedError: {
        const QPointer<SmtpSubmission> self(this);
        if (d->socket->bytesAvailable() > 0)
            onReadyRead();
        if (!self || !d->active)
            return;
        if (d->quitting)
            endSession();
        else
            failSession(ConnectionClosed, tr("Conexión cerrada por el servidor %1").arg(server), false);
        return;
    }
    case QAbstractSocket::ConnectionRefusedError:
        failSession(ConnectionRefused, tr("Conexión rechazada por %1").arg(server), false);
        return;
    case QAbstractSocket::HostNotFoundError:
        failSession(HostNotFound, tr("No se encuentra el servidor %1").arg(server), false);
        return;
    case QAbstractSocket::SslHandshakeFailedError:
        failSession(TlsFailed,
                    tr("Conexión segura con %1 fallida: %2")
                        .arg(server, d->tlsReason.isEmpty() ? d->socket->errorString() : d->tlsReason),
                    false);
        return;
    default:
        if (d->quitting)
            endSession();
        else
            failSession(NetworkError, tr("Error de red con el servidor %1: %2").arg(server, d->socket->errorString()),
                        false);
        return;
    }
}

void SmtpSubmission::finishMessage(int index, bool ok, Error error, const QString& text)
{
    Message& m = d->messages[size_t(index)];
    if (m.done)
        return;
    m.done = true;
    const int id = m.id;
    d->lastError = error;
    emit status(ok ? tr("Mensaje %1 enviado").arg(id) : text);
    emit finished(id, ok, text);
}

void SmtpSubmission::failSession(Error error, const QString& text, bool sayQuit)
{
    if (!d->active)
        return;
    if (d->error == NoError) {
        d->error = error;
        d->errorText = text;
    }
    const QPointer<SmtpSubmission> self(this);
    if (d->quitting) {
        endSession();
        return;
    }
    d->quitting = true;
    // Every message not yet answered shares the session's fate; none is
    // sent again.
    bool reported = false;
    for (size_t i = 0; i < d->messages.size() && self; ++i) {
        if (!d->messages[i].done) {
            finishMessage(int(i), false, error, text);
            reported = true;
        }
    }
    if (!self)
        return;
    d->nextMessage = d->messages.size();
    if (!reported)
        emit status(text);
    if (!self)
        return;
    d->expects.clear();
    if (sayQuit && d->socket && d->socket->state() == QAbstractSocket::ConnectedState) {
        command("QUIT", KQuit, QuitStage);
        return;
    }
    endSession();
}

void SmtpSubmission::endSession()
{
    if (!d->active)
        return;
    d->active = false;
    d->quitting = false;
    d->timer->stop();
    d->expects.clear();
    if (d->socket) {
        d->socket->disconnect(this);
        d->socket->abort();
        d->socket->deleteLater();
        d->socket = nullptr;
    }
    // Forget what is done; keep what was queued meanwhile.
    std::deque<Message> rest;
    for (size_t i = d->nextMessage; i < d->messages.size(); ++i) {
        if (!d->messages[i].done)
            rest.push_back(std::move(d->messages[i]));
    }
    d->messages = std::move(rest);
    d->nextMessage = 0;
    const Error error = d->error;
    const QString text = d->errorText;
    if (error == NoError)
        emit status(tr("Envío completado"));
    if (!d->messages.empty() && !d->starting) {
        d->starting = true;
        QTimer::singleShot(0, this, &SmtpSubmission::startSession);
    }
    emit sessionFinished(error, text);
}

QString SmtpSubmission::scrub(const QByteArray& reply) const
{
    QByteArray r = reply;
    for (const QByteArray& s : d->secrets) {
        if (s.size() >= 3)
            r.replace(s, "****");
    }
    QString text = QString::fromLatin1(r.left(SmtpWire::MaxReplyLine)).trimmed();
    text.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return SmtpWire::printable(text);
}
