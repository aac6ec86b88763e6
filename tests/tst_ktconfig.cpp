#include <ktconfig.h>
#include <mimecodec.h>

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// This executable lies four levels below ORVANE_KT_ROOT (see tests/CMakeLists.txt).
class tst_KTConfig : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { QFile::remove(root() + QLatin1String("/share/orvane/text_mail.txt")); }
    // Declaration order matters: this one runs before any init().
    void beforeInit();
    void values();
    void footerAfterInit();

private:
    static QString root() { return QFileInfo(QStringLiteral(ORVANE_KT_ROOT)).canonicalFilePath(); }
    static QStringList all()
    {
        return {KTConfig::ktDirApp, KTConfig::ktKeyBase, KTConfig::ktData, KTConfig::ktLib, KTConfig::ktBin, KTConfig::ktUsrHome};
    }
    /// The footer appended to "x" when the settings key \a key names a file holding \a text.
    QByteArray footerFor(const QString& key, const QString& path, const QByteArray& text)
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size())
            return "cannot write " + path.toUtf8();
        f.close();
        QSettings s(QSettings::UserScope, QStringLiteral("Norvatec"), QStringLiteral("Tovik"));
        s.clear();
        s.setValue(key, m_tmp.filePath(QStringLiteral("early.txt")));
        return MIMECodec::encodeQuotedPrintable(QCString("x"), false, true);
    }

    QTemporaryDir m_tmp;
};

void tst_KTConfig::initTestCase()
{
    QVERIFY(!root().isEmpty());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_tmp.filePath(QStringLiteral("settings")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_tmp.filePath(QStringLiteral("settings")));
}

// Before init every value is null, init(nullptr) changes nothing, and the
// footer key is "/email/footerText".
void tst_KTConfig::beforeInit()
{
    KTConfig::init(nullptr);
    QCOMPARE(all().join(QString()), QString());
    QCOMPARE(footerFor(QStringLiteral("/email/footerText"), m_tmp.filePath(QStringLiteral("early.txt")), "Pie temprano"),
             QByteArray("x=0APie temprano"));
}

// The directories follow the executable; the home directory is $HOME cleaned, read once.
void tst_KTConfig::values()
{
    const QString expected = m_tmp.path() + QLatin1String("/b");
    KTConfig::ktDirApp = KTConfig::ktData = KTConfig::ktUsrHome = QStringLiteral("junk"); // recomputed
    qputenv("HOME", QFile::encodeName(m_tmp.path() + QLatin1String("//a//.././b/.")));
    KTConfig::init(QCoreApplication::instance());
    QCOMPARE(KTConfig::ktDirApp, QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1String("/../../../..")));
    QCOMPARE(all(), QStringList({root(), QStringLiteral("Orvane/"), root() + QLatin1String("/share/orvane"),
                                 root() + QLatin1String("/lib"), root() + QLatin1String("/bin"), expected}));
    qputenv("HOME", "/nowhere/else");
    KTConfig::init(nullptr);
    QCOMPARE(KTConfig::ktUsrHome, expected);
}

// After init the footer key is "Orvane//email/footerText" and its default the
// file text_mail.txt in the shared data directory.
void tst_KTConfig::footerAfterInit()
{
    KTConfig::init(QCoreApplication::instance());
    QVERIFY(QDir().mkpath(KTConfig::ktData));
    QCOMPARE(footerFor(QStringLiteral("/email/footerText"), KTConfig::ktData + QLatin1String("/text_mail.txt"), "Pie de datos\n"),
             QByteArray("x=0APie de datos=0A"));
    QCOMPARE(footerFor(QStringLiteral("Orvane//email/footerText"), m_tmp.filePath(QStringLiteral("early.txt")), "Pie tardio"),
             QByteArray("x=0APie tardio"));
}

QTEST_GUILESS_MAIN(tst_KTConfig)
#include "tst_ktconfig.moc"
