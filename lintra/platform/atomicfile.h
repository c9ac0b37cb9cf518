#pragma once

#include <QByteArrayView>
#include <QString>

// Replaces the file at path with bytes, or leaves it untouched: the bytes go
// to a new file in the same directory, which is synced to disk and only then
// renamed over the old one. Returns false, with the reason in *error, when
// any step fails.
//
// QSaveFile is not used: it reports success when its buffered write hits a
// full disk (the error only surfaces in a flush it does not check).
bool writeFileAtomically(const QString &path, QByteArrayView bytes, QString *error = nullptr);
