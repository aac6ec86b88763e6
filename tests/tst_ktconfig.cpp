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
    // Declaration order matters: this one runs before any init().
    void beforeInit();
    void values();
    void homeCleaned_data();
    void homeCleaned();
    void footerAfterInit();

private:
    static QString root() { return QFileInfo(QStringLiteral(ORVANE_KT_ROOT)).canonicalFilePath(); }
    static QStringList all()
    {
        return {KTConfig::ktDirApp, KTConfig::ktKeyBase, KTConfig::ktData, KTConfig::ktLib, KTConfig::ktBin, KTConfig::ktUsrHome};
    }
    void writeFile(const QString& path, const QByteArray& text);
    QByteArray footerFor(const QString& key, const QString& file);

    QTemporaryDir m_tmp;
};

void tst_KTConfig::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    QVERIFY(!root().isEmpty());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_tmp.filePath(QStringLiteral("settings")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_tmp.filePath(QStringLiteral("settings")));
}

void tst_KTConfig::cleanupTestCase()
{
    QFile::remove(root() + QLatin1String("/share/orvane/text_mail.txt"));
}

void tst_KTConfig::writeFile(const QString& path, const QByteArray& text)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(text), text.size());
}

/// The footer appended to "x" with the settings key \a key naming \a file.
QByteArray tst_KTConfig::footerFor(const QString& key, const QString& file)
{
    QSettings s(QSettings::UserScope, QStringLiteral("Norvatec"), QStringLiteral("Tovik"));
    s.clear();
    s.setValue(key, file);
    s.sync();
    return MIMECodec::encodeQuotedPrintable(QCString("x"), false, true);
}

// Before init every value is null, init(nullptr) changes nothing, and the
// footer key is "/email/footerText".
void tst_KTConfig::beforeInit()
{
    KTConfig::init(nullptr);
    for (const QString& v : all())
        QVERIFY(v.isNull());
    const QString file = m_tmp.filePath(QStringLiteral("early.txt"));
    writeFile(file, "Pie temprano");
    QCOMPARE(footerFor(QStringLiteral("/email/footerText"), file), QByteArray("x=0APie temprano"));
}

void tst_KTConfig::values()
{
    KTConfig::ktDirApp = KTConfig::ktData = KTConfig::ktUsrHome = QStringLiteral("junk"); // recomputed
    qputenv("HOME", QFile::encodeName(m_tmp.path() + QLatin1String("/again/")));
    KTConfig::init(QCoreApplication::instance());
    QCOMPARE(KTConfig::ktDirApp, QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1String("/../../../..")));
    QCOMPARE(all(), QStringList({root(), QStringLiteral("Orvane/"), root() + QLatin1String("/share/orvane"),
                                 root() + QLatin1String("/lib"), root() + QLatin1String("/bin"), m_tmp.path() + QLatin1String("/again")}));
    const QStringList before = all();
    qputenv("HOME", "/nowhere/else");
    KTConfig::init(nullptr);
    QCOMPARE(all(), before);
}

void tst_KTConfig::homeCleaned_data()
{
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("expected");
    const QString t = m_tmp.path();
    QTest::newRow("dot components, trailing slash") << t + QLatin1String("/./a/.") << t + QLatin1String("/a");
    QTest::newRow("double slashes, dot-dot") << t + QLatin1String("//a//../b/") << t + QLatin1String("/b");
}

void tst_KTConfig::homeCleaned()
{
    QFETCH(QString, home);
    QFETCH(QString, expected);
    qputenv("HOME", QFile::encodeName(home));
    KTConfig::init(QCoreApplication::instance());
    QCOMPARE(KTConfig::ktUsrHome, expected);
}

// After init the footer key is "Orvane//email/footerText" and its default the
// file text_mail.txt in the shared data directory.
void tst_KTConfig::footerAfterInit()
{
    KTConfig::init(QCoreApplication::instance());
    const QString dataFile = KTConfig::ktData + QLatin1String("/text_mail.txt");
    writeFile(dataFile, "Pie de datos\n");
    QCOMPARE(footerFor(QStringLiteral("/email/footerText"), m_tmp.filePath(QStringLiteral("early.txt"))),
             QByteArray("x=0APie de datos=0A"));
    const QString file = m_tmp.filePath(QStringLiteral("late.txt"));
    writeFile(file, "Pie tardio");
    QCOMPARE(footerFor(QStringLiteral("Orvane//email/footerText"), file), QByteArray("x=0APie tardio"));
    QVERIFY(QFile::remove(dataFile));
}

QTEST_GUILESS_MAIN(tst_KTConfig)
#include "tst_ktconfig.moc"
