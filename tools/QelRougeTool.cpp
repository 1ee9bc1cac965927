#include "QelRougeTool.h"

#include "QelLocalizer.h"

namespace {

constexpr TQelGuid SettingsGuid = TQelGuid::Parse("{168E5F19-8F69-4834-90F8-CD9E19D54FDB}");
constexpr int32_t TextName = 2614;

}  // namespace

void TQelRougeTool::Create() {
    TQelMakeUpSurfaceTool::Create();
    ApplyPreset(127, 16, ModeColor);
}

void TQelRougeTool::Localize() {
    TQelMakeUpSurfaceTool::Localize();
    LocalizePreset(TextName);
}

TQelGuid TQelRougeTool::GetSettingsGUID() const { return SettingsGuid; }

void TQelRougeTool::CreateToolbarItemAndFrame() {
    CreateItemAndFrame<TQelRougeFrame>("Rouge", QelText(TextName));
}
