#include "app/options_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "platform/sys/file.h"
#include "platform/sys/path.h"

const char kOptionsFileFirstLine[] =
    "This file prevents the quick-start guide from appearing, and stores options.\n";

OptionsFileState gOptionsFile;

namespace {

// The file is a few hundred bytes; anything past this is not ours to read.
constexpr size_t kMaxOptionsFileBytes = 64 * 1024;
constexpr size_t kFolderCapacity = sizeof(ConversionOptions::outputFolder);

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void SkipSpace(std::string_view text, size_t &pos)
{
    while (pos < text.size() && IsSpace(text[pos])) {
        ++pos;
    }
}

// One "%d": white space, an optional sign, digits. Values beyond 32 bits saturate.
bool ScanInt(std::string_view text, size_t &pos, int32_t &value)
{
    size_t p = pos;
    SkipSpace(text, p);
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        ++p;
    }
    if (p >= text.size() || text[p] < '0' || text[p] > '9') {
        return false;
    }
    int64_t v = 0;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
        if (v <= int64_t(INT32_MAX) + 1) {
            v = v * 10 + (text[p] - '0');
        }
        ++p;
    }
    v = negative ? -v : v;
    value = v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int32_t(v);
    pos = p;
    return true;
}

} // namespace

std::string FormatOptionLines(const ConversionOptions &options)
{
    std::string s;
    for (const ConversionOptionField &f : kConversionOptionFields) {
        s += std::to_string(options.*f.field);
        s += ' ';
    }
    s += '\n';
    s += options.outputFolder;
    s += '\n';
    return s;
}

int ParseOptionLines(std::string_view text, ConversionOptions &options)
{
    // The values, each followed by any white space (so a folder's leading blanks go too).
    size_t pos = 0;
    int taken = 0;
    for (int i = 0; i < kConversionOptionCount; ++i) {
        int32_t v;
        if (!ScanInt(text, pos, v)) {
            break;
        }
        options.*kConversionOptionFields[i].field = ClampConversionOption(i, v);
        ++taken;
        SkipSpace(text, pos);
    }

    // The folder: the rest of the line, without its line end, cut to the record's size.
    size_t end = pos;
    while (end < text.size() && text[end] != '\n' && end - pos < kFolderCapacity - 1) {
        ++end;
    }
    size_t len = end - pos;
    if (len > 0 && text[pos + len - 1] == '\r' && end < text.size() && text[end] == '\n') {
        --len;
    }
    text.substr(pos, len).copy(options.outputFolder, len);
    options.outputFolder[len] = '\0';
    return taken;
}

bool LoadOptionsFile(const char *name, ConversionOptions &options)
{
    std::string path = name;
    if (path.empty() || path[0] != '/') {
        path = lc::CurrentFolder() + path;
    }
    auto text = lc::ReadWholeFile(path.c_str(), kMaxOptionsFileBytes);
    if (!text) {
        return false;
    }
    // Line 1 is only a marker.
    std::string_view rest = *text;
    size_t lineEnd = rest.find('\n');
    rest = lineEnd == std::string_view::npos ? std::string_view() : rest.substr(lineEnd + 1);
    ParseOptionLines(rest, options);
    gOptionsFile.open = 1;
    gOptionsFile.path = path;
    return true;
}

bool WriteOptionsFile(const char *path, const ConversionOptions &options)
{
    // Written whole with truncation, so a shorter record leaves no tail of an older one.
    std::string content = kOptionsFileFirstLine;
    content += FormatOptionLines(options);
    if (!lc::WriteWholeFile(path, content.data(), content.size())) {
        return false;
    }
    gOptionsFile.open = 1;
    gOptionsFile.path = path;
    return true;
}

std::vector<std::string> OptionsFileFolders(const std::string &programFolder)
{
    std::vector<std::string> folders = {lc::CurrentFolder(), programFolder};
    const char *config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && config[0] == '/') {
        base = config;
    } else if (const char *home = std::getenv("HOME"); home && home[0] == '/') {
        base = std::string(home) + "/.config";
    }
    if (!base.empty()) {
        folders.push_back(base + "/loomcut/");
    }
    return folders;
}

bool LoadFirstOptionsFile(const std::vector<std::string> &folders, ConversionOptions &options)
{
    for (const std::string &folder : folders) {
        if (!folder.empty() && LoadOptionsFile((folder + kOptionsFileName).c_str(), options)) {
            return true;
        }
    }
    return false;
}

bool CreateOptionsFile(const std::vector<std::string> &folders, const ConversionOptions &options)
{
    if (gOptionsFile.open) {
        const std::string read = gOptionsFile.path;
        if (WriteOptionsFile(read.c_str(), options)) {
            return true;
        }
    }
    for (size_t i = 0; i < folders.size(); ++i) {
        const std::string &folder = folders[i];
        if (folder.empty()) {
            continue;
        }
        // Only the configuration folder (the third) is ours to make.
        if (i == 2) {
            std::error_code ec;
            std::filesystem::create_directories(folder, ec);
        }
        if (WriteOptionsFile((folder + kOptionsFileName).c_str(), options)) {
            return true;
        }
    }
    return false;
}

void SaveOptionsIfNoguide()
{
    if (gOptionsFile.open) {
        std::string path = gOptionsFile.path;
        WriteOptionsFile(path.c_str(), gConversionOptions);
    }
}
