#include "formats/dv_setup_hooks.h"

int DvDefaultFrameRate()
{
    return 0;
}
int DvDefaultTimeScale()
{
    return 2500;
}
int DvDefaultSampleDuration()
{
    return 100;
}
void DvDefaultSoundDescription(SoundDescriptionHandle) {}

DvSetupHooks gDvSetupHooks = {
    DvDefaultFrameRate,
    DvDefaultTimeScale,
    DvDefaultSampleDuration,
    DvDefaultSoundDescription,
    DvDefaultSoundDescription,
    nullptr,
    nullptr,
};
