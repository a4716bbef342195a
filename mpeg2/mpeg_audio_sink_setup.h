#pragma once

// Points the demultiplexer's sound hand-off at the AC-3 decoder, the WAV writers and the audio
// block output. Called once at start-up; tests of the demultiplexer alone leave the sink empty.
void InstallMpegAudioSink();
