#pragma once

#include <QString>

class LocalMailFolder;

/// Stores every *.eml file of \a dir (in name order) in \a folder, received
/// at the date the message was sent; the number stored, or -1 (with
/// \a error set) when a file cannot be read or stored.
int importMessages(const QString& dir, LocalMailFolder& folder, QString* error);
