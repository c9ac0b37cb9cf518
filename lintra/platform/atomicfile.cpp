#include "atomicfile.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int MaxLinks = 40; // as many as the kernel follows
constexpr int WriteInPlace = -1;

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.first(slash);
}

// The file a link chain ends at; a loop is left for open() to report.
QByteArray followLinks(QByteArray path)
{
    for (int hop = 0; hop < MaxLinks; ++hop) {
        struct stat st
        { };
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t n = ::readlink(path.constData(), target.data(), size_t(target.size()));
        if (n < 0)
            break;
        target.truncate(n);
        path = target.startsWith('/') ? target : folderOf(path) + '/' + target;
    }
    return path;
}

bool writeAllAt(int fd, QByteArrayView bytes)
{
    const char *data = bytes.data();
    qsizetype size = bytes.size();
    off_t offset = 0;
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size_t(size), offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

// The new content in a file beside the target, renamed over it. Returns
// WriteInPlace where that file cannot be made like the target.
int writeBeside(const QByteArray &target, const struct stat &old, QByteArrayView bytes)
{
    QByteArray temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return WriteInPlace;
    auto discard = [&](int reason) {
        ::close(fd);
        ::unlink(temporary.constData());
        return reason;
    };
    // Owner and group first: changing them may clear set-id bits of the mode.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0)
        return discard(WriteInPlace);
    if (::fchmod(fd, old.st_mode & 07777) != 0 || !writeAllAt(fd, bytes) || ::fsync(fd) != 0)
        return discard(errno);
    if (::close(fd) != 0 || ::rename(temporary.constData(), target.constData()) != 0) {
        const int reason = errno;
        ::unlink(temporary.constData());
        return reason;
    }
    // The rename itself must reach the disk too.
    const int folder = ::open(folderOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return 0;
}

int writeInPlace(int fd, QByteArrayView bytes)
{
    if (!writeAllAt(fd, bytes) || ::ftruncate(fd, off_t(bytes.size())) != 0 || ::fsync(fd) != 0)
        return errno;
    return 0;
}

} // namespace

int writeFileAtomically(const QString &path, QByteArrayView bytes)
{
    const QByteArray target = followLinks(QFile::encodeName(path));
    // The open an in-place write would make decides what may be written;
    // like every open of the list, it creates a missing file.
    const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    struct stat old
    { };
    int result = ::fstat(fd, &old) != 0 ? errno : WriteInPlace;
    if (result == WriteInPlace && S_ISREG(old.st_mode))
        result = writeBeside(target, old, bytes);
    if (result == WriteInPlace)
        result = writeInPlace(fd, bytes);
    if (::close(fd) != 0 && result == 0)
        result = errno;
    return result;
}
