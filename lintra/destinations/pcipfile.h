#pragma once

#include "pciprecord.h"

#include <QFile>
#include <QList>
#include <QString>

// Why an operation on the destination file failed.
struct PCIPError
{
    enum class Kind {
        None,
        ListFull, // an append past MaxRecords
        NoRecord, // the record to change is no longer in the file
        NoPermission, // EACCES, EPERM
        DiskFull, // ENOSPC, EDQUOT, EFBIG
        ReadOnly, // EROFS
        MissingFolder, // ENOENT, ENOTDIR: the file's folder is not there
        IsFolder, // EISDIR: a folder stands in the file's place
        Other,
    };
    Kind kind = Kind::None;
    QString detail; // the system's own text, or an English description

    static PCIPError fromErrno(int code, const QString &path);
};

// Random access to the fixed 37-byte records of the destination file, whose
// path the caller gives. Records are numbered from 1; a trailing partial
// record is not a record.
class PCIPFile
{
public:
    // The design counts records in a signed 16-bit integer.
    static constexpr int MaxRecords = 32767;

    explicit PCIPFile(QString path);

    // Opens the file for reading, creating it empty when missing (falls
    // back to read-only where it may not be written).
    bool open();
    void close() { m_file.close(); }

    qint64 size() const { return m_file.size(); }
    // Whole records, capped at MaxRecords: the rest of a larger file is not read.
    int count() const;

    // Blanks the buffer's text fields, then reads record n (1-based) into it.
    bool read(int n, PCIPRecord &buffer);

    QString errorString() const { return m_error.detail; }

    // The operations of the destination list, each opening and closing the
    // file. readAll leaves the buffer holding the last record read.
    //
    // The writes change the file's bytes and nothing else: records they do
    // not touch, those past MaxRecords included, stay byte for byte. They
    // put the new content beside the old file and rename it over (see
    // writeFileAtomically): a failure leaves the old list whole, and a
    // reader that has the file open (a waiting connect walk) keeps reading
    // the list as it was when it opened it.
    static bool readAll(const QString &path, PCIPRecord &buffer, QList<PCIPRecord> &records,
                        PCIPError *error = nullptr);
    // Writes the record as record count + 1, over a trailing partial record.
    static bool appendTo(const QString &path, const PCIPRecord &record, PCIPError *error = nullptr);
    // Writes the record as record n (1 to count).
    static bool overwrite(const QString &path, int n, const PCIPRecord &record,
                          PCIPError *error = nullptr);
    // Takes record n (1 to count) out; the records after it move up by one.
    static bool remove(const QString &path, int n, PCIPError *error = nullptr);
    // Replaces the whole file with the records (at most MaxRecords).
    static bool rewrite(const QString &path, const QList<PCIPRecord> &records,
                        PCIPError *error = nullptr);

private:
    bool fail(PCIPError::Kind kind, const QString &why);
    // The whole file as it is now; a missing file is empty.
    static bool readBytes(const QString &path, QByteArray &bytes, PCIPError *error);
    static bool write(const QString &path, const QByteArray &bytes, PCIPError *error);

    QFile m_file;
    PCIPError m_error;
};
