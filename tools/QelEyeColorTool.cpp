#include "QelEyeColorTool.h"

#include "QelLocalizer.h"

namespace {

constexpr TQelGuid SettingsGuid = TQelGuid::Parse("{FE93CBD7-F887-4BF6-B765-5D5AF619F0DD}");
constexpr int32_t TextName = 2612;

}  // namespace

void TQelEyeColorTool::Create() {
    TQelMakeUpSurfaceTool::Create();
    ApplyPreset(191, 255, ModeColor);
}

void TQelEyeColorTool::Localize() {
    TQelMakeUpSurfaceTool::Localize();
    LocalizePreset(TextName);
}

TQelGuid TQelEyeColorTool::GetSettingsGUID() const { return SettingsGuid; }

void TQelEyeColorTool::CreateToolbarItemAndFrame() {
    CreateItemAndFrame<TQelEyeColorFrame>("EyeColor", QelText(TextName));
}
