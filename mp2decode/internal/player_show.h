#pragma once

#include <id3tag.h>
#include <mad.h>

#include "mp2decode/player.h"

// The front end's display and interactive parts: tags, status lines, console keys, silence.
// The converter's run (-Q, -o) reaches none of them.

// The program name that warnings begin with (argv[0] of the run).
extern const char *gMp2DecodeProgramName;

void ShowVersionBanner();
// Prints a tag's known frames, names right-aligned; -1 when out of memory.
int ShowId3Tag(Player *player, const id3_tag *tag);
// A tag of tagSize bytes met inside the stream at its current frame: read, shown and skipped.
// -1 on failure.
int ReadId3InStream(Player *player, mad_stream *stream, signed long tagSize);
// The verbose status line of the frame just played.
void ShowStatus(Player *player, const mad_header *header);
// Prints a line over the previous status line.
void Mp2DecodeMessage(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Plays duration of zeros through the module; -1 on failure.
int PlaySilence(Player *player, mad_timer_t duration);
// The console key filter of option 0x40 (data: the player).
int TtyFilter(void *data, mad_frame *frame);
