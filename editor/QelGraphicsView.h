// The view that shows a graphics document scrolled and zoomed, the zoom
// steps, and the view object that paints the document's image.
#pragma once

#include "QelGraphicsDocument.h"

// --- View ----------------------------------------------------------------------

// The zoom steps, smallest first.
struct TQelZoomStep {
    int32_t Numerator;
    int32_t Denominator;
};
constexpr int32_t QelZoomStepCount = 21;
extern const TQelZoomStep QelZoomSteps[QelZoomStepCount];

// The view object that paints the document's current image.
class TQelGraphicDocumentView : public TQelViewObject {
public:
    explicit TQelGraphicDocumentView(TQelGraphicsDocument* Document) : FDocument(Document) {}

    void Create() override;
    void Reset() override;
    // Bounds := the image's, after its size changed.
    void UpdateBounds();
    // Paints the document's work rectangle only.
    void PaintBody(TQelViewCanvas& Canvas) override;

private:
    TQelGraphicsDocument* FDocument;
};

// Shows one graphics document, scrolled and zoomed, and hands mouse, wheel,
// key and cursor input to the tool controls from the topmost down until one
// uses it. The document owns the view.
class TQelGraphicsView : public TQelScrollViewControl, public IQelDocumentListener {
    Q_OBJECT
public:
    explicit TQelGraphicsView(TQelGraphicsDocument* Document, QWidget* Parent = nullptr);
    ~TQelGraphicsView() override;

    void Create() override;

    void DocumentLoaded(TQelDocument* Document) override;
    void DocumentClosed(TQelDocument* Document) override;

    // Scale Numerator/Denominator, keeping the image point at the client
    // centre. A numerator or denominator below 1 changes nothing.
    void Zoom(int32_t Numerator, int32_t Denominator);
    // -1, 0 or +1 as Numerator/Denominator is below, at or above the
    // present scale, compared in thousandths.
    int32_t CompareScale(int32_t Numerator, int32_t Denominator) const;
    void ZoomIn();
    void ZoomOut();
    void ActualSize();
    void BestFit();
    // Actual size when the image fits, else best fit. Like BestFit, it waits
    // for the first size when the view has none yet.
    void FitView();

    // The pixel under an image point; black outside the image.
    void GetPixelAt(const TQelPoint& ImagePoint, TQelRGBTriple& Triple) const;
    // A wheel movement of Delta units (Qt's angle delta) at a screen point:
    // each notch it completes is one step, offered to the controls from the
    // topmost, else the default handling. True when handled, and for part
    // of a notch, which waits for the rest.
    bool DispatchWheel(TShiftState Shift, int32_t Delta, const QPoint& ScreenPoint);
    // Asks the controls for the cursor under the pointer and shows it.
    void UpdateCursor();
    // Takes the focus when the main window is the active one.
    void SetFocus();

    TQelGraphicsDocument* Document() const { return FDocument; }

    TQelGraphicDocumentView* DocumentObject = nullptr;
    bool ButtonDown = false;
    TQelPoint LastPoint;
    bool MouseInside = false;

protected:
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void KeyDown(uint16_t& Key, TShiftState Shift) override;
    void KeyUp(uint16_t& Key, TShiftState Shift) override;
    // A key some tool control claims.
    bool ClaimsKey(uint16_t Key, TShiftState Shift) override;
    bool MouseWheel(TShiftState Shift, int32_t WheelDelta, const TQelPoint& MousePos) override;
    void MouseEnter() override;
    void MouseLeave() override;
    void resizeEvent(QResizeEvent* Event) override;
    bool event(QEvent* Event) override;

private:
    enum class TPendingFit { None, Fit, Best };

    void MouseEntered();
    void MouseLeft();
    // False when the view was freed while a control ran.
    template <class F>
    bool WalkControls(F&& Call);
    void ShowCursorAt(const TQelPoint& Point, TShiftState Shift);
    void ShowPointer(const TQelPoint& ClientPoint);
    TQelDemoPlayback* ActiveRecorder() const;
    void RecordPoint(TQelDemoPlayback* Recorder, const char* Text, const TQelPoint& P);
    // False, with the fit remembered, while the view or the image has no size.
    bool FitSizes(int32_t& W, int32_t& H, int32_t& ImageW, int32_t& ImageH, TPendingFit Fit);

    TQelGraphicsDocument* FDocument;
    TPendingFit FPendingFit = TPendingFit::None;
    int32_t FCursorId = -32768;
};
