#pragma once

#include "platform/media/codec_registry.h"
#include "platform/media/gworld.h"
#include "platform/media/image_compression.h"
#include "platform/media/media_types.h"

// Standard compression: a component that asks the user for a codec and quality once, then
// compresses pictures with them. The asking goes through a chooser: the user interface layer
// installs its dialog; tests queue scripted answers.

using ComponentResult = int32_t;
constexpr OSType StandardCompressionType = 0x73636469;    // 'scdi'
constexpr OSType StandardCompressionSubType = 0x696d6167; // 'imag'

// What the chooser shows and what it answers.
struct ScImageSettings
{
    CodecType codecType = 0x64766320; // 'dvc '
    CodecQ spatialQuality = codecMaxQuality;
};

// A chooser shows encoders[0..count) with current selected and, on OK, writes the choice into
// *chosen and returns true; false means the user cancelled.
using ImageSettingsChooser = bool (*)(const CodecNameSpec *encoders, int count,
                                      const ScImageSettings &current, ScImageSettings *chosen);

// Installs the chooser (null: back to the scripted one); returns the previous one.
ImageSettingsChooser SetImageSettingsChooser(ImageSettingsChooser chooser);

// The scripted chooser, used while none is installed: each request takes the next queued answer;
// with none queued the request counts as cancelled. cancel = true scripts a cancel.
void QueueScriptedImageSettings(const ScImageSettings &answer, bool cancel = false);
void ClearScriptedImageSettings();
int ScriptedImageSettingsRequests(); // requests answered by the script so far

// 'scdi', 'imag': a new standard compression instance (settings 'dvc ', max quality); null for
// any other pair. CloseComponent frees it (null ignored).
ComponentInstance OpenDefaultComponent(OSType componentType, OSType componentSubType);
OSErr CloseComponent(ComponentInstance ci);

// Shows the chooser. 0: the choice is kept; userCanceledErr (-128): cancelled, settings unchanged;
// noCodecErr when the choice names no installed encoder; paramErr for a null instance.
ComponentResult SCRequestImageSettings(ComponentInstance ci);
ComponentResult SCGetImageSettings(ComponentInstance ci, ScImageSettings *settings);

// Compresses srcRect of src (null: its bounds) with the instance's settings into a new
// description and a new data handle sized to the sample; the caller disposes both. Both are
// null on failure.
ComponentResult SCCompressImage(ComponentInstance ci, PixMapHandle src, const Rect *srcRect,
                                ImageDescriptionHandle *desc, Handle *data);
