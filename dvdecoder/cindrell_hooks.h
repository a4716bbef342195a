#pragma once

// The decoder reports its failures only by message boxes captioned "Cindrell". It sits below
// the user interface, so the box goes through this hook, which the application installs.

inline constexpr const char *kCindrellCaption = "Cindrell";

struct CindrellHooks
{
    // Shows text in a message box with the given caption; no-op until installed.
    void (*messageBox)(const char *text, const char *caption) = nullptr;
};

extern CindrellHooks gCindrellHooks;

// Shows text through the hook with the caption "Cindrell".
void CindrellMessage(const char *text);
