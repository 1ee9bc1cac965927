#include "QelUndoBrushTool.h"

#include <QAction>
#include <QLabel>

#include "QelDemoHooks.h"
#include "QelGraphicsEditor.h"
#include "QelLocalizer.h"
#include "QelToolFrameParts.h"
#include "QelToolPanel.h"

namespace {

constexpr TQelGuid UndoBrushSettingsGuid = TQelGuid::Parse("{F4389003-82F6-42DE-8590-E63FF2CA7BF6}");
constexpr uint32_t UndoBrushNodeId = 1;

enum : int32_t {
    TextSize = 154,
    TextUndoBrush = 2002,
};

}  // namespace

// --- TQelUndoBrushFrame ---------------------------------------------------------------

TQelUndoBrushFrame::TQelUndoBrushFrame(QWidget* Parent) : TQelBrushFrame(Parent) {}

// --- TQelUndoBrushTool ----------------------------------------------------------------

TQelUndoBrushTool::TQelUndoBrushTool()
    : TQelFramed(), Frame(), OptionsShown(false), RestoreSizeOnly(false) {}

TQelUndoBrushTool::~TQelUndoBrushTool() = default;

void TQelUndoBrushTool::Create() {
    TQelBrushTool::Create();
    Accumulate = true;
    Name = "UndoBrush";
    AddButton(QelText(TextUndoBrush, QStringLiteral("Undo Brush")));
    if (TQelUndoBrushFrame* frame = AddFrame(Frame))
        QelBindBrushFrame(this, frame, [this] { ShowOptionsButtonClick(); });
    SetHardness(255);
    SetShowOptions(false);
    SetRestoreSizeOnly(false);
}

void TQelUndoBrushTool::Localize() {
    TQelBrushTool::Localize();
    const QString title = QelText(TextUndoBrush, QStringLiteral("Undo Brush"));
    SetButtonCaption(title);
    QelLocalizeBrushFrame(Frame, title);
    ArrangeFrame();
}

void TQelUndoBrushTool::LoadSettings(TQelSDFReader& Reader) {
    TQelBrushTool::LoadSettings(Reader);
    if (!Reader.OpenNode(UndoBrushNodeId, UndoBrushSettingsGuid)) return;
    int32_t value = Size;
    if (Reader.ReadInteger(1, value)) SetSize(value);
    if (!RestoreSizeOnly) {
        value = Opacity;
        if (Reader.ReadInteger(2, value)) SetOpacity(value);
        value = Hardness;
        if (Reader.ReadInteger(3, value)) SetHardness(value);
        value = OptionsShown ? 1 : 0;
        if (Reader.ReadInteger(4, value)) SetShowOptions(value != 0);
    }
    Reader.CloseNode();
}

void TQelUndoBrushTool::SaveSettings(TQelSDFWriter& Writer) {
    TQelBrushTool::SaveSettings(Writer);
    Writer.BeginNode(UndoBrushNodeId, UndoBrushSettingsGuid);
    Writer.WriteInteger(1, Size);
    Writer.WriteInteger(2, Opacity);
    Writer.WriteInteger(3, Hardness);
    Writer.WriteInteger(4, OptionsShown ? 1 : 0);
    Writer.EndNode();
}

void TQelUndoBrushTool::UpdateControls() {
    UpdateButton();
    if (!Frame) return;
    const QString size = QelText(TextSize, QStringLiteral("Size")) + QStringLiteral(": ") + QString::number(Size);
    if (Frame->SizeLabel->text() != size) Frame->SizeLabel->setText(size);
}

void TQelUndoBrushTool::RegisterDemoTargets() {
    if (Frame) QelRegisterShowOptions(Name, Frame, [this](bool v) { SetShowOptions(v); });
    TQelFramed::RegisterDemoTargets();
}

void TQelUndoBrushTool::SetShowOptions(bool Value) {
    OptionsShown = Value;
    ArrangeFrame();
    RecordMovedLine("Options", Value ? "ShowOptions" : "HideOptions");
}

void TQelUndoBrushTool::ArrangeFrame() { QelArrangeBrushFrame(Frame, OptionsShown); }

void TQelUndoBrushTool::ShowOptionsButtonClick() { SetShowOptions(!OptionsShown); }

void TQelUndoBrushTool::PaintRect(const TQelRect& Rect) {
    TQelRect r;
    if (!GetPaintArea(Rect, r)) return;
    const TQelPixelMask& mask = GetDrawMask();
    // The document keeps the original the image's size; were it ever
    // otherwise, the pixels outside it keep the backup's colour.
    const TQelPixels* original = OriginalPixels;
    const bool haveOriginal = original && original->Bits && original->BytesPerPixel >= 3;
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
        const uint8_t* a = mask.MaskAddress(r.Left, y);
        const uint8_t* b = BackupPixels->PixelAddress(r.Left, y);
        uint8_t* p = CurrentPixels->PixelAddress(r.Left, y);
        for (int32_t x = r.Left; x < r.Right;
             ++x, ++a, b += BackupPixels->BytesPerPixel, p += CurrentPixels->BytesPerPixel) {
            const uint8_t* o = haveOriginal && original->GetBounds().Contains(x, y) ? original->PixelAddress(x, y) : b;
            const uint8_t alpha = *a;
            for (int c = 0; c < 3; ++c) p[c] = alpha == 255 ? o[c] : QelColorDetail::BlendChannel(alpha, o[c], b[c]);
        }
    }
}
