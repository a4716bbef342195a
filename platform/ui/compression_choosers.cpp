#include "platform/ui/compression_choosers.h"

#include <string>
#include <vector>

#include "platform/media/standard_compression.h"
#include "platform/ui/gui_thread.h"
#include "platform/vfw/vfw.h"

namespace lc::ui {

namespace {

constexpr CodecQ kQualityLevels[kChooserQualityCount] = {
    codecMinQuality,  codecLowQuality, codecNormalQuality,
    codecHighQuality, codecMaxQuality, codecLosslessQuality,
};
const char *const kQualityNames[kChooserQualityCount] = {"Minimum", "Low",     "Normal",
                                                         "High",    "Maximum", "Lossless"};

// Dialog units.
constexpr int kWidth = 200;
constexpr int kRow = 12;
constexpr int kMargin = 7;

CDialog *gOpenChooser = nullptr;

// A list of entries as one radio group, an optional quality group, OK and Cancel. The template
// is built per request: the entries come from the layer.
class ChooserDialog : public CDialog
{
public:
    ChooserDialog(const DialogTemplate &tmpl, int checkedEntry, int checkedQuality)
        : CDialog(tmpl)
        , checkedEntry_(checkedEntry)
        , checkedQuality_(checkedQuality)
    {}

    bool OnInitDialog() override
    {
        if (checkedEntry_ >= 0) {
            CheckDlgButton(kChooserEntry + checkedEntry_, 1);
        }
        if (checkedQuality_ >= 0) {
            CheckDlgButton(kChooserQuality + checkedQuality_, 1);
        }
        return true;
    }

    // The checked button of the group starting at first, -1 when none.
    int Checked(int first, int count) const
    {
        for (int i = 0; i < count; i++) {
            if (IsDlgButtonChecked(first + i)) {
                return i;
            }
        }
        return -1;
    }

private:
    int checkedEntry_;
    int checkedQuality_;
};

struct Layout
{
    std::vector<std::string> texts; // reserved up front: the controls point into it
    std::vector<ControlTemplate> controls;
    int y = kMargin;
};

void AddRadios(Layout &l, int firstId, int count, const char *const *names)
{
    for (int i = 0; i < count; i++) {
        l.texts.emplace_back(names[i]);
        l.controls.push_back({firstId + i, ControlKind::RadioButton, l.texts.back().c_str(),
                              kMargin, l.y, kWidth - 2 * kMargin, 10,
                              i == 0 ? unsigned(kGroup) : 0u});
        l.y += kRow;
    }
}

// Runs the dialog on the GUI thread; the chosen entry and quality, or false on cancel.
bool RunChooser(const char *caption, const std::vector<const char *> &entries, int checkedEntry,
                bool withQuality, int checkedQuality, int *entry, int *quality)
{
    Layout l;
    l.texts.reserve(entries.size() + kChooserQualityCount + 1);
    AddRadios(l, kChooserEntry, int(entries.size()), entries.data());
    if (withQuality) {
        l.y += 4;
        l.texts.emplace_back("Quality:");
        l.controls.push_back({0, ControlKind::Static, l.texts.back().c_str(), kMargin, l.y,
                              kWidth - 2 * kMargin, 10, kGroup});
        l.y += kRow;
        AddRadios(l, kChooserQuality, kChooserQualityCount, kQualityNames);
    }
    l.y += 4;
    l.controls.push_back({IDOK, ControlKind::DefaultButton, "OK", kWidth - 2 * 50 - kMargin - 4,
                          l.y, 50, 14, kGroup});
    l.controls.push_back(
        {IDCANCEL, ControlKind::Button, "Cancel", kWidth - 50 - kMargin, l.y, 50, 14, 0});
    const DialogTemplate tmpl{"COMPRESSION_CHOOSER", caption,           kWidth, l.y + 14 + kMargin,
                              l.controls.data(),     l.controls.size(), 0};

    bool ok = false;
    CallOnGui([&] {
        ChooserDialog dlg(tmpl, checkedEntry, checkedQuality);
        CDialog *outer = gOpenChooser;
        gOpenChooser = &dlg;
        ok = dlg.DoModal() == IDOK;
        gOpenChooser = outer;
        *entry = dlg.Checked(kChooserEntry, int(entries.size()));
        *quality = withQuality ? dlg.Checked(kChooserQuality, kChooserQualityCount) : -1;
    });
    return ok;
}

bool ChooseImageSettings(const CodecNameSpec *encoders, int count, const ScImageSettings &current,
                         ScImageSettings *chosen)
{
    if (!chosen || (count > 0 && !encoders)) {
        return false;
    }
    std::vector<const char *> names;
    int checked = -1;
    for (int i = 0; i < count; i++) {
        names.push_back(encoders[i].typeName);
        if (checked < 0 && encoders[i].cType == current.codecType) {
            checked = i;
        }
    }
    int level = -1;
    for (int j = 0; j < kChooserQualityCount; j++) {
        if (kQualityLevels[j] <= current.spatialQuality) {
            level = j;
        }
    }
    int entry = -1;
    int quality = -1;
    if (!RunChooser("Compression Settings", names, checked, true, level, &entry, &quality)) {
        return false;
    }
    *chosen = current;
    if (entry >= 0) {
        chosen->codecType = encoders[entry].cType;
    }
    // A quality between the levels stays as it was unless the user picks another level.
    if (quality >= 0 && quality != level) {
        chosen->spatialQuality = kQualityLevels[quality];
    }
    return true;
}

bool ChooseCompressor(void * /*owner*/, const ICINFO *compressors, int count, int current,
                      const char *title, int *chosen)
{
    if (!chosen || count <= 0 || !compressors) {
        return false;
    }
    std::vector<const char *> names;
    for (int i = 0; i < count; i++) {
        names.push_back(compressors[i].szDescription);
    }
    const int checked = current >= 0 && current < count ? current : 0;
    int entry = -1;
    int quality = -1;
    if (!RunChooser(title && *title ? title : "Video Compression", names, checked, false, -1,
                    &entry, &quality)) {
        return false;
    }
    *chosen = entry >= 0 ? entry : checked;
    return true;
}

} // namespace

void InstallCompressionChoosers()
{
    // One installed before (a headless runner's scripted answers) stays.
    if (ImageSettingsChooser before = SetImageSettingsChooser(ChooseImageSettings)) {
        SetImageSettingsChooser(before);
    }
    if (CompressorChooser before = SetCompressorChooser(ChooseCompressor)) {
        SetCompressorChooser(before);
    }
}

CDialog *OpenCompressionChooser()
{
    return gOpenChooser;
}

} // namespace lc::ui
