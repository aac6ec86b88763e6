// The old SMTP sender in a widgets application: an unexpected reply shows
// the modal warning box (and no status), without blocking the dialogue.

#include <smtp.h>

#include "smtp/scriptedserver.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTest>

class tst_SmtpGui : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void unexpectedReplyShowsBox()
    {
        ScriptedServer server;
        server.replies["greeting"] = "554-5.7.1 go away\r\n554 5.7.1 now\r\n";
        auto* smtp = new Smtp(QStringLiteral("ana@example.org"), QStringLiteral("luis@example.net"),
                              QByteArray("x\r\n"), server.address());
        QStringList statuses, texts;
        connect(smtp, &Smtp::status, this, [&](const QString& t) { statuses << t; });
        connect(smtp, &Smtp::finished, this, [&](bool, const QString& t) { texts << t; });
        QEventLoop loop;
        connect(smtp, &QObject::destroyed, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();

        // The object ended (after QUIT and its reply) while the box stays open.
        const QString text = QStringLiteral("Respuesta inesperada desde el servidor SMTP:\n\n"
                                            "554-5.7.1 go away\r\n554 5.7.1 now\r\n");
        QCOMPARE(texts, QStringList{text});
        QCOMPARE(statuses, QStringList{QStringLiteral("Conectado a 127.0.0.1")});
        QVERIFY(server.received.endsWith("QUIT\r\n"));
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        QCOMPARE(box->windowTitle(), QStringLiteral("Error SMTP"));
        QCOMPARE(box->text(), text);
        QCOMPARE(box->icon(), QMessageBox::Warning);
    }
};

QTEST_MAIN(tst_SmtpGui)
#include "tst_smtp_gui.moc"
