#pragma once

#include "orvanemail_export.h"

#include <QString>

class QCoreApplication;

/**
 * \brief The host application's directory roots and settings-key base.
 *
 * All values are empty until init() runs; init() may be called again and
 * recomputes every value.
 */
class ORVANEMAIL_EXPORT KTConfig
{
public:
    KTConfig() = delete;

    /// Computes every value from the directory of \a app's executable.
    /// Does nothing when \a app is null.
    static void init(QCoreApplication* app);

    static QString ktDirApp;   ///< executable directory + "/../../../..", cleaned
    static QString ktKeyBase;  ///< "Orvane/": prefix of the settings keys
    static QString ktData;     ///< ktDirApp + "/share/orvane"
    static QString ktLib;      ///< ktDirApp + "/lib"
    static QString ktBin;      ///< ktDirApp + "/bin"
    static QString ktUsrHome;  ///< the user's home directory, cleaned
};
