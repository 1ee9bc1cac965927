// The make-up surface tool: a soft round brush that recolours what a stroke
// covers towards the palette colour. In Normal mode with the detail layer
// the colour replaces the local mean and the detail is added back, so the
// texture of the skin survives. The presets (lipstick, eye colour, powder,
// rouge, teeth bleach) fix its brush and blend mode.
#pragma once

#include <QByteArray>
#include <QMetaObject>
#include <QPointer>

#include <cstdint>
#include <memory>

#include "MakeUpPalette.h"
#include "QelClasses.h"
#include "QelDrawTools.h"
#include "QelMakeUpSurfaceFrame.h"
#include "QelToolFrameParts.h"
#include "QelToolPanel.h"

class QAction;
class QSlider;

class TQelMakeUpSurfaceTool : public TQelFramed<TQelCustomBlurBrushTool> {
    Q_OBJECT
public:
    // Blend rules.
    static constexpr int32_t ModeNormal = 0;
    static constexpr int32_t ModeLuminosity = 1;
    static constexpr int32_t ModeColor = 2;

    TQelMakeUpSurfaceTool();
    ~TQelMakeUpSurfaceTool() override;

    void Create() override;
    void Localize() override;
    void LoadSettings(TQelSDFReader& Reader) override;
    void SaveSettings(TQelSDFWriter& Writer) override;
    void UpdateControls() override;
    // Nothing in pick mode: a pick leaves no undo step.
    void CommitModification() override;
    void DocumentOpened(TQelGraphicsDocument* Document) override;
    // The detail layer goes with the document it was built for.
    void DocumentClosing(TQelGraphicsDocument* Document) override;
    void RegisterDemoTargets() override;
    // Any change but a make-up stroke (or its undo and redo) makes the
    // detail layer stale.
    void ImageChanged(TQelGraphicsDocument* Document, TQelGraphicsTool* Tool, const TQelRect& Rect) override;
    // A stroke that uses the detail layer builds it first when it is stale
    // or of another size; in pick mode the press picks the colour.
    bool BeginDraw(TQelDrawToolControl* Control, TMouseButton Button, TShiftState Shift) override;
    void PaintRect(const TQelRect& Rect) override;
    void EndDraw() override;

    virtual TQelGuid GetSettingsGUID() const;
    // The tool panel's button, the options frame and the tool's name.
    virtual void CreateToolbarItemAndFrame();

    // 0, 1 or 2; the same value changes nothing.
    void SetMode(int32_t Value);
    // The palette marker to (X, Y), kept inside the plane.
    void SetPalettePoint(int32_t X, int32_t Y);
    void SetPickMode(bool On, bool RefreshCursor = true);
    // Alt+P: the pick mode turned over, and recorded.
    void TogglePickMode();
    int16_t GetCursorId() const;
    // The palette takes the mean of the unchanged image around Point.
    void PickColor(const TQelPoint& Point);
    // The palette level takes the brightness of that mean.
    void SetLevelFromImage(const TQelPoint& Point);
    void SetBrightnessPosition(int32_t Value);
    // The stroke's coverage blends Rect of the image towards the palette
    // colour, from the backup.
    void BlendRect(const TQelRect& Rect);
    // Builds the shared detail layer of Document's backup under the
    // hourglass. A failure frees
    // the layer; it is reported once, until a build succeeds or the image
    // changes, and otherwise passed over.
    void BuildLayer(TQelGraphicsDocument& Document);
    bool UsesDetail() const { return Mode == ModeNormal && UseDetail; }
    // The palette colour in the R, G and B status panels.
    void ShowColor() const;
    // Records the move to the element Name + Suffix, then its line.
    void RecordUICommand(const char* Suffix, const QByteArray& Value = QByteArray());

    QPointer<TQelMakeUpSurfaceFrame> Frame;
    TMakeUpPalette Palette;
    bool PickMode = false;
    int32_t Mode = ModeNormal;
    bool UseDetail = true;
    QPointer<QSlider> BrightnessTrackBar;

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

    // The button and a frame of class TFrame for a tool named ToolName;
    // without a tool panel the tool keeps the frame itself. The composition
    // root gives the button its image.
    template <class TFrame>
    void CreateItemAndFrame(const QByteArray& ToolName, const QString& Caption);
    // A preset's brush and blend mode; the Color presets tint the palette
    // and put the brightness at full.
    void ApplyPreset(int32_t NewHardness, int32_t NewOpacity, int32_t NewMode);
    // A preset's caption, hint and frame title.
    void LocalizePreset(int32_t TextId);

private:
    void BrightnessTrackBarChange(int32_t Position);
    void RefreshCursor();

    QMetaObject::Connection FBrightnessConnection;
    std::unique_ptr<TQelMakeUpSurfaceFrame> FOwnFrame;
};

template <class TFrame>
void TQelMakeUpSurfaceTool::CreateItemAndFrame(const QByteArray& ToolName, const QString& Caption) {
    TFrame* frame = nullptr;
    if (!AddFrame(frame)) {
        frame = QelCreateFrame<TFrame>(nullptr);
        FOwnFrame.reset(frame);
    }
    Frame = frame;
    Name = ToolName;
    AddButton(Caption);
}

// The tool's control on a view: the brush outline, the colour pick outside
// strokes, the lazy build of the detail layer, and Alt+P.
class TQelMakeUpSurfaceToolControl : public TQelBrushToolControl {
public:
    // Body and overlay, never counted in the view's extent.
    void Reset() override;
    bool GetCursor(TShiftState Shift, const TQelPoint& Point, int16_t& Cursor) override;
    bool MouseDown(TMouseButton Button, TShiftState Shift, const TQelPoint& Point) override;
    bool MouseMove(TShiftState Shift, const TQelPoint& Point) override;
    bool KeyDown(uint16_t& Key, TShiftState Shift) override;
    // Alt+P, ahead of a menu that uses the letter.
    bool ClaimsKey(uint16_t Key, TShiftState Shift) override;

    TQelMakeUpSurfaceTool* MakeUpTool() const;
};
