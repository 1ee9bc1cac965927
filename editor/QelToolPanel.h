// The tool panel: the dockable panel that holds the wrapping toolbar of
// tool buttons and, below it, the options frame of the current tool.
#pragma once

#include <QAction>
#include <QDockWidget>
#include <QHash>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "QelForms.h"
#include "QelModule.h"

class QStackedWidget;
class QScrollArea;

// A toolbar that wraps its buttons into as many rows as its width needs.
// Its items are the widget's actions (insertAction), as with QToolBar. A
// separator that does not fit into the rest of a row starts a new row and
// takes no room; a separator as wide as 1000 therefore always breaks.
class TQelWrapToolbar : public QWidget {
    Q_OBJECT
public:
    explicit TQelWrapToolbar(QWidget* parent = nullptr);

    bool Wrap() const { return FWrap; }
    void SetWrap(bool value);
    QSize IconSize() const { return FIconSize; }
    void SetIconSize(QSize size);
    // The width a separator takes; the default is a thin line.
    void SetSeparatorSize(QAction* separator, int size);
    int SeparatorSize(QAction* separator) const;

    // The button of an action; null for separators and foreign actions.
    QWidget* WidgetForAction(QAction* action) const;
    // The rows of the current layout.
    int RowCount() const { return FRowCount; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Called after every change of the toolbar's size.
    std::function<void()> OnResize;

protected:
    void actionEvent(QActionEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct TItem {
        QAction* Action;
        QWidget* Widget;
    };
    // Places the items for Width; only measures when Apply is false.
    // Returns the height the items need.
    int DoLayout(int width, bool apply, int* rows) const;
    // Keeps the height right for the current width after items change.
    void Relayout();

    std::vector<TItem> FItems;
    QHash<QAction*, int> FSeparatorSizes;
    QSize FIconSize;
    bool FWrap;
    int FRowCount;
};

// The frame at the top of the panel that holds the toolbar.
class TQelToolFrame : public TQelFrame {
    Q_OBJECT
public:
    explicit TQelToolFrame(QWidget* parent = nullptr);

    void Create() override;
    // The frame follows the toolbar's height as it wraps into more rows.
    void ToolbarResize();

    TQelWrapToolbar* Toolbar = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

// The 47-byte panel state record of the settings file.
struct TQelPanelState {
    static constexpr int RecordSize = 47;

    int32_t Size = RecordSize;
    bool Visible = false;
    bool Floating = false;
    int32_t FloatingLeft = 0;
    int32_t FloatingTop = 0;
    int32_t FloatingWidth = 0;
    int32_t FloatingHeight = 0;
    // 0 top, 1 bottom, 2 left, 3 right.
    uint8_t DockPosition = 0;
    int32_t DockPos = 0;
    int32_t DockRow = 0;
    int32_t DockedWidth = 0;
    int32_t DockedHeight = 0;
    int32_t SplitWidth = 0;
    int32_t SplitHeight = 0;

    std::array<uint8_t, RecordSize> ToBytes() const;
    static TQelPanelState FromBytes(const std::array<uint8_t, RecordSize>& bytes);
};

class TQelToolPanelModule : public TQelModuleWithControls {
    Q_OBJECT
public:
    TQelToolPanelModule();
    ~TQelToolPanelModule() override;

    void Create() override;

    // A tool's options frame in the panel, below the tool frame, scrolling
    // when the panel is too small for it. Frame is null when its creation
    // throws; the exception goes on.
    template <class T>
    T* CreateToolFrame(T*& frame) {
        frame = nullptr;
        QScrollArea* host = NewFrameHost();
        try {
            frame = QelCreateFrame<T>(nullptr);
        } catch (...) {
            DropFrameHost(host);
            throw;
        }
        AttachFrame(host, frame);
        return frame;
    }
    // Shows Frame's page of the panel.
    void BringToFront(QWidget* frame);

    // Ignored below the width already asked for; otherwise the panel is
    // exactly Width wide from now on.
    void SetPanelWidth(int width);
    void SetToolbarWrap();
    void ToggleVisibleClick(QObject* sender);
    bool IsPanelVisible() const;

    void Localize() override;
    void UpdateControls() override;
    void LoadSettings(TQelSDFReader& reader) override;
    void SaveSettings(TQelSDFWriter& writer) override;

    static bool SavePanelState(QDockWidget* panel, TQelPanelState& state);
    static bool RestorePanelState(QDockWidget* panel, const TQelPanelState& state);
    // The dock area of a position byte (2 left, 3 right), or no area for a
    // position this panel may not use.
    static Qt::DockWidgetArea FindPanelDock(QDockWidget* panel, int position);

    QPointer<QAction> VisibleMenuItem;
    QPointer<QDockWidget> Panel;
    TQelWrapToolbar* Toolbar = nullptr;
    QPointer<TQelToolFrame> ToolFrame;

private:
    QScrollArea* NewFrameHost();
    void DropFrameHost(QScrollArea* host);
    void AttachFrame(QScrollArea* host, QWidget* frame);

    QPointer<QStackedWidget> FFrames;
    // The frames belong to this module, not to the window they sit in.
    std::vector<QPointer<QWidget>> FOwnedFrames;
    int FMinClientWidth;
};

// The tool panel module, when the program has one.
extern TQelToolPanelModule* ToolPanelModule;
