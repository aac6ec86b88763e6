#include "orvanelog_p.h"

Q_LOGGING_CATEGORY(lcOrvaneMail, "orvane.mail", QtDebugMsg)
