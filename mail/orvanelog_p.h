#pragma once

#include <QLoggingCategory>

// The library's one logging category, "orvane.mail". Diagnostics are written
// at debug level with fixed English texts; a host silences them with
// QT_LOGGING_RULES="orvane.mail.debug=false".
Q_DECLARE_LOGGING_CATEGORY(lcOrvaneMail)

#define orvaneDebug(...) qCDebug(lcOrvaneMail, __VA_ARGS__)
