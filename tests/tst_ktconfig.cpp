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
    void values();
    void footer();

private:
    static QString root() { return QFileInfo(QStringLiteral(ORVANE_KT_ROOT)).canonicalFilePath(); }
    static QStringList all()
    {
        return {KTConfig::ktDirApp, KTConfig::ktKeyBase, KTConfig::ktData, KTConfig::ktLib, KTConfig::ktBin, KTConfig::ktUsrHome};
    }
    QTemporaryDir m_tmp;
};

void tst_KTConfig::initTestCase()
{
    QVERIFY(!root().isEmpty());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_tmp.filePath(QStringLiteral("settings")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_tmp.filePath(QStringLiteral("settings")));
}

// Null until init; init(nullptr) changes nothing; the directories follow the
// executable, the home directory is $HOME cleaned and read only then.
void tst_KTConfig::values()
{
    KTConfig::init(nullptr);
    QCOMPARE(all().join(QString()), QString());
    const QString expected = m_tmp.path() + QLatin1String("/b");
    qputenv("HOME", QFile::encodeName(m_tmp.path() + QLatin1String("//a//.././b/.")));
    KTConfig::init(QCoreApplication::instance());
    QCOMPARE(all(), QStringList({root(), QStringLiteral("Orvane/"), root() + QLatin1String("/share/orvane"),
                                 root() + QLatin1String("/lib"), root() + QLatin1String("/bin"), expected}));
    qputenv("HOME", "/nowhere/else");
    KTConfig::init(nullptr);
    QCOMPARE(KTConfig::ktUsrHome, expected);
}

// After init the footer key is "Orvane//email/footerText"; unset, the file
// text_mail.txt in the shared data directory is the footer.
void tst_KTConfig::footer()
{
    KTConfig::init(QCoreApplication::instance());
    QSettings s(QSettings::UserScope, QStringLiteral("Norvatec"), QStringLiteral("Tovik"));
    const QString byKey = m_tmp.filePath(QStringLiteral("f.txt")), byDefault = KTConfig::ktData + QLatin1String("/text_mail.txt");
    for (const auto& [key, path, text] : {std::tuple{QString(), byDefault, "Pie de datos\n"},
                                          {QStringLiteral("Orvane//email/footerText"), byKey, "Pie"}}) {
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == qint64(qstrlen(text)));
        f.close();
        s.clear();
        if (!key.isEmpty())
            s.setValue(key, path);
        s.sync();
        QCOMPARE(QByteArray(MIMECodec::encodeQuotedPrintable(QCString("x"), false, true)),
                 "x=0A" + QByteArray(text).replace("\n", "=0A"));
    }
}

QTEST_GUILESS_MAIN(tst_KTConfig)
#include "tst_ktconfig.moc"
