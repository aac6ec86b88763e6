#include "ktconfig.h"

#include <QCoreApplication>
#include <QDir>

QString KTConfig::ktDirApp;
QString KTConfig::ktKeyBase;
QString KTConfig::ktData;
QString KTConfig::ktLib;
QString KTConfig::ktBin;
QString KTConfig::ktUsrHome;

void KTConfig::init(QCoreApplication* app)
{
    if (!app)
        return;
    ktDirApp = QDir::cleanPath(app->applicationDirPath() + QLatin1String("/../../../.."));
    ktKeyBase = QStringLiteral("Orvane/");
    // Plain concatenations of the already cleaned root, not cleaned again.
    ktData = ktDirApp + QLatin1String("/share/orvane");
    ktLib = ktDirApp + QLatin1String("/lib");
    ktBin = ktDirApp + QLatin1String("/bin");
    ktUsrHome = QDir::cleanPath(QDir::home().absolutePath());
}
