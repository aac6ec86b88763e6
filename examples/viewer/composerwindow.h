#pragma once

#include <QStringList>
#include <QWidget>

class LocalMailFolder;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

/**
 * \brief Writes a message: To, Cc, Subject, text and attachments; stores
 * it as a draft through the library's composition, and sends it through
 * Smtp to every recipient.
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
    /// Saves the draft and sends it to every recipient through Smtp; the
    /// server is the setting "smtp/server" ("host" or "host:port"; the
    /// recipients' mail exchangers when empty).
    void send();

Q_SIGNALS:
    void draftSaved(const QString& id);
    /// Progress texts for the status bar.
    void statusMessage(const QString& text);
    /// \a done of \a total recipients have been dealt with.
    void progress(int done, int total);
    void error(const QString& text);

private:
    void chooseAttachments();
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
