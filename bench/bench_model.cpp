// How fast MailFolderModel shows the first screen of a very large folder:
// the folder is opened (index loaded), the model set on it, the first batch
// fetched and the first 40 rows' columns read, as a view does.
//   bench_model [COUNT]      (default 1000000 messages; the folder is made once
//                             in the system's temporary directory and kept)
#include <localmailfolder.h>
#include <mailfoldermodel.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTextStream>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qputenv("QT_LOGGING_RULES", "orvane.mail.debug=false");
    int count = 1000000;
    for (const QString& a : app.arguments().mid(1))
        if (a.toInt() > 0)
            count = a.toInt();
    const QString dir = QDir::temp().filePath(QStringLiteral("orvane-bench-model-%1").arg(count));
    if (!QFileInfo::exists(dir + QLatin1String("/index"))) {
        QDir().mkpath(dir);
        LocalMailFolder f(dir);
        for (int i = 0; i < count; ++i) {
            const QByteArray text = "From: Sender " + QByteArray::number(i % 97) + " <s@example.org>\r\nSubject: Message "
                + QByteArray::number(i) + "\r\nDate: Mon, 1 Jan 2024 10:00:00 +0000\r\n\r\nbody\r\n";
            f.createMessage(QCString(text), QCString("u" + QByteArray::number(i)), QDateTime(), QString(), nullptr, true, 0);
        }
    }
    QElapsedTimer t;
    t.start();
    LocalMailFolder folder(dir);
    const qint64 opened = t.nsecsElapsed();
    MailFolderModel model;
    model.setFolder(&folder);
    model.fetchMore(QModelIndex());
    int chars = 0;
    for (int r = 0; r < 40 && r < model.rowCount(); ++r)
        for (int c = 0; c < model.columnCount(); ++c)
            chars += int(model.index(r, c).data().toString().size());
    const double screen = double(t.nsecsElapsed() - opened) / 1e9;
    const double total = double(t.nsecsElapsed()) / 1e9;
    QTextStream out(stdout);
    out << "peer=orvane task=model_first_screen_" << folder.getMessageCount()
        << " mb_per_s=0 msgs_per_s=" << qint64(folder.getMessageCount() / screen) << '\n';
    out << "peer=orvane task=folder_open_and_first_screen_" << folder.getMessageCount()
        << " mb_per_s=0 msgs_per_s=" << qint64(folder.getMessageCount() / total) << '\n';
    std::fprintf(stderr, "model: first screen %.3f s after opening (%.3f s with the folder's index), %d characters\n",
                 screen, total, chars);
    return 0;
}
