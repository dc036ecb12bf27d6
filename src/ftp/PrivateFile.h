#pragma once

// Small files of the user's own (remembered certificates, the journal of
// temporary names, the profile file) written so that a reader never sees half of
// one and nobody else can read it.
#include <QByteArray>
#include <QString>

namespace privatefile {

// Writes all of data to fd; false on an error.
bool WriteAll(int fd, const QByteArray& data);

enum class Sync { No, Yes };

// Replaces path whole through a temporary file beside it, readable by the owner
// only, making its folder first. With Sync::Yes the data and the rename reach
// the disk before it returns. Never writes through a link at the temporary name.
bool Replace(const QString& path, const QByteArray& data, Sync sync);

} // namespace privatefile
