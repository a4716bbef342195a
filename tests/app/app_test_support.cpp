#include "tests/app/app_test_support.h"

#include <filesystem>

namespace app_test {

std::string FixtureDir() { return std::string(LC_BINARY_DIR) + "/fixtures_app"; }

std::string Fixture(const char *name) { return FixtureDir() + "/" + name; }

std::string ScratchDir(const std::string &name)
{
    std::filesystem::path dir = std::filesystem::path(LC_BINARY_DIR) / "scratch_app" / name;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir, ec);
    return dir.string();
}

bool CopyFile(const std::string &from, const std::string &to)
{
    std::error_code ec;
    return std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing,
                                      ec);
}

std::vector<std::string> &Calls()
{
    static std::vector<std::string> log;
    return log;
}

void Log(const std::string &call) { Calls().push_back(call); }

} // namespace app_test
