// Randomized kill test: the tool is killed (SIGKILL) at a random moment of
// an import, a deletion, a move or a compaction on a large folder. After
// each trial the folders open, `check` finds no problem, every message that
// no command touched is there byte for byte, and what a command reported
// as done is done. Trials and folder size come from ORVANE_KILLTEST_TRIALS
// and ORVANE_KILLTEST_MESSAGES (bench/run-killtest runs the long form).
#include "toolrun.h"

#include <indexclass.h>
#include <localmailfolder.h>
#include <messagedevice.h>

#include <QDir>
#include <QLoggingCategory>
#include <QMultiHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

class tst_KillTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void randomKills();

private:
    static QByteArray text(const QByteArray& tag)
    {
        return "From: k@example.org\r\nSubject: " + tag + "\r\nMessage-ID: <" + tag
            + "@example.org>\r\n\r\nbody of " + tag + "\r\n";
    }
    // Every stored text of the folder at \a path, by text.
    static QMultiHash<QByteArray, QString> texts(const QString& path)
    {
        QMultiHash<QByteArray, QString> out;
        LocalMailFolder f(path);
        for (IndexClass* e : f.indexIDict()->entries())
            out.insert(MessageDevice(e).rfc822Message(), e->getID());
        return out;
    }
    static void copyDir(const QString& from, const QString& to)
    {
        QDir().mkpath(to);
        for (const QString& name : QDir(from).entryList(QDir::Files))
            QFile::copy(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name);
    }
    QTemporaryDir tmp;
    QString base;
    QMultiHash<QByteArray, QString> baseTexts;
    int messages = 10000;
    int trials = 8;
};

void tst_KillTest::initTestCase()
{
    if (QByteArray(ORVANE_TOOL).isEmpty())
        QSKIP("the tool is not built");
    if (const int n = qEnvironmentVariableIntValue("ORVANE_KILLTEST_MESSAGES"); n > 0)
        messages = qMax(100, n);
    if (const int n = qEnvironmentVariableIntValue("ORVANE_KILLTEST_TRIALS"); n > 0)
        trials = n;
    base = tmp.path() + QLatin1String("/base");
    QDir().mkpath(base);
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));
    {
        LocalMailFolder f(base);
        const QDateTime when(QDate(2026, 12, 7), QTime(12, 0));
        for (int i = 0; i < messages; ++i)
            QVERIFY(!f.createMessage(QCString(text("m" + QByteArray::number(i))), "u", when, QString(), nullptr,
                                     true, 0)
                         .isNull());
    }
    baseTexts = texts(base);
    QCOMPARE(baseTexts.size(), messages);
}

void tst_KillTest::randomKills()
{
    const quint32 firstSeed = quint32(qMax(1, qEnvironmentVariableIntValue("ORVANE_KILLTEST_SEED")));
    const char* ops[] = {"import", "delete", "move", "compact"};
    for (int t = 0; t < trials; ++t) {
        const quint32 seed = firstSeed + quint32(t);
        QRandomGenerator rng(seed);
        const QString op = QLatin1String(ops[rng.bounded(4)]);
        const QString dir = tmp.path() + QLatin1String("/t") + QString::number(t);
        const QString folder = dir + QLatin1String("/f"), other = dir + QLatin1String("/g");
        copyDir(base, folder);
        // The command and what it touches.
        const QStringList ids = baseTexts.values();
        QStringList touched, args{op, folder};
        QByteArray mbox;
        QList<QByteArray> added;
        if (op == QLatin1String("import")) {
            // mbox: each text behind a "From " line, one LF between them.
            for (int i = 0; i < 40; ++i) {
                added << text("new" + QByteArray::number(seed) + "x" + QByteArray::number(i));
                mbox += (i ? "\nFrom - x\n" : "From - x\n") + added.last();
            }
            args << writeTestFile(dir + QLatin1String("/in.mbox"), mbox);
        } else if (op != QLatin1String("compact")) {
            for (int i = 0; i < 20; ++i)
                touched << ids[int(rng.bounded(quint32(ids.size())))];
            touched.removeDuplicates();
            args << touched;
            if (op == QLatin1String("move"))
                args << QStringLiteral("--to") << other;
        }
        // Run the command and kill it after a random delay (up to about
        // its length, so that some trials finish).
        QProcess p;
        const quint32 delay = rng.bounded(400000u);  // microseconds
        p.start(QStringLiteral(ORVANE_TOOL), args);
        QVERIFY(p.waitForStarted());
        QThread::usleep(delay);
        p.kill();
        p.waitForFinished();
        const bool done = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        const QString why = QStringLiteral("seed %1, %2, %3")
                                .arg(seed)
                                .arg(op, done ? QLatin1String("finished") : QLatin1String("killed"));

        // Opening finishes or undoes what was interrupted; then all is sound.
        const QMultiHash<QByteArray, QString> now = texts(folder);
        const QMultiHash<QByteArray, QString> moved = QFileInfo::exists(other) ? texts(other)
                                                                                : QMultiHash<QByteArray, QString>();
        for (const QString& path : {folder, other}) {
            if (!QFileInfo::exists(path))
                continue;
            const Run check = runTool({QStringLiteral("check"), path}, tmp.path());
            QVERIFY2(check.rc == 0, qPrintable(why + QLatin1String(": ") + QString::fromUtf8(check.out)));
        }
        for (auto it = baseTexts.cbegin(); it != baseTexts.cend(); ++it) {
            const bool target = touched.contains(it.value());
            const bool here = now.contains(it.key()), there = moved.contains(it.key());
            if (!target)
                QVERIFY2(here, qPrintable(why + QLatin1String(": lost ") + it.value()));
            else if (op == QLatin1String("delete"))
                QVERIFY2(!done || !here, qPrintable(why + QLatin1String(": not deleted")));
            else  // move: never lost; once done, only in the target
                QVERIFY2((here || there) && (!done || (!here && there)), qPrintable(why + QLatin1String(": move")));
        }
        for (const QByteArray& a : std::as_const(added))
            QVERIFY2(!done || now.contains(a), qPrintable(why + QLatin1String(": import lost a message")));
        qInfo("%s (kill sent after %u us)", qPrintable(why), delay);
        QDir(dir).removeRecursively();
    }
}

QTEST_GUILESS_MAIN(tst_KillTest)
#include "tst_killtest.moc"
