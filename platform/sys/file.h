#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sys/result.h"

namespace lc {

// Low-level files with 64-bit positions, in the shape the system's readers and writers test:
// a read of 0 bytes is the end, -1 an error; a write shorter than asked is an error.
enum class FileMode
{
    Read,      // existing file, read only
    ReadWrite, // existing file, read and write
    Create,    // create or truncate, write (and read back)
};

constexpr int kNoFile = -1;

int FileOpen(const char *path, FileMode mode);   // descriptor, or kNoFile (errno kept)
int64_t FileRead(int fd, void *dst, size_t n);   // bytes read (short only at the end), 0, -1
int64_t FileWrite(int fd, const void *src, size_t n); // n on success, -1 on any failure
int64_t FileSeek(int fd, int64_t offset, int whence); // new position or -1; whence SEEK_*
int64_t FileTell(int fd);
int64_t FileSize(int fd);
int FileClose(int fd); // 0 or -1
bool FileFlush(int fd); // fsync is not needed; this only reports a pending write error

// Owns a descriptor; closes it on destruction.
class File
{
public:
    File() = default;
    explicit File(int fd) : fd_(fd) {}
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    File(File &&o) noexcept : fd_(o.release()) {}
    File &operator=(File &&o) noexcept
    {
        if (this != &o) {
            close();
            fd_ = o.release();
        }
        return *this;
    }
    ~File() { close(); }

    bool open(const char *path, FileMode mode)
    {
        close();
        fd_ = FileOpen(path, mode);
        return fd_ != kNoFile;
    }
    bool isOpen() const { return fd_ != kNoFile; }
    int fd() const { return fd_; }
    int release()
    {
        int fd = fd_;
        fd_ = kNoFile;
        return fd;
    }
    int close()
    {
        int r = 0;
        if (fd_ != kNoFile) {
            r = FileClose(fd_);
            fd_ = kNoFile;
        }
        return r;
    }
    int64_t read(void *dst, size_t n) { return FileRead(fd_, dst, n); }
    int64_t write(const void *src, size_t n) { return FileWrite(fd_, src, n); }
    int64_t seek(int64_t offset, int whence) { return FileSeek(fd_, offset, whence); }
    int64_t tell() const { return FileTell(fd_); }
    int64_t size() const { return FileSize(fd_); }

private:
    int fd_ = kNoFile;
};

// Reads a whole file (bounded by maxBytes) into memory.
Result<std::string> ReadWholeFile(const char *path, size_t maxBytes = size_t(1) << 30);
Status WriteWholeFile(const char *path, const void *data, size_t n);

bool PathExists(const char *path);
bool IsDirectory(const char *path);
// Device and inode equality; false when either is missing.
bool SameFile(const char *a, const char *b);
// unlink; 0 on success, else -1 with errno kept. Never a shell.
int DeletePath(const char *path);
// Moves from to to, replacing to. Across file systems it copies and then removes from.
Status RenameReplacing(const char *from, const char *to);

} // namespace lc
