#include <ktconfig.h>
#include <mimecodec.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// This executable lies four levels below ORVANE_KT_ROOT (see tests/CMakeLists.txt).
class tst_KTConfig : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    // Declaration order matters: the first two run before any init().
    void emptyBeforeInit();
    void footerBeforeInit();

    void values();
    void keyBaseJoin();
    void homeCleaned_data();
    void homeCleaned();
    void initNullChangesNothing();
    void initRecomputes();
    void footerAfterInit();

private:
    static QString root() { return QFileInfo(QStringLiteral(ORVANE_KT_ROOT)).canonicalFilePath(); }
    void writeFile(const QString& path, const QByteArray& text);
    void setFooterKey(const QString& key, const QString& value);

    QTemporaryDir m_tmp;
    QByteArray m_home;
};

void tst_KTConfig::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    QVERIFY(!root().isEmpty());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_tmp.filePath(QStringLiteral("settings")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_tmp.filePath(QStringLiteral("settings")));
    m_home = qgetenv("HOME");
}

void tst_KTConfig::cleanupTestCase()
{
    qputenv("HOME", m_home);
    QFile::remove(root() + QLatin1String("/share/orvane/text_mail.txt"));
}

void tst_KTConfig::writeFile(const QString& path, const QByteArray& text)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(text), text.size());
}

void tst_KTConfig::setFooterKey(const QString& key, const QString& value)
{
    QSettings s(QSettings::UserScope, QStringLiteral("Norvatec"), QStringLiteral("Tovik"));
    s.clear();
    if (!value.isNull())
        s.setValue(key, value);
    s.sync();
    QCOMPARE(s.status(), QSettings::NoError);
}

void tst_KTConfig::emptyBeforeInit()
{
    for (const QString* v : {&KTConfig::ktDirApp, &KTConfig::ktKeyBase, &KTConfig::ktData,
                             &KTConfig::ktLib, &KTConfig::ktBin, &KTConfig::ktUsrHome})
        QVERIFY(v->isNull());
    KTConfig::init(nullptr);
    QVERIFY(KTConfig::ktDirApp.isNull());
    QVERIFY(KTConfig::ktUsrHome.isNull());
}

// Before init the footer key is "/email/footerText" and its default the file
// "/text_mail.txt".
void tst_KTConfig::footerBeforeInit()
{
    const QString file = m_tmp.filePath(QStringLiteral("early.txt"));
    writeFile(file, "Pie temprano");
    setFooterKey(QStringLiteral("/email/footerText"), file);
    QCOMPARE(QByteArray(MIMECodec::encodeQuotedPrintable(QCString("x"), false, true)),
             QByteArray("x=0APie temprano"));
}

void tst_KTConfig::values()
{
    KTConfig::init(QCoreApplication::instance());
    QCOMPARE(KTConfig::ktDirApp, root());
    QCOMPARE(KTConfig::ktDirApp,
             QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1String("/../../../..")));
    QCOMPARE(KTConfig::ktKeyBase, QStringLiteral("Orvane/"));
    QCOMPARE(KTConfig::ktData, root() + QLatin1String("/share/orvane"));
    QCOMPARE(KTConfig::ktLib, root() + QLatin1String("/lib"));
    QCOMPARE(KTConfig::ktBin, root() + QLatin1String("/bin"));
    QCOMPARE(KTConfig::ktUsrHome, QDir::cleanPath(QDir::home().absolutePath()));
}

void tst_KTConfig::keyBaseJoin()
{
    QVERIFY(KTConfig::ktKeyBase.endsWith(QLatin1Char('/')));
    QCOMPARE(KTConfig::ktKeyBase + QLatin1String("/email/footerText"),
             QStringLiteral("Orvane//email/footerText"));
}

void tst_KTConfig::homeCleaned_data()
{
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("expected");
    const QString t = m_tmp.path();
    QTest::newRow("trailing slash") << t + QLatin1String("/") << t;
    QTest::newRow("dot components") << t + QLatin1String("/./a/.") << t + QLatin1String("/a");
    QTest::newRow("double slashes") << t + QLatin1String("//a//b/") << t + QLatin1String("/a/b");
    QTest::newRow("dot-dot") << t + QLatin1String("/a/../b/") << t + QLatin1String("/b");
}

void tst_KTConfig::homeCleaned()
{
    QFETCH(QString, home);
    QFETCH(QString, expected);
    qputenv("HOME", QFile::encodeName(home));
    KTConfig::init(QCoreApplication::instance());
    QCOMPARE(KTConfig::ktUsrHome, expected);
}

void tst_KTConfig::initNullChangesNothing()
{
    KTConfig::init(QCoreApplication::instance());
    const QStringList before{KTConfig::ktDirApp, KTConfig::ktKeyBase, KTConfig::ktData,
                             KTConfig::ktLib, KTConfig::ktBin, KTConfig::ktUsrHome};
    qputenv("HOME", "/nowhere/else");
    KTConfig::init(nullptr);
    const QStringList after{KTConfig::ktDirApp, KTConfig::ktKeyBase, KTConfig::ktData,
                            KTConfig::ktLib, KTConfig::ktBin, KTConfig::ktUsrHome};
    QCOMPARE(after, before);
}

void tst_KTConfig::initRecomputes()
{
    KTConfig::ktDirApp = KTConfig::ktKeyBase = KTConfig::ktData = QStringLiteral("junk");
    KTConfig::ktLib = KTConfig::ktBin = KTConfig::ktUsrHome = QStringLiteral("junk");
    qputenv("HOME", QFile::encodeName(m_tmp.path() + QLatin1String("/again/")));
    KTConfig::init(QCoreApplication::instance());
    QCOMPARE(KTConfig::ktDirApp, root());
    QCOMPARE(KTConfig::ktKeyBase, QStringLiteral("Orvane/"));
    QCOMPARE(KTConfig::ktData, root() + QLatin1String("/share/orvane"));
    QCOMPARE(KTConfig::ktLib, root() + QLatin1String("/lib"));
    QCOMPARE(KTConfig::ktBin, root() + QLatin1String("/bin"));
    QCOMPARE(KTConfig::ktUsrHome, m_tmp.path() + QLatin1String("/again"));
}

// After init the footer key is "Orvane//email/footerText" and its default the
// file text_mail.txt in the shared data directory.
void tst_KTConfig::footerAfterInit()
{
    KTConfig::init(QCoreApplication::instance());
    const QString dataFile = KTConfig::ktData + QLatin1String("/text_mail.txt");
    writeFile(dataFile, "Pie de datos\n");
    setFooterKey(QStringLiteral("/email/footerText"), m_tmp.filePath(QStringLiteral("early.txt")));
    QCOMPARE(QByteArray(MIMECodec::encodeQuotedPrintable(QCString("x"), false, true)),
             QByteArray("x=0APie de datos=0A"));

    const QString file = m_tmp.filePath(QStringLiteral("late.txt"));
    writeFile(file, "Pie tardio");
    setFooterKey(KTConfig::ktKeyBase + QLatin1String("/email/footerText"), file);
    QCOMPARE(QByteArray(MIMECodec::encodeQuotedPrintable(QCString("x"), false, true)),
             QByteArray("x=0APie tardio"));
    QVERIFY(QFile::remove(dataFile));
}

QTEST_GUILESS_MAIN(tst_KTConfig)
#include "tst_ktconfig.moc"
