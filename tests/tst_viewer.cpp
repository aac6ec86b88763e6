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
#include "toolrun.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

using namespace Qt::StringLiterals;

// Drives the example viewer offscreen: a folder made from the sample
// messages, shown and its attachment saved; a draft composed and sent.
class TestViewer : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;
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
        for (int r = 0; r < m->rowCount(); ++r)
            if (descriptor(m->entry(m->index(r, 0))).uid == uid)
                return w->messageList()->setCurrentIndex(m->index(r, 0));
        QFAIL("no such message");
    }

private Q_SLOTS:
    void initTestCase();
    void showsMessage();
    void composesAndSends();
};

// A folder built from the sample messages, opened from the tree, listed.
void TestViewer::initTestCase()
{
    QLoggingCategory::setFilterRules(u"orvane.mail.debug=false"_s);
    const QString samples = tmp.filePath(u"mail/Samples"_s);
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
    w = std::make_unique<ViewerWindow>(tmp.filePath(u"mail"_s));
    w->showError = [this](const QString& text) { errors << text; };
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QVERIFY(w->openFolder(samples));
    QCOMPARE(w->folder()->getStorageDevice(), samples);
    MailFolderModel* m = w->model();
    while (m->canFetchMore(QModelIndex()))
        m->fetchMore(QModelIndex());
    QCOMPARE(m->rowCount(), 9);  // one row per message
}

// The view shows the selected message, marks it read and holds back
// remote images; its attachment is listed by name and saved byte for byte,
// a failure reaches the user.
void TestViewer::showsMessage()
{
    select(u"remote.eml"_s);
    QVERIFY(w->browser()->toPlainText().contains(u"Hello"_s));
    QCOMPARE(w->browser()->blockedRemote().size(), 1);
    select(u"00-sample.eml"_s);
    const QModelIndex current = w->messageList()->currentIndex();
    QVERIFY(w->browser()->toPlainText().contains(u"la región norte han crecido"_s));
    QVERIFY(!current.data(MailFolderModel::UnreadRole).toBool());
    QVERIFY(w->browser()->blockedRemote().isEmpty());
    QCOMPARE(w->attachmentList()->count(), 1);
    QCOMPARE(w->attachmentList()->item(0)->text(), u"informe.bin"_s);
    QByteArray bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = char(i);
    const QString target = tmp.filePath(u"saved.bin"_s);
    w->askSavePath = [&target](const QString&) { return target; };
    QTest::keyClick(w->attachmentList(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(readTestFile(target), bytes);
    QVERIFY(!w->saveAttachment(tmp.filePath(u"no/such/dir/x"_s)));
    QCOMPARE(errors.size(), 1);
    errors.clear();
}

// A message written in the composer is stored as a draft, listed in the
// drafts folder with its recipients and attachment; with a submission
// server in the settings, one session then sends it to every recipient,
// and progress reaches the status bar.
void TestViewer::composesAndSends()
{
    ScriptedServer server;
    SmtpSettings provider;
    provider.server = u"127.0.0.1"_s;
    provider.port = server.serverPort();
    provider.security = SmtpSettings::Plain;
    QSettings settings;
    provider.save(settings, u"submission"_s);
    QTest::keyClick(w.get(), Qt::Key_N, Qt::ControlModifier);
    ComposerWindow* c = w->composer();
    QVERIFY(c);
    c->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(c));
    QTest::keyClicks(c->fromEdit(), u"Ana <ana@example.org>"_s);
    QTest::keyClicks(c->toEdit(), u"Luis <luis@example.com>, eva@example.net"_s);
    QTest::keyClicks(c->subjectEdit(), u"Cifras de diciembre"_s);
    QTest::keyClicks(c->textEdit(), u"Hola, van las cifras."_s);
    QVERIFY(c->addAttachment(writeTestFile(tmp.filePath(u"cifras.csv"_s), "a;b\n1;2\n")));
    QSignalSpy saved(c, &ComposerWindow::draftSaved);
    QTest::keyClick(c->subjectEdit(), Qt::Key_S, Qt::ControlModifier);
    QTRY_COMPARE(saved.size(), 1);  // a button clicked by its key clicks a moment later
    QVERIFY(errors.isEmpty());
    QVERIFY(w->openFolder(w->draftsPath()));
    const QModelIndex row = w->model()->indexOf(saved.at(0).at(0).toString());
    QCOMPARE(row.data().toString(), u"Cifras de diciembre"_s);
    QCOMPARE(descriptor(w->model()->entry(row)).to, QStringList({u"Luis <luis@example.com>"_s, u"eva@example.net"_s}));
    MessageDevice dev(w->model()->entry(row));
    QVERIFY(dev.rfc822Message().contains("Hola, van las cifras.") && dev.getPartCount() == 2);

    c->ccEdit()->setText(u"Pia <pia@example.net>"_s);
    QSignalSpy progress(c, &ComposerWindow::progress), status(c, &ComposerWindow::statusMessage);
    c->send();
    QTRY_COMPARE(progress.size(), 2);
    QCOMPARE(progress.at(1), QVariantList({1, 1}));
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(u'\n')));
    QCOMPARE(server.connections, 1);
    for (const char* line : {"MAIL FROM:<ana@example.org>", "RCPT TO:<luis@example.com>", "RCPT TO:<eva@example.net>",
                             "RCPT TO:<pia@example.net>", "Subject: Cifras de diciembre"})
        QVERIFY2(server.received.contains(line), line);
    QTRY_COMPARE(status.last().at(0).toString(), u"Message sent"_s);
    provider.server.clear();
    provider.save(settings, u"submission"_s);
}

QTEST_MAIN(TestViewer)
#include "tst_viewer.moc"
