#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/conversion_options.h"

// The "noguide" options file. Its presence keeps the quick-start guide hidden at start-up, and it
// carries ConversionOptions between runs: a fixed first line, the 33 values each written "%d ",
// then the output folder on a line of its own.

constexpr const char kOptionsFileName[] = "noguide";
extern const char kOptionsFileFirstLine[];

// Lines 2 and 3 for the record.
std::string FormatOptionLines(const ConversionOptions &options);

// Reads lines 2 and 3 (the text that follows line 1) into the record. Values are scanned in file
// order as "%d " (a number, then any white space, line ends included) and clamped to their field's
// range; at the first one that holds no number the rest keep their values. The folder is the text
// from there to the line end, at most 255 characters. Returns the number of values taken.
int ParseOptionLines(std::string_view text, ConversionOptions &options);

// The file found or made in this run: later main-options OKs rewrite it.
struct OptionsFileState
{
    int open = 0;     // 1 once a file was read at start-up or created by the guide
    std::string path; // the file to rewrite, absolute
};

extern OptionsFileState gOptionsFile;

// Start-up: reads the file named `name` (relative names are taken in the current folder) into
// the record. Returns false when there is no such file; the record is then left alone.
bool LoadOptionsFile(const char *name, ConversionOptions &options);

// Writes the whole file (line 1 and the record) at path, replacing what was there, and makes it
// the file later saves rewrite. Returns false when it could not be written.
bool WriteOptionsFile(const char *path, const ConversionOptions &options);

// Where the guide looks for the file, in this order: the current folder, the program folder,
// and the user's configuration folder ($XDG_CONFIG_HOME/loomcut/, else $HOME/.config/loomcut/;
// left out when neither names an absolute folder). Each ends with "/".
std::vector<std::string> OptionsFileFolders(const std::string &programFolder);

// Start-up: reads the first file of that name found in folders. false when none holds one.
bool LoadFirstOptionsFile(const std::vector<std::string> &folders, ConversionOptions &options);

// The guide's "Close Guide": writes the file back where it was read, else into the first of
// folders that takes it (the configuration folder is made when missing). false when none did.
bool CreateOptionsFile(const std::vector<std::string> &folders, const ConversionOptions &options);

// Main-options OK: rewrites the file when one is in use; without one the options are not saved.
void SaveOptionsIfNoguide();
