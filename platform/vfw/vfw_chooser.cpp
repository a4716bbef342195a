// The compressor chooser: the user interface layer installs its dialog; tests queue answers.

#include <atomic>
#include <vector>

#include "platform/media/internal/scripted_answers.h"
#include "platform/vfw/internal/vfw_registry.h"
#include "platform/vfw/vfw.h"

namespace {

std::atomic<CompressorChooser> gChooser{nullptr};

lc::media::ScriptedAnswers<DWORD> gScript; // chosen codes

bool ScriptedChooser(void *, const ICINFO *compressors, int count, int, const char *, int *chosen)
{
    DWORD handler = 0;
    if (!gScript.Take(&handler)) {
        return false;
    }
    for (int i = 0; i < count; i++) {
        if (compressors[i].fccHandler == handler) {
            *chosen = i;
            return true;
        }
    }
    return false; // a code the list does not hold: nothing could be picked
}

} // namespace

CompressorChooser SetCompressorChooser(CompressorChooser chooser)
{
    return gChooser.exchange(chooser);
}

void QueueScriptedCompressor(DWORD fccHandler, bool cancel)
{
    gScript.Queue(fccHandler, cancel);
}

void ClearScriptedCompressors()
{
    gScript.Clear();
}

int ScriptedCompressorRequests()
{
    return gScript.Requests();
}

BOOL ICCompressorChoose(void *owner, UINT, const void *, void *, COMPVARS *pc, const char *title)
{
    if (!pc || pc->cbSize != kCompVarsSize) {
        return 0;
    }
    std::vector<ICINFO> list(static_cast<size_t>(lc::vfw::CompressorCount()));
    int count = 0;
    int current = 0;
    for (ICINFO &info : list) {
        if (!lc::vfw::CompressorInfo(count, &info)) {
            break;
        }
        if ((pc->dwFlags & ICMF_COMPVARS_VALID) && info.fccHandler == pc->fccHandler) {
            current = count;
        }
        count++;
    }
    CompressorChooser chooser = gChooser.load();
    int chosen = -1;
    if (!(chooser ? chooser : ScriptedChooser)(owner, list.data(), count, current, title, &chosen)
        || chosen < 0 || chosen >= count) {
        return 0;
    }
    HIC hic = nullptr;
    if (list[size_t(chosen)].fccHandler != kFullFramesHandler) {
        hic = ICOpen(ICTYPE_VIDEO, list[size_t(chosen)].fccHandler, ICMODE_COMPRESS);
        if (!hic) {
            return 0; // listed but not openable: as if nothing was picked
        }
    }
    ICCompressorFree(pc);
    pc->dwFlags = ICMF_COMPVARS_VALID;
    pc->hic = hic;
    pc->fccType = ICTYPE_VIDEO;
    pc->fccHandler = list[size_t(chosen)].fccHandler;
    return 1;
}

void ICCompressorFree(COMPVARS *pc)
{
    if (pc && pc->hic) {
        ICClose(pc->hic);
        pc->hic = nullptr;
    }
}
