#pragma once

#include <QByteArrayView>
#include <QString>

// Replaces the content of the file at path with bytes, or leaves it whole.
// Returns 0, or the errno of the step that failed.
//
// A symbolic link is followed: its target gets the new content and the link
// stays. A file the user may not write is refused just as an in-place write
// would refuse it. The bytes go to a new file beside the target, which takes
// the target's mode, owner and group, is synced and only then renamed over
// it. Where the folder cannot take that file (no write permission there), or
// the new file cannot take the target's owner and group, the target is
// written in place, then truncated and synced.
//
// QSaveFile is not used: it reports success when its buffered write hits a
// full disk, and it replaces a link with a plain file.
int writeFileAtomically(const QString &path, QByteArrayView bytes);
