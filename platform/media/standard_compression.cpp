#include "platform/media/standard_compression.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <new>
#include <vector>

// A standard compression instance: the settings the last accepted request chose.
struct ComponentRecord
{
    ScImageSettings settings;
};

namespace {

std::atomic<ImageSettingsChooser> gChooser{nullptr};

struct ScriptedAnswer
{
    ScImageSettings settings;
    bool cancel;
};

// Tests queue answers on one thread while a processing thread may ask.
std::mutex gScriptLock;
std::deque<ScriptedAnswer> gScript;
int gScriptRequests = 0;

bool ScriptedChooser(const CodecNameSpec *, int, const ScImageSettings &, ScImageSettings *chosen)
{
    std::lock_guard<std::mutex> lock(gScriptLock);
    gScriptRequests++;
    if (gScript.empty()) {
        return false;
    }
    const ScriptedAnswer a = gScript.front();
    gScript.pop_front();
    if (a.cancel) {
        return false;
    }
    *chosen = a.settings;
    return true;
}

} // namespace

ImageSettingsChooser SetImageSettingsChooser(ImageSettingsChooser chooser)
{
    return gChooser.exchange(chooser);
}

void QueueScriptedImageSettings(const ScImageSettings &answer, bool cancel)
{
    std::lock_guard<std::mutex> lock(gScriptLock);
    gScript.push_back({answer, cancel});
}

void ClearScriptedImageSettings()
{
    std::lock_guard<std::mutex> lock(gScriptLock);
    gScript.clear();
    gScriptRequests = 0;
}

int ScriptedImageSettingsRequests()
{
    std::lock_guard<std::mutex> lock(gScriptLock);
    return gScriptRequests;
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
