#pragma once

// Points the MPEG-2 output stage's upward calls (process control, conversion state, the stream
// output helpers, sound copying, ShowError) at this folder and joins the stage to the decoder.
// Called once at start-up; the preview window's two hooks are the user interface's to install.
void InstallStreamOutputHooks();
