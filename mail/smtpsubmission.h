#pragma once

#include "orvanemail_export.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

#include <memory>

class QSettings;

/**
 * \brief Where and how to submit mail: the part of an account the host
 * keeps in its settings. The password or token is never part of it.
 */
struct ORVANEMAIL_EXPORT SmtpSettings {
    /// How the connection is protected.
    enum Security {
        StartTls,     ///< plain connection upgraded with STARTTLS (RFC 3207); port 587
        ImplicitTls,  ///< TLS from the first byte (RFC 8314); port 465
        Plain         ///< no encryption at all; only when asked for explicitly
    };
    /// Authentication mechanisms (RFC 4954), as flags.
    enum Mechanism {
        MechPlain = 1,
        MechLogin = 2,
        MechCramMd5 = 4,
        MechXOAuth2 = 8,  ///< needs a bearer token instead of a password
        AllMechanisms = 15
    };

    QString server;           ///< host name or address
    quint16 port = 0;         ///< 0: the default of the security mode
    Security security = StartTls;
    QString user;             ///< empty: no authentication
    int mechanisms = AllMechanisms;  ///< the mechanisms the caller allows

    /// The port in use: port, or 587 / 465 by security.
    quint16 effectivePort() const;

    /// Reads the settings kept under \a group (below the application's key
    /// base) from \a settings. Missing values keep their defaults.
    static SmtpSettings load(QSettings& settings, const QString& group = QStringLiteral("smtp"));
    /// Writes every field under \a group (below the key base).
    void save(QSettings& settings, const QString& group = QStringLiteral("smtp")) const;
};

/**
 * \brief Submits messages to a mail server over one authenticated,
 * encrypted connection, the way a mail client sends through its provider.
 *
 * Queue messages with send(); each gets an id and, later, exactly one
 * finished() signal. The session starts from the event loop, sends every
 * queued message (with PIPELINING when the server offers it), and ends
 * with QUIT when the queue is empty; sending more afterwards opens a new
 * session. Nothing blocks; every stage has a time-out.
 *
 * Security: certificates are verified against the system's authorities
 * (plus setCaCertificates()) and the server's name; a certificate can be
 * trusted by its SHA-256 fingerprint instead (setPinnedSha256()). After a
 * security failure nothing more is sent. With STARTTLS, whatever the
 * server sent before the handshake is discarded and the capabilities are
 * asked for again. Credentials go only over an encrypted connection
 * (unless the settings say Plain) and never appear in status or error
 * texts or in the log.
 */
class ORVANEMAIL_EXPORT SmtpSubmission : public QObject
{
    Q_OBJECT

public:
    /// How a message (or the session) failed.
    enum Error {
        NoError,
        InvalidAddress,        ///< a sender or recipient not usable on a command line
        InvalidServer,         ///< no server given
        HostNotFound,
        ConnectionRefused,
        ConnectionClosed,      ///< the server closed the connection too early
        Timeout,
        TlsUnavailable,        ///< STARTTLS not offered, or refused
        TlsFailed,             ///< handshake or certificate failure
        AuthUnavailable,       ///< no allowed mechanism offered, or no credentials
        AuthenticationFailed,  ///< the server refused the credentials (535)
        RecipientsRefused,     ///< every recipient was refused
        MessageTooLarge,       ///< over the server's SIZE limit
        EightBitUnsupported,   ///< 8-bit text or UTF-8 address, server offers neither extension
        Rejected,              ///< the server refused the sender or the text
        UnexpectedReply,
        NetworkError
    };
    Q_ENUM(Error)

    /// Stages with their own time-out.
    enum Stage {
        ConnectStage, GreetingStage, EhloStage, StartTlsStage, HandshakeStage, AuthStage,
        MailStage, RcptStage, DataStage, DataBlockStage, DataEndStage, RsetStage, QuitStage
    };
    Q_ENUM(Stage)

    explicit SmtpSubmission(const SmtpSettings& settings, QObject* parent = nullptr);
    ~SmtpSubmission() override;

    SmtpSettings settings() const;
    /// The password for PLAIN, LOGIN and CRAM-MD5. Kept in memory only.
    void setPassword(const QString& password);
    /// The OAuth2 bearer token for XOAUTH2. Kept in memory only.
    void setOAuth2Token(const QString& token);
    /// Authorities trusted besides the system's.
    void setCaCertificates(const QList<QSslCertificate>& certificates);
    /// Trusts exactly the certificate whose DER form has this SHA-256
    /// digest (32 bytes), whatever its issuer, name or dates.
    void setPinnedSha256(const QByteArray& digest);
    /// Sets the time-out of \a stage in milliseconds (below 1: the default).
    void setTimeout(Stage stage, int msecs);
    int timeout(Stage stage) const;

    /// Queues \a message (bytes as they stand; transparency and CR LF are
    /// added on the wire) from \a from to every address of \a recipients
    /// (To, Cc and Bcc alike). Returns the message's id (from 1 upwards).
    /// Refused addresses are reported through finished() from the event
    /// loop, before anything is sent for that message.
    int send(const QString& from, const QStringList& recipients, const QByteArray& message);

    /// True while a session is open or about to open.
    bool isBusy() const;
    /// The error of the message whose finished() was emitted last (inside
    /// a slot: of that message).
    Error lastError() const;

Q_SIGNALS:
    /// A progress or error text for the user.
    void status(const QString& text);
    /// One refused recipient of message \a id, with the server's reply.
    void recipientRefused(int id, const QString& address, const QString& reply);
    /// The outcome of message \a id, exactly once: \a ok when the server
    /// accepted the text for at least one recipient.
    void finished(int id, bool ok, const QString& errorText);
    /// The session ended; every queued message has had its finished().
    void sessionFinished(SmtpSubmission::Error error, const QString& errorText);

private:
    struct Private;
    std::unique_ptr<Private> d;

    void startSession();
    void onConnected();
    void onEncrypted();
    void onReadyRead();
    void onSocketError();
    void onSslErrors(const QList<class QSslError>& errors);
    void onWritten();
    void onTimeout();
    void handle(int code, const QByteArray& reply);
    void afterHello();
    void authenticate(const QByteArray& challengeText = QByteArray());
    void nextTransaction();
    void transactionReply(int code, const QByteArray& reply, int kind, int index, int rcpt);
    void command(const QByteArray& line, int kind, Stage stage, int index = -1, int rcpt = 0);
    void finishMessage(int index, bool ok, Error error, const QString& text);
    void failSession(Error error, const QString& text, bool sayQuit);
    void endSession();
    QString scrub(const QByteArray& reply) const;
};
