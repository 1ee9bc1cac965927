// The program's own message box, and the open and save dialogs with their
// preview panel and the thread that builds the previews.
#pragma once

#include <QDialog>
#include <QFileDialog>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "QelFileFormats.h"
#include "QelWakeUp.h"

class QCheckBox;
class QLabel;
class QPainter;
class QWidget;

// The system icons a message box can show.
constexpr int IDI_APPLICATION = 32512;
constexpr int IDI_HAND = 32513;
constexpr int IDI_QUESTION = 32514;
constexpr int IDI_EXCLAMATION = 32515;
constexpr int IDI_ASTERISK = 32516;

// The icon argument of the message box: none, an icon id (the system icons
// above, larger ids name the program's own icons) or the name of one of the
// program's own icons.
class TQelIconRef {
public:
    TQelIconRef() = default;
    TQelIconRef(int Id) : FId(Id) {}
    TQelIconRef(const QString& Name) : FName(Name) {}
    TQelIconRef(const char* Name) : FName(QString::fromUtf8(Name)) {}

    bool IsNone() const { return FId == 0 && FName.isEmpty(); }
    bool IsName() const { return !FName.isEmpty(); }
    int Id() const { return FId; }
    const QString& Name() const { return FName; }

private:
    int FId = 0;
    QString FName;
};

// Shows a box with the given buttons (none is allowed: then only the window
// frame closes it) and an optional check box, and returns the index of the
// pressed button. Closing from the frame gives 1 whatever the buttons are,
// so callers put the cancelling answer second. CheckState, when given with a
// caption, is the box's initial state and receives its final state.
int ShowMessageBox(const QString& Caption, const QString& Text, const QStringList& Buttons,
                   const TQelIconRef& Icon = TQelIconRef(),
                   const std::optional<QString>& CheckBoxCaption = std::nullopt, bool* CheckState = nullptr);

class TQelMessageBox {
public:
    TQelMessageBox() = default;
    ~TQelMessageBox() = default;
    TQelMessageBox(const TQelMessageBox&) = delete;
    TQelMessageBox& operator=(const TQelMessageBox&) = delete;

    int Execute(const QString& Caption, const QString& Text, const QStringList& Buttons, const TQelIconRef& Icon,
                const std::optional<QString>& CheckBoxCaption, bool* CheckState);
    // The box form's paint handler.
    void PaintForm(QPainter& Canvas) const;

    // Message boxes always use the platform icon size.
    static constexpr int IconSize = 32;
    // The picture for an icon argument; a null pixmap when nothing matches.
    static QPixmap LoadIcon(const TQelIconRef& Icon);

private:
    std::optional<QPixmap> FIcon;
    QString FText;
    int32_t FTextWidth = 0;
    int32_t FTextHeight = 0;
};

class TQelOpenDialog;

// Builds the open dialog's previews off the UI thread. One pending request
// slot (the latest selection wins) and the dialog's thumbnail slot share one
// lock with a generation counter that every selection change advances, so a
// preview finished for an earlier selection is never stored. The worker
// never waits for the UI thread; the UI thread waits for the worker only
// when the thread object is destroyed.
class TQelDialogPreviewThread {
public:
    explicit TQelDialogPreviewThread(TQelOpenDialog* Dialog);
    // Stops the worker and waits for it.
    ~TQelDialogPreviewThread();
    TQelDialogPreviewThread(const TQelDialogPreviewThread&) = delete;
    TQelDialogPreviewThread& operator=(const TQelDialogPreviewThread&) = delete;

    // UI thread. Drops the shown thumbnail and any pending request, and
    // requests FileName at Width x Height (captured by the caller on the UI
    // thread); an empty FileName requests nothing.
    void RequestPreview(const QString& FileName, int32_t Width, int32_t Height);
    // Sets the stop flag; the worker ends after its current item.
    void Terminate();
    bool Terminated() const;
    // UI thread, woken by the worker: repaints the preview unless the
    // thread was stopped.
    void Repaint();

private:
    friend class TQelOpenDialog;

    void Execute();

    TQelOpenDialog* FDialog;
    // Made on the UI thread and gone with this object, so a repaint never
    // reaches a dialog that has gone.
    TQelWakeUp FRepaint;
    mutable std::mutex FLock;
    std::condition_variable FWake;
    QString FRequest;
    int32_t FRequestWidth = 0;
    int32_t FRequestHeight = 0;
    uint64_t FGeneration = 0;
    bool FTerminated = false;
    std::thread FThread;
};

// The open dialog: the toolkit's own file dialog with a preview panel beside
// the file list (a picture box and a description label). Create with
// QelCreateForm<TQelOpenDialog>(Owner, Formats).
class TQelOpenDialog : public QFileDialog {
    Q_OBJECT
public:
    TQelOpenDialog(QWidget* Owner, const TQelFileFormats* Formats);
    // Waits for the preview thread, then frees the thumbnail.
    ~TQelOpenDialog() override;

    // Builds the panel, starts the preview thread and sets up the filter.
    virtual void Create();
    virtual void AfterConstruction() {}

    // Runs the dialog; true when the user chose a file.
    virtual bool Execute();
    virtual void SetupFilter();

    // The chosen (or preset) file.
    QString FileName() const;
    void SetFileName(const QString& Name);
    // 1-based index of the selected filter row; 0 when none.
    int FilterIndex() const;
    void SetFilterIndex(int Index);

    const TQelFileFormats* Formats() const { return FFormats; }
    QWidget* Panel() const { return FPanel; }
    QWidget* PaintBox() const { return FPaintBox; }
    QLabel* InfoLabel() const { return FInfoLabel; }
    TQelDialogPreviewThread* PreviewThread() const { return FPreviewThread.get(); }
    // The thumbnail shown now, or null. UI thread only.
    const TQelThumbnail* Thumbnail() const;

    // The paint box's paint handler.
    void PaintPreview(QPainter& Canvas);
    // Reacts to a new current file (also a folder or nothing).
    void SelectionChanged(const QString& Name);

    // Stops the preview thread first, so nothing is painted once the
    // dialog is closed; hides hint windows afterwards.
    void done(int Result) override;

protected:
    void showEvent(QShowEvent* Event) override;
    // Sizes the picture box so that about seven lines of the label fit below.
    virtual void DialogShown();

private:
    friend class TQelDialogPreviewThread;

    const TQelFileFormats* FFormats;
    QWidget* FPanel;
    QWidget* FPaintBox;
    QLabel* FInfoLabel;
    // Guarded by the preview thread's lock.
    std::unique_ptr<TQelThumbnail> FThumbnail;
    std::unique_ptr<TQelDialogPreviewThread> FPreviewThread;
};

// The save dialog: the save formats only, the first one selected.
class TQelSaveDialog : public TQelOpenDialog {
    Q_OBJECT
public:
    TQelSaveDialog(QWidget* Owner, const TQelFileFormats* Formats);

    bool Execute() override;
    void SetupFilter() override;
};
