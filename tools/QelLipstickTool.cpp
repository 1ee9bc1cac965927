#include "QelLipstickTool.h"

#include "QelLocalizer.h"

namespace {

constexpr TQelGuid SettingsGuid = TQelGuid::Parse("{71975188-C192-4136-A3D0-25A2AFF45335}");
constexpr int32_t TextName = 2611;

}  // namespace

void TQelLipstickTool::Create() {
    TQelMakeUpSurfaceTool::Create();
    ApplyPreset(191, 255, ModeNormal);
}

void TQelLipstickTool::Localize() {
    TQelMakeUpSurfaceTool::Localize();
    LocalizePreset(TextName);
}

TQelGuid TQelLipstickTool::GetSettingsGUID() const { return SettingsGuid; }

void TQelLipstickTool::CreateToolbarItemAndFrame() {
    CreateItemAndFrame<TQelLipstickFrame>("Lipstick", QelText(TextName));
}
