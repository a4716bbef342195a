#pragma once

#include <cstdint>

#include "platform/media/media_types.h"

// Movie files, movies, tracks, media and samples, in the shape the system's code calls them.
// Every call sets the calling thread's last code (GetMoviesError); calls that return a code return
// the same value. A null movie, track or media is an error (invalidMovie, invalidTrack,
// invalidMedia), never a crash. Objects are owned by their movie: DisposeMovie frees its tracks
// and media.

// ---- Start-up --------------------------------------------------------------------------------

constexpr OSType gestaltQuickTime = 0x7174696d; // 'qtim'
constexpr long kMoviesVersion = 0x07608000;     // 7.6.8: high 16 bits 0x0760

OSErr InitializeQTML(long flags);
void TerminateQTML();
OSErr EnterMovies();
void ExitMovies();
// 'qtim' answers kMoviesVersion; any other selector gives -5551 (gestaltUndefSelectorErr).
OSErr Gestalt(OSType selector, long *response);

// ---- Files -----------------------------------------------------------------------------------

// A file named by a length-prefixed path ("/" separates folders). vRefNum and parID are kept but
// not used: the name is the whole path.
struct FSSpec
{
    int16_t vRefNum = 0;
    int32_t parID = 0;
    unsigned char name[256] = {}; // length byte, then at most 255 characters
};

// Fills spec from a length-prefixed path. fnfErr when the file does not exist (the spec is still
// filled, so it may name a file to create).
OSErr FSMakeFSSpec(int16_t vRefNum, long dirID, const unsigned char *fileName, FSSpec *spec);

constexpr int8_t fsRdPerm = 1;
constexpr int8_t fsWrPerm = 2;
constexpr int8_t fsRdWrPerm = 3;
constexpr long createMovieFileDeleteCurFile = long(0x80000000u);
constexpr long createMovieFileDontCreateMovie = 0x00000001; // reserved, not used
constexpr short newMovieActive = 1;
constexpr int16_t smSystemScript = -1;
constexpr int16_t smCurrentScript = -2;

// Opens a movie file for reading (or, for files made by CreateMovieFile, keeps the reference).
// resRefNum gets a small positive number. fnfErr, ioErr.
OSErr OpenMovieFile(const FSSpec *fileSpec, short *resRefNum, int8_t permission);
OSErr CloseMovieFile(short resRefNum);

// Reads the movie of an open file: a QuickTime movie (.mov, .mp4), a raw DV file, a DV AVI file
// (either kind, with its sound), an AIFF file ('twos' sound) or a JPEG picture (one sample).
// badFormat for other content, invalidMovie for fragmented movies or compressed movie atoms.
// The movie reads its samples from the file itself; it stays usable after CloseMovieFile.
OSErr NewMovieFromFile(Movie *theMovie, short resRefNum, short *resId, unsigned char *resName,
                       short newMovieFlags, Boolean *dataRefWasChanged);

// Creates (replacing, with createMovieFileDeleteCurFile) a movie file and an empty movie whose
// media data are written into it as samples are added. creator and scriptTag are kept.
OSErr CreateMovieFile(const FSSpec *fileSpec, OSType creator, int16_t scriptTag,
                      long createMovieFileFlags, short *resRefNum, Movie *newMovie);
// Writes the movie atom of a movie made by CreateMovieFile into its file (once; a second call
// rewrites it). resId may be null; resName is ignored.
OSErr AddMovieResource(Movie theMovie, short resRefNum, short *resId, const unsigned char *resName);

// ---- Movies ----------------------------------------------------------------------------------

Movie NewMovie(long flags); // an empty movie in memory (time scale 600)
void DisposeMovie(Movie theMovie);

TimeScale GetMovieTimeScale(Movie theMovie);
void SetMovieTimeScale(Movie theMovie, TimeScale timeScale);
TimeValue GetMovieDuration(Movie theMovie);  // longest track, in the movie's time scale
void GetMovieBox(Movie theMovie, Rect *box); // the largest enabled visual track's size
void SetMoviePlayHints(Movie theMovie, long flags, long flagsMask);
OSErr UpdateMovie(Movie theMovie);
constexpr long hintsHighQuality = 256;

long GetMovieTrackCount(Movie theMovie);
Track GetMovieIndTrack(Movie theMovie, long index); // 1-based

constexpr long movieTrackMediaType = 1 << 0;
constexpr long movieTrackCharacteristic = 1 << 1;
constexpr long movieTrackEnabledOnly = 1 << 2;
// index-th (1-based) track whose media type (movieTrackMediaType) or characteristic
// (movieTrackCharacteristic: 'eyes' for video, 'ears' for sound) matches; null when none.
Track GetMovieIndTrackType(Movie theMovie, long index, OSType trackType, long flags);

constexpr short nextTimeMediaSample = 1 << 0;
constexpr short nextTimeMediaEdit = 1 << 1;
constexpr short nextTimeTrackEdit = 1 << 2;
constexpr short nextTimeSyncSample = 1 << 3;
constexpr short nextTimeStep = 1 << 4;
constexpr short nextTimeEdgeOK = 0x4000;
constexpr short nextTimeIgnoreActiveSegment = short(0x8000);
// Next sample time (movie time) of the tracks whose characteristic or media type is listed (all
// tracks when numMediaTypes is 0), strictly after time for rate > 0, strictly before it for
// rate < 0; with nextTimeEdgeOK a sample starting exactly at time counts. -1 when none.
void GetMovieNextInterestingTime(Movie theMovie, short interestingTimeFlags, short numMediaTypes,
                                 const OSType *whichMediaTypes, TimeValue time, Fixed rate,
                                 TimeValue *interestingTime, TimeValue *interestingDuration);

// ---- Tracks ----------------------------------------------------------------------------------

Track NewMovieTrack(Movie theMovie, Fixed width, Fixed height, short trackVolume);
Media GetTrackMedia(Track theTrack);
Movie GetTrackMovie(Track theTrack);
TimeValue GetTrackDuration(Track theTrack); // movie time scale
void GetTrackDimensions(Track theTrack, Fixed *width, Fixed *height);
void SetTrackDimensions(Track theTrack, Fixed width, Fixed height);
void SetTrackEnabled(Track theTrack, Boolean isEnabled);
Boolean GetTrackEnabled(Track theTrack);
short GetTrackVolume(Track theTrack);

void GetTrackMatrix(Track theTrack, MatrixRecord *matrix);
void SetTrackMatrix(Track theTrack, const MatrixRecord *matrix);

void SetTrackLoadSettings(Track theTrack, TimeValue preloadTime, TimeValue preloadDuration,
                          long preloadFlags, long defaultHints);

// Track references ('tmcd' from a video track to its timecode track). addedIndex may be null.
OSErr AddTrackReference(Track theTrack, Track refTrack, OSType refType, long *addedIndex);
Track GetTrackReference(Track theTrack, OSType refType, long index); // 1-based; null when none
long GetTrackReferenceCount(Track theTrack, OSType refType);

// Appends an edit: the media's [mediaTime, mediaTime + mediaDuration) plays from trackStart
// (movie time; -1 appends at the track's end). Only rate 1.0 (0x10000) is supported (paramErr).
OSErr InsertMediaIntoTrack(Track theTrack, TimeValue trackStart, TimeValue mediaTime,
                           TimeValue mediaDuration, Fixed mediaRate);

// Media time that plays at track time value (movie time scale), through the edits; -1 in an empty
// edit or outside the track.
TimeValue TrackTimeToMediaTime(TimeValue value, Track theTrack);

// ---- Media -----------------------------------------------------------------------------------

// dataRef and dataRefType are accepted and ignored: media data go into the movie's own file.
Media NewTrackMedia(Track theTrack, OSType mediaType, TimeScale timeScale, Handle dataRef,
                    OSType dataRefType);
Track GetMediaTrack(Media theMedia);
OSType GetMediaType(Media theMedia); // 'vide', 'soun', 'tmcd', ...
TimeScale GetMediaTimeScale(Media theMedia);
TimeValue GetMediaDuration(Media theMedia);
long GetMediaSampleCount(Media theMedia); // sound: sound frames, compressed or not
long GetMediaSampleDescriptionCount(Media theMedia);
// Copies the index-th (1-based) description into descH (grown as needed).
void GetMediaSampleDescription(Media theMedia, long index, SampleDescriptionHandle descH);
void SetMediaPlayHints(Media theMedia, long flags, long flagsMask);

OSErr BeginMediaEdits(Media theMedia);
OSErr EndMediaEdits(Media theMedia);

constexpr short mediaSampleNotSync = 1 << 0;

// Appends numberOfSamples samples (size bytes from dataIn at inOffset) with one duration each,
// writing the bytes to the movie's file at once. A description byte-identical to one the media
// has is reused, otherwise it becomes a new entry. Sound: numberOfSamples sample frames, size a
// whole number of frames. sampleTime (may be null) gets the media time of the first sample.
// Needs BeginMediaEdits; dskFulErr or ioErr when the file write fails.
OSErr AddMediaSample(Media theMedia, Handle dataIn, long inOffset, unsigned long size,
                     TimeValue durationPerSample, SampleDescriptionHandle sampleDescriptionH,
                     long numberOfSamples, short sampleFlags, TimeValue *sampleTime);

// A description handle holds the fixed fields of the record (ImageDescription, SoundDescription,
// TimeCodeDescription) in native order, then the rest of the file's entry (version 1 sound
// fields, extension atoms) byte for byte, so offsets past the fixed part are the file's own.
// Reads at media time `time`. Video and other media: the one sample containing the time (its
// stored bytes, start, duration, description, flags). Sound: up to maxNumberOfSamples frames
// from the time (0 means all that follow in the chunk), across chunks with the same description;
// compressed sound gives whole packets, at least one, and counts the frames they hold. The
// duration per sample of sound is 1 (a frame).
// dataOut (may be null) grows as needed and is set to the byte count; maxSizeToGrow > 0 bounds
// it (0: no bound). The outputs may be null. invalidTime at or past the media's end.
OSErr GetMediaSample(Media theMedia, Handle dataOut, long maxSizeToGrow, long *size,
                     TimeValue time, TimeValue *sampleTime, TimeValue *durationPerSample,
                     SampleDescriptionHandle sampleDescriptionH, long *sampleDescriptionIndex,
                     long maxNumberOfSamples, long *numberOfSamples, short *sampleFlags);

// Next sample start strictly after time (rate > 0) or before it (rate < 0); nextTimeEdgeOK
// accepts time itself. interestingTime < 0 when none.
void GetMediaNextInterestingTime(Media theMedia, short interestingTimeFlags, TimeValue time,
                                 Fixed rate, TimeValue *interestingTime,
                                 TimeValue *interestingDuration);

// ---- Export ----------------------------------------------------------------------------------

using MovieProgressProcPtr = OSErr (*)(Movie theMovie, short message, short whatOperation,
                                       Fixed percentDone, long refcon);
// (MovieProgressProcPtr)-1: the standard progress display (the installed progress hook).
inline MovieProgressProcPtr StandardMovieProgressProc()
{
    return reinterpret_cast<MovieProgressProcPtr>(intptr_t(-1));
}
constexpr short movieProgressOpen = 0;
constexpr short movieProgressUpdatePercent = 1;
constexpr short movieProgressClose = 2;
constexpr short progressOpFlatten = 1;
void SetMovieProgressProc(Movie theMovie, MovieProgressProcPtr p, long refcon);

// What the standard progress display and the export settings dialog do; installed by the user
// interface layer (tests install scripted ones). Without them the standard progress shows nothing
// and an export that asks the user is cancelled (userCanceledErr).
struct MovieExportHooks
{
    // percent 0..100; called with open, update and close messages.
    void (*showProgress)(short message, int percent) = nullptr;
    // Asks for the output file; fills spec and fileType ('MooV'); false when cancelled.
    bool (*chooseExport)(Movie theMovie, FSSpec *spec, OSType *fileType) = nullptr;
};
MovieExportHooks SetMovieExportHooks(MovieExportHooks hooks); // returns the previous ones

constexpr long movieToFileOnlyExport = 1 << 1;
constexpr long showUserSettingsDialog = 1 << 2;
constexpr long createMovieFileDeleteCurFileFlag = long(0x80000000u);
constexpr OSType MovieFileType = 0x4d6f6f56; // 'MooV'
// Writes the movie (or onlyTrack alone) as a self-contained QuickTime movie. With
// showUserSettingsDialog the export hook chooses the file; outputFile may then be null.
OSErr ConvertMovieToFile(Movie theMovie, Track onlyTrack, FSSpec *outputFile, OSType fileType,
                         OSType creator, int16_t scriptTag, short *resID, long flags,
                         ComponentInstance userComp);
