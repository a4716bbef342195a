#pragma once

#include <string>
#include <vector>

// Shared by the shell and movie-object tests: the fixture movies, scratch folders, and a log of
// the calls the code under test makes through its hooks.

namespace app_test {

// Folder of the movies made by tests/fixtures/app_make_fixtures.py at build time.
std::string FixtureDir();
std::string Fixture(const char *name);
// A fresh, empty folder for one test, under the build tree.
std::string ScratchDir(const std::string &name);
bool CopyFile(const std::string &from, const std::string &to);

// Hook calls in order.
std::vector<std::string> &Calls();
void Log(const std::string &call);

} // namespace app_test
