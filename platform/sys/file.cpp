#include "platform/sys/file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lc {

int FileOpen(const char *path, FileMode mode)
{
    if (!path) {
        errno = EINVAL;
        return kNoFile;
    }
    int flags = O_CLOEXEC;
    switch (mode) {
    case FileMode::Read:
        flags |= O_RDONLY;
        break;
    case FileMode::ReadWrite:
        flags |= O_RDWR;
        break;
    case FileMode::Create:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    int fd;
    do {
        fd = ::open(path, flags, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kNoFile : fd;
}

int64_t FileRead(int fd, void *dst, size_t n)
{
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    size_t done = 0;
    auto *p = static_cast<uint8_t *>(dst);
    while (done < n) {
        ssize_t r = ::read(fd, p + done, n - done);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (r == 0) {
            break;
        }
        done += size_t(r);
    }
    return int64_t(done);
}

int64_t FileWrite(int fd, const void *src, size_t n)
{
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    size_t done = 0;
    auto *p = static_cast<const uint8_t *>(src);
    while (done < n) {
        ssize_t r = ::write(fd, p + done, n - done);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (r == 0) {
            errno = ENOSPC;
            return -1;
        }
        done += size_t(r);
    }
    return int64_t(done);
}

int64_t FileSeek(int fd, int64_t offset, int whence)
{
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    off_t r = ::lseek(fd, off_t(offset), whence);
    return r < 0 ? -1 : int64_t(r);
}

int64_t FileTell(int fd) { return FileSeek(fd, 0, SEEK_CUR); }

int64_t FileSize(int fd)
{
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        return -1;
    }
    return int64_t(st.st_size);
}

int FileClose(int fd)
{
    if (fd < 0) {
        return -1;
    }
    return ::close(fd) == 0 ? 0 : -1;
}

bool FileFlush(int fd) { return fd >= 0; }

Result<std::string> ReadWholeFile(const char *path, size_t maxBytes)
{
    File f(FileOpen(path, FileMode::Read));
    if (!f.isOpen()) {
        return Fail(errno == ENOENT ? Error::NotFound : Error::Io, path ? path : "(null)");
    }
    int64_t size = f.size();
    if (size < 0) {
        return Fail(Error::Io, path);
    }
    if (uint64_t(size) > maxBytes) {
        return Fail(Error::TooLarge, path);
    }
    std::string s(size_t(size), '\0');
    int64_t r = f.read(s.data(), s.size());
    if (r < 0) {
        return Fail(Error::Io, path);
    }
    s.resize(size_t(r));
    return s;
}

Status WriteWholeFile(const char *path, const void *data, size_t n)
{
    File f(FileOpen(path, FileMode::Create));
    if (!f.isOpen()) {
        return Fail(Error::Io, path ? path : "(null)");
    }
    if (f.write(data, n) != int64_t(n)) {
        return Fail(errno == ENOSPC ? Error::DiskFull : Error::Io, path);
    }
    if (f.close() != 0) {
        return Fail(Error::Io, path);
    }
    return {};
}

bool PathExists(const char *path)
{
    struct stat st;
    return path && ::stat(path, &st) == 0;
}

bool IsDirectory(const char *path)
{
    struct stat st;
    return path && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool SameFile(const char *a, const char *b)
{
    struct stat sa, sb;
    if (!a || !b || ::stat(a, &sa) != 0 || ::stat(b, &sb) != 0) {
        return false;
    }
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int DeletePath(const char *path)
{
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    return ::unlink(path) == 0 ? 0 : -1;
}

static Status CopyThenRemove(const char *from, const char *to)
{
    File in(FileOpen(from, FileMode::Read));
    if (!in.isOpen()) {
        return Fail(Error::Io, std::string("open ") + from);
    }
    // Write beside the target first so a failed copy never leaves a half file under its name.
    std::string tmp = std::string(to) + ".part";
    File out(FileOpen(tmp.c_str(), FileMode::Create));
    if (!out.isOpen()) {
        return Fail(Error::Io, std::string("create ") + tmp);
    }
    std::vector<uint8_t> buf(size_t(1) << 20);
    for (;;) {
        int64_t r = in.read(buf.data(), buf.size());
        if (r < 0) {
            out.close();
            ::unlink(tmp.c_str());
            return Fail(Error::Io, std::string("read ") + from);
        }
        if (r == 0) {
            break;
        }
        if (out.write(buf.data(), size_t(r)) != r) {
            Error e = errno == ENOSPC ? Error::DiskFull : Error::Io;
            out.close();
            ::unlink(tmp.c_str());
            return Fail(e, std::string("write ") + tmp);
        }
    }
    if (out.close() != 0 || ::rename(tmp.c_str(), to) != 0) {
        ::unlink(tmp.c_str());
        return Fail(Error::Io, std::string("rename ") + tmp);
    }
    in.close();
    ::unlink(from);
    return {};
}

Status RenameReplacing(const char *from, const char *to)
{
    if (!from || !to) {
        return Fail(Error::InvalidArgument, "rename");
    }
    if (::rename(from, to) == 0) {
        return {};
    }
    if (errno == EXDEV) {
        return CopyThenRemove(from, to);
    }
    return Fail(errno == ENOENT ? Error::NotFound : Error::Io, std::strerror(errno));
}

} // namespace lc
