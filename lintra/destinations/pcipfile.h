#pragma once

#include "destinations/pciprecord.h"

#include <QFile>
#include <QList>
#include <QString>

// Random access to the fixed 37-byte records of the destination file.
// Records are numbered from 1; a trailing partial record is not a record.
// Every operation reports failure to its caller (errorString() says why).
class PCIPFile
{
public:
    static constexpr char DefaultName[] = "PCIP.dat"; // relative: the working directory
    // The design counts records in a signed 16-bit integer.
    static constexpr int MaxRecords = 32767;

    explicit PCIPFile(QString path = QString::fromLatin1(DefaultName));

    // Opens the file for reading, creating it empty when missing (falls
    // back to read-only where it may not be written).
    bool open();
    void close() { m_file.close(); }
    bool isOpen() const { return m_file.isOpen(); }

    qint64 size() const { return m_file.size(); }
    // Whole records, capped at MaxRecords: the rest of a larger file is not read.
    int count() const;

    // Blanks the buffer's text fields, then reads record n (1-based) into it.
    bool read(int n, PCIPRecord &buffer);

    QString errorString() const { return m_error; }

    // The four operations of the destination list, each opening and closing
    // the file. readAll leaves the buffer holding the last record read.
    //
    // The three writes put the new list into a new file beside the old one
    // and rename it over the old: a failure at any point leaves the old list
    // whole, and a reader that has the file open (a waiting connect walk)
    // keeps reading the list as it was when it opened it. The bytes that
    // result are those of writing in place.
    static bool readAll(const QString &path, PCIPRecord &buffer, QList<PCIPRecord> &records,
                        QString *error = nullptr);
    // Writes the record as record count + 1, over a trailing partial record.
    static bool appendTo(const QString &path, const PCIPRecord &record, QString *error = nullptr);
    // Writes the record as record n (1 to count).
    static bool overwrite(const QString &path, int n, const PCIPRecord &record,
                          QString *error = nullptr);
    static bool rewrite(const QString &path, const QList<PCIPRecord> &records,
                        QString *error = nullptr);

private:
    bool fail(const QString &why);
    // The whole file as it is now; a missing file is empty.
    static bool readBytes(const QString &path, QByteArray &bytes, QString *error);

    QFile m_file;
    QString m_error;
};
