#include "QelPowderTool.h"

#include "QelLocalizer.h"

namespace {

constexpr TQelGuid SettingsGuid = TQelGuid::Parse("{006466EE-FAB8-4E77-A4C0-84E3035A98AD}");
constexpr int32_t TextName = 2613;

}  // namespace

void TQelPowderTool::Create() {
    TQelMakeUpSurfaceTool::Create();
    ApplyPreset(127, 16, ModeNormal);
    UseDetail = false;
}

void TQelPowderTool::Localize() {
    TQelMakeUpSurfaceTool::Localize();
    LocalizePreset(TextName);
}

TQelGuid TQelPowderTool::GetSettingsGUID() const { return SettingsGuid; }

void TQelPowderTool::CreateToolbarItemAndFrame() {
    CreateItemAndFrame<TQelPowderFrame>("Powder", QelText(TextName));
}
