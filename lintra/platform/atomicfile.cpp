#include "platform/atomicfile.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fail(QString *error, const QString &what)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

mode_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

bool writeFileAtomically(const QString &path, QByteArrayView bytes, QString *error)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        errno = EISDIR;
        return fail(error, path);
    }
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QByteArray directory = QFile::encodeName(info.absolutePath());
    QByteArray temporary = target + ".XXXXXX";

    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return fail(error, path);
    struct stat old {};
    const mode_t mode = ::stat(target.constData(), &old) == 0 ? (old.st_mode & 07777) : newFileMode();
    // On any failure the reason is kept before the temporary file goes.
    auto discard = [&] {
        fail(error, path);
        ::unlink(temporary.constData());
        return false;
    };
    if (::fchmod(fd, mode) != 0 || !writeAll(fd, bytes.data(), bytes.size()) || ::fsync(fd) != 0) {
        const int reason = errno;
        ::close(fd);
        errno = reason;
        return discard();
    }
    if (::close(fd) != 0 || ::rename(temporary.constData(), target.constData()) != 0)
        return discard();
    // The rename itself must reach the disk too.
    const int dirFd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}
