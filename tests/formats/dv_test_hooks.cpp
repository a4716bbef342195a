#include "tests/formats/dv_test_hooks.h"

#include "tests/formats/formats_test_support.h"

namespace dv_test {

std::string FixtureDir()
{
    static const std::string dir = [] {
        const std::string out = std::string(LC_BINARY_DIR) + "/fixtures_dvset";
        std::string log;
        const int rc = fmt_test::RunProgram(
            {"python3", std::string(LC_SOURCE_DIR) + "/tests/fixtures/dvset_make_fixtures.py", out},
            &log);
        if (rc != 0) {
            ADD_FAILURE() << "fixture script failed:\n" << log;
            return std::string();
        }
        return out;
    }();
    return dir;
}

} // namespace dv_test
