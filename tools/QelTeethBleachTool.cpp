#include "QelTeethBleachTool.h"

#include <QLabel>
#include <QSlider>
#include <QToolButton>

#include "QelLocalizer.h"

namespace {

constexpr TQelGuid SettingsGuid = TQelGuid::Parse("{07B44135-CA6E-4F34-9A26-AD7536DA49C0}");
constexpr int32_t TextName = 2615;

}  // namespace

void TQelTeethBleachTool::Create() {
    TQelMakeUpSurfaceTool::Create();
    ApplyPreset(127, 32, ModeNormal);

    // Only the size is left to choose: the colour is white.
    UseDetail = false;
    SetPickMode(false, false);
    Frame->ColorSelectorTntSpeedButton->hide();
    Frame->BrightnessTBXLabel->hide();
    SetBrightnessPosition(255);
    Frame->BrightnessTrackBar->hide();
    Frame->TBXAlignmentPanel->hide();
    Frame->TBXAlignmentPanel1->hide();
    Frame->PaletteTntPaintBox->hide();
    Palette.SetColor(0xFFFFFF);
}

void TQelTeethBleachTool::Localize() {
    TQelMakeUpSurfaceTool::Localize();
    LocalizePreset(TextName);
}

TQelGuid TQelTeethBleachTool::GetSettingsGUID() const { return SettingsGuid; }

void TQelTeethBleachTool::CreateToolbarItemAndFrame() {
    CreateItemAndFrame<TQelTeethBleachFrame>("TeethBleach", QelText(TextName));
}
