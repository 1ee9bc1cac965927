// The options frame of the brush tools: title, brush preview, size, opacity
// and hardness, rows of the tool's own, and the link that shows and hides the
// options; and the steps every such tool takes with it.
#pragma once

#include <QPointer>

#include <cstdint>
#include <functional>
#include <vector>

#include "QelDrawTools.h"
#include "QelForms.h"

class QLabel;
class QSlider;
class QToolButton;
class QVBoxLayout;

class TQelBrushFrame : public TQelFrame {
    Q_OBJECT
public:
    explicit TQelBrushFrame(QWidget* Parent = nullptr);

    void Create() override;

    // Shown only while the tool shows its options.
    virtual std::vector<QWidget*> OptionRows() const;

    QLabel* TitleLabel = nullptr;
    QWidget* PreviewAlignmentPanel = nullptr;
    TQelPaintBox* PreviewPaintBox = nullptr;
    QLabel* SizeLabel = nullptr;
    QSlider* SizeTrackBar = nullptr;
    QLabel* OpacityLabel = nullptr;
    QSlider* OpacityTrackBar = nullptr;
    QLabel* HardnessLabel = nullptr;
    QSlider* HardnessTrackBar = nullptr;
    QToolButton* ShowOptions = nullptr;

protected:
    // The tool's own rows, between the hardness and the link.
    virtual void CreateRows() {}
    // Widget, named Name, as the next row.
    template <class W>
    W* AddRow(W* Widget, const char* Name) {
        Widget->setObjectName(QLatin1String(Name));
        AddRowWidget(Widget);
        return Widget;
    }

private:
    void AddRowWidget(QWidget* Widget);
};

// The preview and the three track bars bound to Tool; the link calls
// ShowOptionsClick.
void QelBindBrushFrame(TQelBrushTool* Tool, TQelBrushFrame* Frame, std::function<void()> ShowOptionsClick);
// Text Id (Default when the language has none) and a colon: a row's label.
QString QelRowLabel(int32_t Id, const char* Default);
// The title and the size, opacity and hardness labels.
void QelLocalizeBrushFrame(TQelBrushFrame* Frame, const QString& Title);
// The option rows and the link as Shown says.
void QelArrangeBrushFrame(TQelBrushFrame* Frame, bool Shown);
// The link as the element NAME+"OPTIONS" (with a frame), and the commands
// NAME+"SHOWOPTIONS" and NAME+"HIDEOPTIONS" calling Setter.
void QelRegisterShowOptions(const QByteArray& Name, TQelBrushFrame* Frame, std::function<void(bool)> Setter);
