// The rotate and flip tool: quarter turns and mirrors of the whole document
// (current and original image, selection, lossless JPEG session), each one
// undo step that undoes by the inverse operation and keeps no pixels.
#pragma once

#include <QAction>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <memory>

#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelToolFrameParts.h"

class QLabel;
class QPushButton;
class QRadioButton;
class QToolButton;
class TQelRotateTool;

// Operation codes, kept by the tool and its undo states.
constexpr uint8_t QelRotateLeft = 1;
constexpr uint8_t QelRotateRight = 2;
constexpr uint8_t QelFlipHorizontal = 3;
constexpr uint8_t QelFlipVertical = 4;

// The operation that takes Operation back.
uint8_t QelInverseRotation(uint8_t Operation);

class TQelRotateFrame;

// The 176 x 150 box the preview thumbnail is drawn in, centred.
class TQelThumbnailView : public QWidget {
    Q_OBJECT
public:
    explicit TQelThumbnailView(TQelRotateFrame* Frame, QWidget* Parent);

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    TQelRotateFrame* FFrame;
};

class TQelRotateFrame : public TQelFrame {
    Q_OBJECT
public:
    explicit TQelRotateFrame(QWidget* Parent = nullptr);
    ~TQelRotateFrame() override;

    void Create() override;

    void RotateLeftButtonClick();
    void RotateRightButtonClick();
    void FlipHorizontalButtonClick();
    void FlipVerticalButtonClick();
    void RotateRadioButtonChange(QRadioButton* Sender, bool Checked);
    void RotateButtonClick();
    void ShowOptionsButtonClick();
    void ThumbnailViewPaint(QPainter& Painter);

    // The operation of the checked radio button.
    uint8_t GetChoice() const;
    // The document's image fitted into the thumbnail box, made only while
    // the tool is active and the preview shows.
    void PrepareThumbnail(TQelGraphicsDocument* Document);
    // The thumbnail with the chosen operation applied; an empty box when
    // there is no thumbnail.
    void UpdatePreview();

    QLabel* TitleLabel = nullptr;
    QPushButton* RotateRightButton = nullptr;
    QPushButton* RotateLeftButton = nullptr;
    QPushButton* FlipHorizontalButton = nullptr;
    QPushButton* FlipVerticalButton = nullptr;
    QWidget* PreviewControl = nullptr;
    QRadioButton* RotateRightRadioButton = nullptr;
    QRadioButton* RotateLeftRadioButton = nullptr;
    QRadioButton* FlipHorizontalRadioButton = nullptr;
    QRadioButton* FlipVerticalRadioButton = nullptr;
    QPushButton* RotateButton = nullptr;
    QWidget* PreviewPanel = nullptr;
    TQelThumbnailView* ThumbnailView = nullptr;
    QToolButton* ShowOptions = nullptr;
    std::unique_ptr<TQelLTBitmap> SourceThumbnail;
    std::unique_ptr<TQelLTBitmap> Preview;
    QPointer<TQelRotateTool> Tool;

private:
    bool PreviewShown() const;
};

class TQelRotateTool : public TQelFramedTool {
    Q_OBJECT
public:
    TQelRotateTool();
    ~TQelRotateTool() override;

    void Create() override;
    void Localize() override;
    void UpdateControls() override;
    void RegisterDemoTargets() override;
    // Pushes one state for the last operation; no pixels are kept.
    void CommitModification() override;
    void DocumentOpened(TQelGraphicsDocument* Document) override;
    void Activate() override;

    // A separator and the four operations at the end of the editor's
    // standard toolbar; called once by the composition root, which gives
    // them their images.
    void AddStandardToolbarButtons();
    void RotateLeft() { Perform(QelRotateLeft); }
    void RotateRight() { Perform(QelRotateRight); }
    void FlipHorizontal() { Perform(QelFlipHorizontal); }
    void FlipVertical() { Perform(QelFlipVertical); }
    // One operation as one undo step; nothing without a document or while
    // the tool may not modify. When the document cannot turn its images
    // nothing is turned, no step is kept and the error goes on.
    void Perform(uint8_t Operation);
    void RefreshPreview();
    void SetOptionsShown(bool Value);
    void ArrangeFrame();

    // The document operation of a code.
    static void ApplyOperation(TQelGraphicsDocument& Document, uint8_t Operation);

    TQelRotateFrame* Frame = nullptr;
    uint8_t LastOperation = QelRotateRight;
    bool OptionsShown = false;
    QAction* RotateRightItem = nullptr;
    QAction* RotateLeftItem = nullptr;
    QAction* FlipVerticalItem = nullptr;
    QAction* FlipHorizontalItem = nullptr;
};

class TQelRotateCommandState : public TQelCustomGraphicsCommandState {
public:
    TQelRotateCommandState(TQelGraphicsTool* Tool, TQelGraphicsDocument* Document, uint8_t Operation);

    void Undo() override;
    void Redo() override;

    uint8_t Operation;

private:
    void RefreshFrame();
};

extern TQelRotateTool* RotateTool;
