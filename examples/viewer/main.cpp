// The Orvane Mail example viewer.
//
//   orvane-viewer [DIR]                  shows the mail folders under DIR
//   orvane-viewer --import EMLDIR DIR    first stores EMLDIR/*.eml in DIR/Samples
//   orvane-viewer --screenshots OUTDIR   renders the main window and the composer
//                                        (made from the bundled samples) to PNG files
#include "composerwindow.h"
#include "samples.h"
#include "viewerwindow.h"

#include <localmailfolder.h>
#include <mailfoldermodel.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTreeView>

#include <cstdio>

namespace {

int fail(const QString& text)
{
    QTextStream(stderr) << text << '\n';
    return 1;
}

bool importInto(const QString& emlDir, const QString& root, QString* error)
{
    const QString path = QDir(root).filePath(QStringLiteral("Samples"));
    if (!QDir().mkpath(path)) {
        *error = QStringLiteral("cannot create %1").arg(path);
        return false;
    }
    LocalMailFolder folder(path);
    return importMessages(emlDir, folder, error) >= 0;
}

// The pictures of the README: the sample message with its attachment, and
// a reply being written.
int screenshots(const QString& out)
{
    QTemporaryDir tmp;
    // Fixed settings of our own: the user's saved layout must not show.
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, tmp.filePath(QStringLiteral("settings")));
    QString error;
    const QString root = tmp.filePath(QStringLiteral("mail"));
    if (!importInto(QStringLiteral(ORVANE_SAMPLES_DIR), root, &error))
        return fail(error);
    ViewerWindow w(root);
    w.resize(1180, 720);
    w.show();
    if (!w.openFolder(QDir(root).filePath(QStringLiteral("Samples"))))
        return fail(QStringLiteral("cannot open the sample folder"));
    MailFolderModel* m = w.model();
    while (m->canFetchMore(QModelIndex()))
        m->fetchMore(QModelIndex());
    m->sort(MailFolderModel::DateColumn, Qt::DescendingOrder);
    // The message written for the project, and a few others read.
    for (int r = 0; r < m->rowCount(); ++r) {
        const QModelIndex i = m->index(r, 0);
        if (r % 3 == 1)
            m->setRead(i, true);
    }
    for (int r = 0; r < m->rowCount(); ++r) {
        const QModelIndex i = m->index(r, 0);
        if (i.data().toString().contains(QStringLiteral("Informe")))
            w.messageList()->setCurrentIndex(i);
    }
    QApplication::processEvents();
    if (!w.grab().save(QDir(out).filePath(QStringLiteral("viewer-main.png"))))
        return fail(QStringLiteral("cannot write %1").arg(QDir(out).filePath(QStringLiteral("viewer-main.png"))));

    ComposerWindow* c = w.newMessage();
    c->fromEdit()->setText(QStringLiteral("Ana Ruiz <ana@example.org>"));
    c->toEdit()->setText(QStringLiteral("José Martínez <jose@example.org>"));
    c->ccEdit()->setText(QStringLiteral("equipo@example.org"));
    c->subjectEdit()->setText(QStringLiteral("Re: Informe de ventas — noviembre"));
    c->textEdit()->setPlainText(QStringLiteral(
        "Hola José:\n\nGracias por el informe. Te devuelvo las cifras de la región norte con las "
        "correcciones de octubre.\n\nUn saludo,\nAna\n"));
    const QString attachment = tmp.filePath(QStringLiteral("cifras-norte.csv"));
    QFile f(attachment);
    if (!f.open(QIODevice::WriteOnly) || f.write("mes;ventas\noctubre;1200\nnoviembre;1344\n") < 0)
        return fail(QStringLiteral("cannot write %1").arg(attachment));
    f.close();
    c->addAttachment(attachment);
    c->resize(640, 460);
    QApplication::processEvents();
    if (!c->grab().save(QDir(out).filePath(QStringLiteral("viewer-composer.png"))))
        return fail(QStringLiteral("cannot write the composer's picture"));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Orvane"));
    QApplication::setApplicationName(QStringLiteral("viewer"));
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Shows the mail folders under a directory."));
    p.addHelpOption();
    p.addOption({QStringLiteral("import"), QStringLiteral("Store the *.eml files of <dir> in DIR/Samples first."),
                 QStringLiteral("dir")});
    p.addOption({QStringLiteral("screenshots"), QStringLiteral("Write the README's pictures to <outdir>."),
                 QStringLiteral("outdir")});
    p.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("The directory of the mail folders."));
    p.process(app);
    if (p.isSet(QStringLiteral("screenshots")))
        return screenshots(p.value(QStringLiteral("screenshots")));

    const QString root = p.positionalArguments().value(
        0, QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).filePath(QStringLiteral("mail")));
    if (!QDir().mkpath(root))
        return fail(QStringLiteral("cannot create %1").arg(root));
    if (p.isSet(QStringLiteral("import"))) {
        QString error;
        if (!importInto(p.value(QStringLiteral("import")), root, &error))
            return fail(error);
    }
    ViewerWindow w(root);
    w.show();
    return app.exec();
}
