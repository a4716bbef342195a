#pragma once

#include <cstddef>
#include <string>

namespace lc {

// "/" separates folders. Positions are byte indexes into the path.
constexpr char kPathSeparator = '/';

// Index of the last "/", or -1 when the path names no folder.
std::ptrdiff_t FolderEnd(const char *path);
// Index of the file name's first character (0 when no folder).
std::ptrdiff_t FileNameStart(const char *path);
// Index of the last "." in the file name, or the path's length when the name has none.
// A dot in a folder name never counts.
std::ptrdiff_t ExtensionStart(const char *path);

std::string FolderOf(const char *path);        // with its trailing "/", "" when none
std::string FileNameOf(const char *path);      // with its extension
std::string WithoutExtension(const char *path);
std::string ReplaceExtension(const char *path, const char *ext); // ext without the dot

// Folder of the running executable, ending with "/".
std::string ProgramFolder();
std::string CurrentFolder(); // ending with "/"

} // namespace lc
