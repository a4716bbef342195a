#include "platform/sys/path.h"

#include <climits>
#include <cstring>

#include <unistd.h>

namespace lc {

std::ptrdiff_t FolderEnd(const char *path)
{
    if (!path) {
        return -1;
    }
    const char *slash = std::strrchr(path, kPathSeparator);
    return slash ? slash - path : -1;
}

std::ptrdiff_t FileNameStart(const char *path) { return FolderEnd(path) + 1; }

std::ptrdiff_t ExtensionStart(const char *path)
{
    if (!path) {
        return 0;
    }
    std::ptrdiff_t start = FileNameStart(path);
    const char *dot = std::strrchr(path + start, '.');
    return dot ? dot - path : std::ptrdiff_t(std::strlen(path));
}

std::string FolderOf(const char *path)
{
    std::ptrdiff_t end = FolderEnd(path);
    return end < 0 ? std::string() : std::string(path, size_t(end) + 1);
}

std::string FileNameOf(const char *path)
{
    return path ? std::string(path + FileNameStart(path)) : std::string();
}

std::string WithoutExtension(const char *path)
{
    return path ? std::string(path, size_t(ExtensionStart(path))) : std::string();
}

std::string ReplaceExtension(const char *path, const char *ext)
{
    return WithoutExtension(path) + "." + (ext ? ext : "");
}

std::string ProgramFolder()
{
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) {
        return CurrentFolder();
    }
    buf[n] = 0;
    return FolderOf(buf);
}

std::string CurrentFolder()
{
    char buf[PATH_MAX];
    if (!::getcwd(buf, sizeof buf)) {
        return "./";
    }
    std::string s(buf);
    if (s.empty() || s.back() != kPathSeparator) {
        s += kPathSeparator;
    }
    return s;
}

} // namespace lc
