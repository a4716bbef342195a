#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/media/movies.h"

// Shared helpers of the movie tests: fixtures made once per build tree, ffprobe and ffmpeg run as
// black boxes, and movies opened from paths.

// Folder of the fixtures made by tests/fixtures/media_make_fixtures.sh (made on first use, once,
// even when several test processes start together). Ends with "/".
const std::string &MediaFixtureDir();
std::string Fixture(const char *name);

// Runs argv (no shell); stdout into out. Returns the exit status, -1 when it could not run.
int RunProgram(const std::vector<std::string> &argv, std::string *out, std::string *err = nullptr);

struct ProbePacket
{
    int64_t pts = 0;
    int64_t duration = 0;
    int64_t size = 0;
    int64_t pos = 0;
};
std::vector<ProbePacket> ProbePackets(const std::string &path, int stream);

// Opens a movie the way the system does (FSMakeFSSpec, OpenMovieFile, NewMovieFromFile,
// CloseMovieFile). The result code is that of NewMovieFromFile (or of the first failing call).
OSErr OpenMoviePath(const std::string &path, Movie *movie);

std::vector<uint8_t> FileBytes(const std::string &path);
// A fresh, empty scratch folder for this test; ends with "/".
std::string ScratchDir();

// A fixture's file name as a test name (letters and digits, '_' for the rest).
std::string TestNameOf(const char *file);

// Length-prefixed copy of a path.
void ToPascal(const std::string &path, unsigned char out[256]);
