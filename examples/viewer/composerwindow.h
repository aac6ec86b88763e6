#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>

class LocalMailFolder;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
struct SmtpSettings;

/**
 * \brief Writes a message: To, Cc, Subject, text and attachments; stores
 * it as a draft through the library's composition, and sends it through
 * the provider's submission server (SmtpSubmission) or, when none is set
 * up, straight to the recipients' servers (Smtp).
 */
class ComposerWindow : public QWidget
{
    Q_OBJECT

public:
    /// Drafts are stored in \a drafts (not owned; it must outlive the
    /// window).
    explicit ComposerWindow(LocalMailFolder* drafts, QWidget* parent = nullptr);

    QLineEdit* fromEdit() const { return _from; }
    QLineEdit* toEdit() const { return _to; }
    QLineEdit* ccEdit() const { return _cc; }
    QLineEdit* subjectEdit() const { return _subject; }
    QPlainTextEdit* textEdit() const { return _text; }
    QListWidget* attachmentList() const { return _attachments; }

    /// Adds the file \a path as an attachment; false when it is unreadable.
    bool addAttachment(const QString& path);
    /// Composes the message into the drafts folder; its index ID, or a
    /// null string (the reason goes to error()).
    QString saveDraft();
    /// Saves the draft and sends it to every recipient. With a server in
    /// the settings group "submission" (SmtpSettings), through that
    /// provider; otherwise through Smtp, one recipient at a time, to the
    /// setting "smtp/server" ("host" or "host:port"; the recipients' mail
    /// exchangers when empty).
    void send();

    /// Asks for the password of \a user at \a server; a null string
    /// cancels sending. By default a password dialog.
    std::function<QString(const QString& user, const QString& server)> askPassword;

Q_SIGNALS:
    void draftSaved(const QString& id);
    /// Progress texts for the status bar.
    void statusMessage(const QString& text);
    /// \a done of \a total recipients have been dealt with.
    void progress(int done, int total);
    void error(const QString& text);

private:
    void chooseAttachments();
    void submit(const SmtpSettings& settings, const QString& from, const QStringList& to, const QByteArray& text);
    void sent(const QStringList& failures);
    LocalMailFolder* _drafts;
    QLineEdit* _from;
    QLineEdit* _to;
    QLineEdit* _cc;
    QLineEdit* _subject;
    QPlainTextEdit* _text;
    QListWidget* _attachments;
    QStringList _files;
    QPushButton* _send;
};
