#include "platform/media/standard_compression.h"

#include <atomic>
#include <new>
#include <vector>

#include "platform/media/internal/scripted_answers.h"

// A standard compression instance: the settings the last accepted request chose.
struct ComponentRecord
{
    ScImageSettings settings;
};

namespace {

std::atomic<ImageSettingsChooser> gChooser{nullptr};

lc::media::ScriptedAnswers<ScImageSettings> gScript;

bool ScriptedChooser(const CodecNameSpec *, int, const ScImageSettings &, ScImageSettings *chosen)
{
    return gScript.Take(chosen);
}

} // namespace

ImageSettingsChooser SetImageSettingsChooser(ImageSettingsChooser chooser)
{
    return gChooser.exchange(chooser);
}

void QueueScriptedImageSettings(const ScImageSettings &answer, bool cancel)
{
    gScript.Queue(answer, cancel);
}

void ClearScriptedImageSettings()
{
    gScript.Clear();
}

int ScriptedImageSettingsRequests()
{
    return gScript.Requests();
}

ComponentInstance OpenDefaultComponent(OSType componentType, OSType componentSubType)
{
    if (componentType != StandardCompressionType || componentSubType != StandardCompressionSubType) {
        SetMoviesError(paramErr);
        return nullptr;
    }
    auto *ci = new (std::nothrow) ComponentRecord{};
    SetMoviesError(ci ? noErr : memFullErr);
    return ci;
}

OSErr CloseComponent(ComponentInstance ci)
{
    delete ci;
    return noErr;
}

ComponentResult SCRequestImageSettings(ComponentInstance ci)
{
    if (!ci) {
        return paramErr;
    }
    std::vector<CodecNameSpec> encoders(size_t(ListImageEncoders(nullptr, 0)));
    const int count = ListImageEncoders(encoders.data(), int(encoders.size()));
    ImageSettingsChooser chooser = gChooser.load();
    ScImageSettings chosen = ci->settings;
    if (!(chooser ? chooser : ScriptedChooser)(encoders.data(), count, ci->settings, &chosen)) {
        return userCanceledErr;
    }
    if (!HasImageEncoder(chosen.codecType)) {
        return noCodecErr;
    }
    ci->settings = chosen;
    return noErr;
}

ComponentResult SCGetImageSettings(ComponentInstance ci, ScImageSettings *settings)
{
    if (!ci || !settings) {
        return paramErr;
    }
    *settings = ci->settings;
    return noErr;
}

ComponentResult SCCompressImage(ComponentInstance ci, PixMapHandle src, const Rect *srcRect,
                                ImageDescriptionHandle *desc, Handle *data)
{
    if (desc) {
        *desc = nullptr;
    }
    if (data) {
        *data = nullptr;
    }
    if (!ci || !src || !*src || !desc || !data) {
        return paramErr;
    }
    const Rect r = srcRect ? *srcRect : (**src).bounds;
    int32_t maxSize = 0;
    OSErr err = GetMaxCompressionSize(src, &r, 0, ci->settings.spatialQuality,
                                      ci->settings.codecType, anyCodec, &maxSize);
    if (err != noErr) {
        return err;
    }
    Handle bytes = NewHandle(maxSize);
    auto d = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
    if (!bytes || !d) {
        DisposeHandle(bytes);
        DisposeHandle(reinterpret_cast<Handle>(d));
        return memFullErr;
    }
    err = CompressImage(src, &r, ci->settings.spatialQuality, ci->settings.codecType, d, *bytes);
    if (err == noErr) {
        SetHandleSize(bytes, (**d).dataSize); // shrinking keeps the storage: never fails
    }
    if (err != noErr) {
        DisposeHandle(bytes);
        DisposeHandle(reinterpret_cast<Handle>(d));
        return err;
    }
    *desc = d;
    *data = bytes;
    return noErr;
}
