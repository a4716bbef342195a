#pragma once

// Points the upward hooks of the lower folders (file formats, DV set-up, the DVCPRO HD decoder,
// the MPEG-2 input, the frame processing core) at the passes and the shell. Start-up calls it once, before any
// movie opens.
void InstallLowerFolderHooks();
