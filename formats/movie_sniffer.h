#pragma once

// Results of SniffMovieFile.
constexpr int kSniffQuickTime = 0;  // a QuickTime movie (known top-level atom) or a JFIF picture
constexpr int kSniffOther = 2;      // anything else (the movie object decides what)
constexpr int kSniffUnreadable = 4; // cannot be opened, or no 4 bytes at offset 4 or 6

// Tells from a file's first bytes whether QuickTime should open it.
int SniffMovieFile(const char *path);
