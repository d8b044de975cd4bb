// SPDX-License-Identifier: GPL-3.0-or-later
// Writing an export file so that it either is complete or is reported as
// failed with the real reason, and a failure never damages what was there.
#pragma once

#include <QByteArray>
#include <QString>

namespace trend {

// Writes `content` to `path`. A new or regular file is written beside the
// target and takes its place only once every byte is written, so a failed
// export leaves an existing file as it was. An existing device or pipe
// (/dev/stdout, /dev/full) cannot be replaced: it is written in place.
// Every write is checked: returns an empty string on success, else why it
// failed (the system's reason) and where.
QString SaveFile(const QString& path, const QByteArray& content);

} // namespace trend
