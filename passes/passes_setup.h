#pragma once

// Points the hooks the lower folders call upward (message boxes, stop and pass polling, the
// per-movie settings, the sound services, the controller's frame decoder) at this folder's
// functions and records. Called once at start-up, before any movie is opened.
void InstallPassesHooks();
