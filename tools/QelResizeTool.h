// The resize tool: a new pixel size for the whole image (current and
// original), optionally keeping the aspect ratio, with one undo step.
#pragma once

#include <QAction>
#include <QPointer>
#include <QSpinBox>

#include <cstdint>

#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelToolFrameParts.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QToolButton;
class TQelResizeTool;

// An edit with an up-down: any integer may be typed (so 0 and negative
// numbers reach the tool), the arrows stay within 1..32767.
class TQelSizeEdit : public QSpinBox {
    Q_OBJECT
public:
    static constexpr int32_t UpDownMin = 1;
    static constexpr int32_t UpDownMax = 32767;

    explicit TQelSizeEdit(QWidget* Parent = nullptr);
    void stepBy(int Steps) override;

protected:
    StepEnabled stepEnabled() const override;
};

class TQelResizeFrame : public TQelFrame {
    Q_OBJECT
public:
    explicit TQelResizeFrame(QWidget* Parent = nullptr);

    void Create() override;

    void WidthEditChange(int Value);
    void HeightEditChange(int Value);
    void ConstrainProportionsCheckBoxChange(bool Checked);
    void OkButtonClick();
    void CancelButtonClick();
    void ShowOptionsButtonClick();

    QLabel* TitleLabel = nullptr;
    QWidget* SizePanel = nullptr;
    QLabel* NewSizeLabel = nullptr;
    QLabel* WidthLabel = nullptr;
    TQelSizeEdit* WidthEdit = nullptr;
    QLabel* HeightLabel = nullptr;
    TQelSizeEdit* HeightEdit = nullptr;
    QCheckBox* ConstrainProportionsCheckBox = nullptr;
    QLabel* ConstrainProportionsLabel = nullptr;
    QWidget* OkPanel = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QToolButton* ShowOptions = nullptr;
    QPointer<TQelResizeTool> Tool;
};

class TQelResizeTool : public TQelFramedTool {
    Q_OBJECT
public:
    TQelResizeTool();
    ~TQelResizeTool() override;

    void Create() override;
    void Localize() override;
    void UpdateControls() override;
    void RegisterDemoTargets() override;
    void CommitModification() override {}
    void DocumentOpened(TQelGraphicsDocument* Document) override;
    void Activate() override;

    // The active document's image size; 1 x 1 without a document.
    int32_t ImageWidth() const;
    int32_t ImageHeight() const;
    // Sides below 1 become 1; with proportions on the other side follows,
    // at least 1 and not limited from above.
    void SetNewWidth(int32_t Value);
    void SetNewHeight(int32_t Value);
    // Switched on: the image's aspect ratio fitted into the present size.
    void SetProportional(bool Value);
    void SetOptionsShown(bool Value);
    // The image's own size (nothing without a document); the edits follow.
    void ResetSizeToImage();
    // Resamples the active document to the new size. All or nothing: a
    // failure leaves the images, the history and the editor as they were,
    // and the error goes on.
    void Apply();
    // The edits and the check box show the tool's values.
    void ShowValues();

    TQelResizeFrame* Frame = nullptr;
    bool OptionsShown = false;
    int32_t NewWidth = 1;
    int32_t NewHeight = 1;
    bool Proportional = false;
};

// Full copies of the current and original images before the resize.
class TQelResizeCommandState : public TQelCustomGraphicsCommandState {
public:
    // Raises EQelOutOfMemory when a copy cannot be held.
    TQelResizeCommandState(TQelGraphicsTool* Tool, TQelGraphicsDocument* Document, int32_t Width, int32_t Height);

    void Undo() override;
    void Redo() override;

    int32_t Width;
    int32_t Height;
    TQelPixelBuffer Image;
    TQelPixelBuffer Original;
};

extern TQelResizeTool* ResizeTool;
