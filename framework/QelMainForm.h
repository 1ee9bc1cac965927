// The main window: an empty shell with menu bar, docks, status bar and image
// list that the modules fill at start-up through a small set of operations.
#pragma once

#include <QAction>
#include <QIcon>
#include <QKeySequence>
#include <QMainWindow>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "QelForms.h"

class QDockWidget;
class QLabel;
class QMenu;
class QMenuBar;
class QStatusBar;
class QToolBar;

// The pictures modules ask for by name (TMainForm::AddImage), each a picture
// file. The framework names none: the composition root registers them.
void QelRegisterImageResource(const QString& Name, const QString& FileName);
// The file registered under Name; empty when none is.
QString QelImageResourceFile(const QString& Name);

// A list of button and menu images addressed by index. Indices without an
// image hold a null icon, so the indices stay those of the image files.
class TQelImageList {
public:
    explicit TQelImageList(QSize imageSize = QSize(24, 24));

    QSize ImageSize() const { return FImageSize; }
    int Count() const { return int(FIcons.size()); }
    // A null icon outside the list.
    QIcon Icon(int index) const;
    // Appends; returns the new image's index.
    int Add(const QIcon& icon);
    // Appends the image in FileName (SVG, PNG, BMP, ...). A picture without
    // an alpha channel takes the colour of its top-left pixel as
    // transparent. Returns the new index, or -1 (list unchanged) when the
    // file cannot be read.
    int AddFromFile(const QString& fileName);
    // Fills the list from the files "NN.svg" / "NN.png" in Folder (a
    // resource folder), each at index NN; missing indices stay empty.
    void LoadIndexed(const QString& folder);
    void Clear() { FIcons.clear(); }

    // Gives Action the image at Index (no image for -1 or a gap) and
    // remembers the index.
    void SetActionImage(QAction* action, int index) const;
    // The index last given by SetActionImage; -1 when none.
    static int ActionImageIndex(const QAction* action);

private:
    QSize FImageSize;
    std::vector<QIcon> FIcons;
};

// The status bar's panels: index-addressed labels of fixed width, left to
// right. A panel may hold a control (the progress bar) instead of text.
class TQelStatusPanels {
public:
    explicit TQelStatusPanels(QStatusBar* statusBar);

    // Appends a panel Size pixels wide; returns its index.
    int Add(int size, Qt::Alignment alignment = Qt::AlignLeft, bool framed = false);
    int Count() const { return int(FPanels.size()); }
    QLabel* Panel(int index) const;

    QString Caption(int index) const;
    // Idle updates call this often; the label changes only when the text does.
    void SetCaption(int index, const QString& text);
    int Size(int index) const;
    void SetSize(int index, int size);
    // Control fills the panel from now on; the panel takes ownership.
    void SetControl(int index, QWidget* control);

private:
    QStatusBar* FStatusBar;
    std::vector<QLabel*> FPanels;
};

// The platform's window-placement record as it is kept in the settings
// file: eleven little-endian 32-bit integers, 44 bytes.
struct TQelWindowPlacement {
    static constexpr int RecordSize = 44;
    static constexpr int32_t ShowNormal = 1;
    static constexpr int32_t ShowMaximized = 3;

    int32_t Length = RecordSize;
    int32_t Flags = 0;
    int32_t ShowCmd = ShowNormal;
    int32_t MinX = -1;
    int32_t MinY = -1;
    int32_t MaxX = -1;
    int32_t MaxY = -1;
    // The normal (not maximised) rectangle; right and bottom exclusive.
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;

    std::array<uint8_t, RecordSize> ToBytes() const;
    static TQelWindowPlacement FromBytes(const std::array<uint8_t, RecordSize>& bytes);
};

// Rect moved (and, when larger, shrunk) so that it lies inside Area.
QRect QelClampRectToArea(const QRect& rect, const QRect& area);
// Rect kept inside the available area of the screen it is mostly on (the
// primary screen when it is on none).
QRect QelClampRectToScreen(const QRect& rect);

class TMainForm : public TQelForm<QMainWindow> {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    void Create() override;

    // Operations for the modules. Parent null means the menu bar; the new
    // item goes before Before when Before is among Parent's items, else it
    // is appended. Parent may also be a toolbar.
    QAction* AddMenuItem(const QString& caption, const QKeySequence& shortCut, const TQelNotifyEvent& onClick,
                         int imageIndex, QWidget* parent, QAction* before);
    QMenu* AddSubmenu(const QString& caption, QWidget* parent, QAction* before);
    QAction* AddSeparator(QWidget* parent, QAction* before);
    // A toolbar in the top area and its show/hide toggle under Toolbars.
    QToolBar* AddToolbar(const QString& caption);
    // An item of class T (a QAction) in Toolbar. Item is set as soon as the
    // item exists, to null when its creation throws.
    template <class T = QAction>
    T* AddToolButton(QWidget* toolbar, T*& item, const TQelNotifyEvent& onClick, int imageIndex,
                     const QString& caption, QAction* before, const TQelImageList* images) {
        item = nullptr;
        item = new T(toolbar);
        SetupToolButton(toolbar, item, onClick, imageIndex, caption, before, images);
        return item;
    }
    // A dockable panel owned by the main window, not yet in a dock area.
    QDockWidget* AddDockablePanel();
    // Appends the named picture (see QelRegisterImageResource) to
    // GetImages(); its index, or -1 when no picture has that name or its
    // file cannot be read.
    int AddImage(const QString& resourceName);
    // The program's toolbar image list when set, else the window's own.
    TQelImageList* GetImages();

    TQelStatusPanels& StatusPanels() { return *FStatusPanels; }

    TQelWindowPlacement GetWindowPlacement() const;
    // Applied before the window is shown; the rectangle is kept on screen.
    void SetWindowPlacement(const TQelWindowPlacement& placement);

    void Localize() override;
    void Initialize() override;
    void UpdateControls() override;
    void LoadSettings(TQelSDFReader& reader) override;
    void SaveSettings(TQelSDFWriter& writer) override;

    void LanguageMenuItemClick(QObject* sender);
    void ExitMenuItemClick(QObject* sender);
    void UpdateToolbarToggleCaptions();

    // The design's items; other modules insert relative to them.
    QMenuBar* Menu = nullptr;
    QMenu* FileMenuItem = nullptr;
    QAction* FileMenuSeparator = nullptr;
    QAction* ExitMenuItem = nullptr;
    QMenu* ViewMenuItem = nullptr;
    QMenu* ToolbarsMenuItem = nullptr;
    QAction* ViewMenuSeparator = nullptr;
    QMenu* LanguageMenuItem = nullptr;
    QMenu* HelpMenuItem = nullptr;
    QStatusBar* StatusBar = nullptr;
    // Used only while no program image list is set.
    TQelImageList DefaultImages;

    std::function<void(const QString& fileName)> OnDropFile;
    TQelNotifyEvent OnUpdateControls;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void SetupToolButton(QWidget* toolbar, QAction* item, const TQelNotifyEvent& onClick, int imageIndex,
                         const QString& caption, QAction* before, const TQelImageList* images);

    std::unique_ptr<TQelStatusPanels> FStatusPanels;
};

// The one main window, created by the composition root.
extern TMainForm* MainForm;

// The image list the main window gives to menu items and toolbars; set by
// the composition root.
extern TQelImageList* ToolbarImages;
