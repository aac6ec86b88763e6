#pragma once

#include "orvanemail_export.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>

/**
 * \brief Sends one composed message to one recipient by SMTP.
 *
 * Create it with \c new and let it run: everything happens on the event
 * loop of the creating thread. Without a server, the mail exchangers of
 * the recipient's domain are looked up and the first one reported is
 * used. The dialogue is HELO, MAIL FROM, RCPT TO, DATA, the text, QUIT.
 * Progress and errors come as Spanish user texts through status(); the
 * outcome comes exactly once through finished(), after which the object
 * deletes itself (deferred delete). An unexpected server reply is shown in
 * a modal warning box when the application is a widgets \c QApplication;
 * otherwise its text goes to status() and the log.
 *
 * The text is sent with SMTP transparency: a line starting with "." gets
 * the dot doubled, a bare LF goes out as CR LF, and the terminating "."
 * always stands on a line of its own. Addresses must be plain
 * local@domain in printable ASCII; anything else is refused before any
 * connection is made.
 *
 * Every stage has a time-out (defaults after RFC 5321 section 4.5.3.2);
 * set others with setTimeout() right after construction.
 *
 * Do not \c delete the object from a slot connected to its signals; it
 * deletes itself. Deleting it earlier cancels the dialogue without a
 * finished() signal.
 */
class ORVANEMAIL_EXPORT Smtp : public QObject
{
    Q_OBJECT

public:
    /// Dialogue states (the value of the internal state).
    enum State {
        AwaitGreeting = 0,  ///< connection under way; waiting for the greeting
        AwaitHeloReply,     ///< HELO sent
        AwaitMailReply,     ///< MAIL FROM sent
        AwaitRcptReply,     ///< RCPT TO sent
        AwaitDataReply,     ///< DATA sent
        AwaitBodyReply,     ///< text and terminator sent
        Closing             ///< QUIT sent or the dialogue failed
    };
    Q_ENUM(State)

    /// How the dialogue ended.
    enum Error {
        NoError,            ///< the server accepted the message
        InvalidAddress,     ///< sender or recipient not of the form local@domain
        InvalidServer,      ///< the server text is not "host" or "host:port"
        DnsError,           ///< the MX lookup gave no mail server
        HostNotFound,       ///< the server's name could not be resolved
        ConnectionRefused,  ///< nobody listens on the server's port
        ConnectionClosed,   ///< the server closed the connection before accepting
        Timeout,            ///< a stage took longer than its time-out
        UnexpectedReply,    ///< a reply other than the one the dialogue needs
        NetworkError        ///< any other socket error
    };
    Q_ENUM(Error)

    /// Stages with their own time-out.
    enum Stage {
        LookupStage,     ///< DNS lookups (MX, and the exchange's address)
        ConnectStage,    ///< TCP connection
        GreetingStage,   ///< waiting for the greeting
        HeloStage,       ///< reply to HELO
        MailStage,       ///< reply to MAIL FROM
        RcptStage,       ///< reply to RCPT TO
        DataStage,       ///< reply to DATA
        DataBlockStage,  ///< progress while the text is being written
        DataEndStage,    ///< reply after the terminator
        QuitStage        ///< reply to QUIT
    };
    Q_ENUM(Stage)

    /// Starts sending \a message from \a from to \a to. \a mailServer is
    /// "host" or "host:port" (port 25 when none is given); when empty, the
    /// MX records of the recipient's domain are looked up. With a server
    /// given, the connection starts (and "Conectando a" is emitted) at once.
    /// The text goes out as Latin-1 when every character is below U+0100,
    /// as UTF-8 otherwise.
    Smtp(const QString& from, const QString& to, const QString& message, const QString& mailServer);
    /// The same with the message as bytes, sent exactly as given apart from
    /// transparency and line ends.
    Smtp(const QString& from, const QString& to, const QByteArray& message, const QString& mailServer);
    ~Smtp() override;

    /// The server given at construction (may be empty).
    QString mailServer() const;

    /// Sets the time-out of \a stage in milliseconds (a value below 1
    /// restores the default). Applies at once to the stage under way.
    void setTimeout(Stage stage, int msecs);
    /// The time-out of \a stage in milliseconds.
    int timeout(Stage stage) const;
    /// The default time-out of \a stage in milliseconds.
    static int defaultTimeout(Stage stage);

    /// Sends the MX lookup, and the lookup of the IPv4 address of the
    /// exchange it names, to \a nameserver (port 53) instead of the
    /// system's resolver.
    /// Call right after construction; takes effect for lookups not yet
    /// started.
    void setNameserver(const QHostAddress& nameserver);

    /// How the dialogue ended so far (NoError while it runs well).
    Error error() const;
    /// The user text of error() (Spanish), empty without error.
    QString errorString() const;

Q_SIGNALS:
    /// A progress or error text for the user.
    void status(const QString& text);
    /// The outcome, emitted exactly once, just before the object schedules
    /// its deletion: \a ok is true when the server accepted the message;
    /// otherwise \a errorText says why (the text also given to status() or
    /// to the warning box).
    void finished(bool ok, const QString& errorText);

private Q_SLOTS:
    void connectToMailServer(const QString& server);
    void dnsLookupHelper();
    void readyRead();
    void connected();

private:
    struct Private;
    std::unique_ptr<Private> d;

    void init(const QString& from, const QString& to, const QString& mailServer);
    void startLookup();
    void connectTo(const QString& host, quint16 port);
    void act(int code, const QByteArray& reply);
    void setStage(Stage stage);
    void stageTimedOut();
    void socketError();
    void socketClosed();
    void written();
    void fail(Error error, const QString& text);
    void unexpected(const QByteArray& reply);
    void end();
};
