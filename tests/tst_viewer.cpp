#include "composerwindow.h"
#include "samples.h"
#include "viewerwindow.h"

#include <indexclass.h>
#include <localmailfolder.h>
#include <mailfoldermodel.h>
#include <messagedevice.h>
#include <mimepart.h>
#include <smtpsubmission.h>

#include "smtp/scriptedserver.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

// Drives the example viewer offscreen, step by step: open a folder made
// from the sample messages, compare its list with the folder, show
// messages, open and save attachments, compose a draft.
class TestViewer : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;
    QString samples;
    std::unique_ptr<ViewerWindow> w;
    QStringList errors;

    static MessageDescriptor descriptor(IndexClass* e)
    {
        MessageDevice dev(e);
        dev.loadDescriptor(false);
        return dev.getDescriptor();
    }
    // Selects the message stored from the sample file \a uid.
    void select(const QString& uid)
    {
        MailFolderModel* m = w->model();
        while (m->canFetchMore(QModelIndex()))
            m->fetchMore(QModelIndex());
        for (int r = 0; r < m->rowCount(); ++r)
            if (descriptor(m->entry(m->index(r, 0))).uid == uid)
                return w->messageList()->setCurrentIndex(m->index(r, 0));
        QFAIL("no such message");
    }

private Q_SLOTS:
    void initTestCase();
    void listMatchesFolder();
    void showsMessage_data();
    void showsMessage();
    void attachments_data();
    void attachments();
    void composesDraft();
    void sendsThroughProvider();
};

// Step 1: a folder built from the sample messages, opened from the tree.
void TestViewer::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));
    samples = tmp.filePath(QStringLiteral("mail/Samples"));
    QVERIFY(QDir().mkpath(samples));
    {
        LocalMailFolder folder(samples);
        QString error;
        QCOMPARE(importMessages(QStringLiteral(ORVANE_TEST_DATA "/../../examples/messages"), folder, &error), 8);
        // A message whose HTML asks for a remote image.
        const QCString html("From: a@example.org\r\nSubject: Remote\r\nMIME-Version: 1.0\r\n"
                            "Content-Type: text/html; charset=utf-8\r\n\r\n"
                            "<p>Hello <img src=\"http://127.0.0.1:9/pixel.png\"></p>\r\n");
        QVERIFY(!folder.createMessage(html, "remote.eml", QDateTime::currentDateTime(), QString(), nullptr, false, 0).isNull());
    }
    w = std::make_unique<ViewerWindow>(tmp.filePath(QStringLiteral("mail")));
    w->showError = [this](const QString& text) { errors << text; };
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    // The folders are listed by name: Samples, then Drafts.
    w->folderTree()->setFocus();
    QTest::keyClick(w->folderTree(), Qt::Key_End);
    QTest::keyClick(w->folderTree(), Qt::Key_Home);
    QVERIFY(w->folder());
    QCOMPARE(w->folder()->getStorageDevice(), samples);
}

// Step 2: one row per message of the folder, with its decoded subject and
// read state; the same messages threaded.
void TestViewer::listMatchesFolder()
{
    MailFolderModel* m = w->model();
    while (m->canFetchMore(QModelIndex()))
        m->fetchMore(QModelIndex());
    QCOMPARE(m->rowCount(), 9);
    QStringList ids;
    for (int r = 0; r < m->rowCount(); ++r) {
        const QModelIndex i = m->index(r, 0);
        IndexClass* e = w->folder()->indexIDict()->find(m->indexID(i));
        QVERIFY(e);
        ids << e->getID();
        QCOMPARE(i.data().toString(), descriptor(e).subject);
        QCOMPARE(i.data(MailFolderModel::UnreadRole).toBool(), e->getUnreadMark());
    }
    ids.sort();
    QStringList want = w->folder()->getEntryList(QString());
    want.sort();
    QCOMPARE(ids, want);

    // Sorting by date through the header puts the newest first.
    w->messageList()->sortByColumn(MailFolderModel::DateColumn, Qt::DescendingOrder);
    QCOMPARE(m->index(0, 0).data().toString(), QStringLiteral("Remote"));
}

// Step 3: the view shows the selected message; keys move the selection.
void TestViewer::showsMessage_data()
{
    QTest::addColumn<QString>("uid");
    QTest::addColumn<QString>("text");
    QTest::newRow("quoted-printable latin-1") << "00-sample.eml" << QStringLiteral("la región norte han crecido");
    QTest::newRow("quoted-printable latin-9") << "mimetools-testmsgs__german-qp.eml"
                                              << QStringLiteral("8 Bit Sönderzäichen");
    QTest::newRow("html") << "remote.eml" << QStringLiteral("Hello");
}

void TestViewer::showsMessage()
{
    QFETCH(QString, uid);
    QFETCH(QString, text);
    select(uid);
    const QModelIndex current = w->messageList()->currentIndex();
    QVERIFY(w->browser()->toPlainText().contains(text));
    QVERIFY(w->headerLabel()->text().contains(current.data().toString().toHtmlEscaped()));
    QVERIFY(!current.data(MailFolderModel::UnreadRole).toBool());  // shown: read
    // Remote images wait for the user.
    QCOMPARE(w->browser()->blockedRemote().size(), uid == QLatin1String("remote.eml") ? 1 : 0);

    w->messageList()->setFocus();
    QTest::keyClick(w->messageList(), current.row() == 0 ? Qt::Key_Down : Qt::Key_Up);
    QVERIFY(w->messageList()->currentIndex().row() != current.row());
    QVERIFY(!w->browser()->toPlainText().contains(text));
}

// Step 4: attachments are listed by their decoded names; opened and saved
// byte for byte; a failure reaches the user.
void TestViewer::attachments_data()
{
    QTest::addColumn<QString>("uid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    QTest::newRow("base64, every byte value") << "00-sample.eml" << "informe.bin" << all;
    QTest::newRow("RFC 2231 UTF-8 name") << "mimetools-testmsgs__attachment-filename-encoding-UTF8.eml"
                                         << QStringLiteral("attachment.äöü") << QByteArray("Test\n");
}

void TestViewer::attachments()
{
    QFETCH(QString, uid);
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    select(uid);
    QCOMPARE(w->attachmentList()->count(), 1);
    QCOMPARE(w->attachmentList()->item(0)->text(), name);

    auto contents = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("unreadable");
    };
    QUrl opened;
    w->openUrl = [&opened](const QUrl& u) { return opened = u, true; };
    QVERIFY(w->openAttachment());
    QCOMPARE(contents(opened.toLocalFile()), bytes);
    const QString target = tmp.filePath(QStringLiteral("saved.bin"));
    w->askSavePath = [&target](const QString&) { return target; };
    QTest::keyClick(w->attachmentList(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(contents(target), bytes);
    QVERIFY(errors.isEmpty());

    QVERIFY(!w->saveAttachment(tmp.filePath(QStringLiteral("no/such/dir/x"))));
    QCOMPARE(errors.size(), 1);
    errors.clear();
}

// Step 5: a message written in the composer is stored as a draft and
// listed in the drafts folder.
void TestViewer::composesDraft()
{
    QTest::keyClick(w.get(), Qt::Key_N, Qt::ControlModifier);
    ComposerWindow* c = w->composer();
    QVERIFY(c);
    c->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(c));
    QTest::keyClicks(c->fromEdit(), QStringLiteral("Ana <ana@example.org>"));
    QTest::keyClicks(c->toEdit(), QStringLiteral("Luis <luis@example.com>, eva@example.net"));
    QTest::keyClicks(c->subjectEdit(), QStringLiteral("Cifras de diciembre"));
    QTest::keyClicks(c->textEdit(), QStringLiteral("Hola, van las cifras."));
    const QString file = tmp.filePath(QStringLiteral("cifras.csv"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("a;b\n1;2\n") == 8);
    f.close();
    QVERIFY(c->addAttachment(file));
    QSignalSpy saved(c, &ComposerWindow::draftSaved);
    QTest::keyClick(c->subjectEdit(), Qt::Key_S, Qt::ControlModifier);
    QTRY_COMPARE(saved.size(), 1);  // a button clicked by its key clicks a moment later
    QVERIFY(errors.isEmpty());

    QVERIFY(w->openFolder(w->draftsPath()));
    const QModelIndex row = w->model()->indexOf(saved.at(0).at(0).toString());
    QCOMPARE(row.data().toString(), QStringLiteral("Cifras de diciembre"));
    MessageDevice dev(w->model()->entry(row));
    QCOMPARE(descriptor(w->model()->entry(row)).to, QStringList({QStringLiteral("Luis <luis@example.com>"), QStringLiteral("eva@example.net")}));
    QVERIFY(dev.rfc822Message().contains("Hola, van las cifras."));
    QByteArray data;
    QVERIFY(dev.getPartCount() == 2 && dev.getPartData(1, data));
    QCOMPARE(data, QByteArray("a;b\n1;2\n"));
    QCOMPARE(QByteArray(dev[1]->name), QByteArray("cifras.csv"));
}

// Step 6: with a submission server in the settings, one session sends the
// message to every recipient, and progress reaches the status bar.
void TestViewer::sendsThroughProvider()
{
    ScriptedServer server;
    SmtpSettings provider;
    provider.server = QStringLiteral("127.0.0.1");
    provider.port = server.serverPort();
    provider.security = SmtpSettings::Plain;
    QSettings settings;
    provider.save(settings, QStringLiteral("submission"));
    QTest::keyClick(w.get(), Qt::Key_N, Qt::ControlModifier);
    ComposerWindow* c = w->composer();
    QVERIFY(c);
    c->fromEdit()->setText(QStringLiteral("Ana <ana@example.org>"));
    c->toEdit()->setText(QStringLiteral("luis@example.com"));
    c->ccEdit()->setText(QStringLiteral("Eva <eva@example.net>"));
    c->subjectEdit()->setText(QStringLiteral("Enviado"));
    QSignalSpy progress(c, &ComposerWindow::progress), status(c, &ComposerWindow::statusMessage);
    c->send();
    QTRY_COMPARE(progress.size(), 2);
    QCOMPARE(progress.at(1), QVariantList({1, 1}));
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    QCOMPARE(server.connections, 1);
    for (const char* line : {"MAIL FROM:<ana@example.org>", "RCPT TO:<luis@example.com>", "RCPT TO:<eva@example.net>",
                             "Subject: Enviado"})
        QVERIFY2(server.received.contains(line), line);
    QTRY_COMPARE(status.last().at(0).toString(), QStringLiteral("Message sent"));
    provider.server.clear();
    provider.save(settings, QStringLiteral("submission"));
}

QTEST_MAIN(TestViewer)
#include "tst_viewer.moc"
