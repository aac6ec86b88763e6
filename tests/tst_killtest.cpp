// Crash tests of the store through the tool, killed at each fault point of a
// compaction and at random moments of an import, deletion, move or compaction.
// Afterwards the folders open, `check` finds no problem, no untouched message
// is lost and what a command reported as done is done. ORVANE_KILLTEST_TRIALS,
// _MESSAGES and _SEED set the long form (bench/run-killtest).
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

using namespace Qt::StringLiterals;
using Texts = QMultiHash<QByteArray, QString>;  // stored text -> index ID

class tst_KillTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void faultPoints();
    void randomKills();

private:
    static QByteArray text(const QByteArray& tag)
    {
        return "From: k@x\r\nSubject: " + tag + "\r\nMessage-ID: <" + tag + "@x>\r\n\r\nbody\r\n";
    }
    static void fill(const QString& path, int n)
    {
        QDir().mkpath(path);
        LocalMailFolder f(path);
        for (int i = 0; i < n; ++i)
            QVERIFY(!f.createMessage(QCString(text("m" + QByteArray::number(i))), "u", QDateTime(), QString(),
                                     nullptr, true, 0).isNull());
    }
    static Texts texts(const QString& path)
    {
        Texts out;
        LocalMailFolder f(path);
        for (IndexClass* e : f.indexIDict()->entries()) {
            MessageDevice dev(e);
            dev.loadDescriptor(false);  // a descriptor of another entry: no ID
            out.insert(dev.rfc822Message(), dev.getDescriptor().indexID == e->getID() ? e->getID() : QString());
        }
        return out;
    }
    static void copyDir(const QString& from, const QString& to)
    {
        QDir().mkpath(to);
        for (const QString& name : QDir(from).entryList(QDir::Files))
            QVERIFY(QFile::copy(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name));
    }
    bool checked(const QString& path) { return runTool({u"check"_s, path}, tmp.path()).rc == 0; }
    QTemporaryDir tmp;
    QString base;
    Texts baseTexts;
    int messages = 10000, trials = 8;
};

void tst_KillTest::initTestCase()
{
    if (QByteArray(ORVANE_TOOL).isEmpty())
        QSKIP("the tool is not built");
    if (const int n = qEnvironmentVariableIntValue("ORVANE_KILLTEST_MESSAGES"); n > 0)
        messages = qMax(100, n);
    if (const int n = qEnvironmentVariableIntValue("ORVANE_KILLTEST_TRIALS"); n > 0)
        trials = n;
    QLoggingCategory::setFilterRules(u"orvane.mail.debug=false"_s);
    fill(base = tmp.path() + "/base"_L1, messages);
    baseTexts = texts(base);
    QCOMPARE(baseTexts.size(), messages);
}

// A folder with waste, compacted by the tool that dies at fault point N:
// every message loads afterwards, from the old or the new layout.
void tst_KillTest::faultPoints()
{
    const QString master = tmp.path() + "/master"_L1;
    fill(master, 20);
    QVERIFY(LocalMailFolder(master).deleteMessage(texts(master).values().mid(0, 5)));  // waste to compact
    const Texts before = texts(master);
    for (int point = 1; point <= 7; ++point) {
        const QString path = tmp.path() + "/point"_L1 + QString::number(point);
        copyDir(master, path);
        qputenv("ORVANE_FAULT_KILL_POINT", QByteArray::number(point));
        // The compaction passes six fault points; the seventh is never reached.
        QCOMPARE(runTool({u"compact"_s, path}, tmp.path()).rc, point <= 6 ? -2 : 0);
        QCOMPARE(texts(path), before);
        QVERIFY2(checked(path), qPrintable(QString::number(point)));
    }
    qunsetenv("ORVANE_FAULT_KILL_POINT");
}

void tst_KillTest::randomKills()
{
    const quint32 firstSeed = quint32(qMax(1, qEnvironmentVariableIntValue("ORVANE_KILLTEST_SEED")));
    const QStringList ops{u"import"_s, u"delete"_s, u"move"_s, u"compact"_s};
    for (int t = 0; t < trials; ++t) {
        const quint32 seed = firstSeed + quint32(t);
        QRandomGenerator rng(seed);
        const QString op = ops[int(rng.bounded(4))], dir = tmp.path() + "/t"_L1 + QString::number(t);
        const QString folder = dir + "/f"_L1, other = dir + "/g"_L1;
        copyDir(base, folder);
        // The command and what it touches.
        const QStringList ids = baseTexts.values();
        QStringList touched, args{op, folder};
        QByteArray mbox;  // each text behind a "From " line, one LF between them
        QList<QByteArray> added;
        for (int i = 0; op == "import"_L1 && i < 40; ++i) {
            added << text("new" + QByteArray::number(seed) + "x" + QByteArray::number(i));
            mbox += (i ? "\nFrom - x\n" : "From - x\n") + added.last();
        }
        if (op == "import"_L1)
            args << writeTestFile(dir + "/in.mbox"_L1, mbox);
        for (int i = 0; (op == "delete"_L1 || op == "move"_L1) && i < 20; ++i)
            touched << ids[int(rng.bounded(quint32(ids.size())))];
        touched.removeDuplicates();
        args << touched;
        if (op == "move"_L1)
            args << u"--to"_s << other;
        // Killed after a random delay up to about its length: some trials finish.
        QProcess p;
        p.start(QStringLiteral(ORVANE_TOOL), args);
        QVERIFY(p.waitForStarted());
        QThread::usleep(rng.bounded(400000u));  // microseconds
        p.kill();
        p.waitForFinished();
        const bool done = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        const QString why = u"seed %1, %2, %3"_s.arg(seed).arg(op, done ? "finished"_L1 : "killed"_L1);
        // Opening finishes or undoes what was interrupted; then all is sound.
        const Texts now = texts(folder);
        const Texts moved = QFileInfo::exists(other) ? texts(other) : Texts();
        for (const QString& path : {folder, other})
            QVERIFY2(!QFileInfo::exists(path) || checked(path), qPrintable(why));
        for (auto it = baseTexts.cbegin(); it != baseTexts.cend(); ++it) {
            const bool here = now.contains(it.key()), there = moved.contains(it.key());
            if (!touched.contains(it.value()))
                QVERIFY2(here, qPrintable(why + ": lost "_L1 + it.value()));
            else if (op == "delete"_L1)
                QVERIFY2(!done || !here, qPrintable(why + ": not deleted"_L1));
            else  // move: never lost; once done, only in the target
                QVERIFY2((here || there) && (!done || (!here && there)), qPrintable(why + ": move"_L1));
        }
        for (const QByteArray& a : std::as_const(added))
            QVERIFY2(!done || now.contains(a), qPrintable(why + ": import lost a message"_L1));
        QDir(dir).removeRecursively();
    }
}

QTEST_GUILESS_MAIN(tst_KillTest)
#include "tst_killtest.moc"
