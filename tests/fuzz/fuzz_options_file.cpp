// Fuzz target for the "noguide" options file reader: the input is the file, loaded as at
// start-up. Every value taken must lie in its field's range, the folder must fit its buffer, and
// what the reader took must come back unchanged when written and read again.
#include <cstdint>
#include <cstring>
#include <string>

#include <unistd.h>

#include "app/options_file.h"
#include "engine/conversion_options.h"
#include "platform/sys/file.h"
#include "tests/support/fuzz_replay.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;

bool Same(const ConversionOptions &a, const ConversionOptions &b)
{
    for (const ConversionOptionField &f : kConversionOptionFields) {
        if (a.*f.field != b.*f.field) {
            return false;
        }
    }
    return std::strcmp(a.outputFolder, b.outputFolder) == 0;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput) {
        return 0;
    }
    static const std::string path = lc_test::FuzzWorkPath("fuzz_options_file", ".noguide");
    if (!lc::WriteWholeFile(path.c_str(), data, size)) {
        return 0;
    }
    ConversionOptions read;
    ResetConversionOptions(read);
    const bool loaded = LoadOptionsFile(path.c_str(), read);
    ::unlink(path.c_str());
    gOptionsFile = OptionsFileState{};
    if (!loaded) {
        return 0;
    }
    for (int i = 0; i < kConversionOptionCount; ++i) {
        const int32_t v = read.*kConversionOptionFields[i].field;
        if (ClampConversionOption(i, v) != v) {
            __builtin_trap(); // a value outside its range got in
        }
    }
    const size_t folder = ::strnlen(read.outputFolder, sizeof read.outputFolder);
    if (folder >= sizeof read.outputFolder) {
        __builtin_trap(); // the folder lost its end
    }
    // Written and read back, the record stays as it is. The file cannot keep a folder's leading
    // blanks (the last number's scan takes them) nor a carriage return before its line end.
    if (folder > 0 && (IsBlank(read.outputFolder[0]) || read.outputFolder[folder - 1] == '\r')) {
        return 0;
    }
    const std::string lines = FormatOptionLines(read);
    ConversionOptions again;
    ResetConversionOptions(again);
    if (ParseOptionLines(lines, again) != kConversionOptionCount || !Same(read, again)) {
        __builtin_trap();
    }
    return 0;
}
