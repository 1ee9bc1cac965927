// Scanner and camera import for the graphics editor: the acquisition
// component, File > Import with one item per source, the Select Source and
// Acquire commands, the transferred file opened as an untitled document,
// and one message for an import that failed.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>

class QAction;
class QMenu;
class TOrloTWAIN;
class TQelGraphicsEditor;
struct TwnBitmapInfoHeader;

// Why an import failed, as the user is told.
enum class TQelImportFault : uint8_t {
    None,          // the call's failure does not end an import
    PaperJam,      // jammed or double-fed paper
    DeviceBusy,    // in use by someone else, or switched off or unplugged
    NoMemory,
    AccessDenied,
    CannotOpen,    // the source (or the source manager) could not be opened
    General,
    NoImage,       // the transfer ended without an image the editor can take
    CoverOpen,     // a cover or door of the device is open
    NoDocuments,   // nothing in the feeder or on the glass
    SourceGone,    // the chosen device is no longer there
};

class TQelImport : public QObject {
    Q_OBJECT
public:
    explicit TQelImport(TQelGraphicsEditor* Editor);
    // The component's threads stop before anything their events reach goes.
    ~TQelImport() override;

    // The component: BMP files, no handle, no log.
    void CreateComponent();
    // Select Source and Acquire (kept out of the menus) and the Import
    // submenu, before the File menu's separator.
    void CreateMenuItems();
    void Localize();

    // Opens and closes the source manager, whose device search goes on in
    // the background, so that the Import submenu lists the devices when it
    // is first opened.
    void StartDeviceSearch();
    // The Import submenu lists the sources each time it opens, or says that
    // there are none; while a source is open it shows the last list,
    // disabled. An item acquires from the source it names, once a fresh
    // list shows that source still there.
    void FillImportMenu();
    void ImportSourceClick(QObject* Sender);
    // From the default source, once the active document may be closed.
    void AcquireClick(QObject* Sender);
    void SelectSourceClick(QObject* Sender);
    void TwainEnableMenus(void* Sender);
    void TwainDisableMenus(void* Sender);
    // A transferred file opens as an untitled document; the file is deleted.
    void TwainImageReady(void* Sender, void* pBmp, const TwnBitmapInfoHeader* pBmpInfo, void* hImage,
                         const QString& FilePath);
    // A failed call of the data source manager. The first one that ends
    // the running import is reported; a cancel raises none.
    void TwainFailure(void* Sender, int DG, uint16_t DAT, uint16_t CAP, uint16_t MSG, int Error, int Status);

    // What a failed call means for an import: None for calls whose failure
    // the session gets over (capabilities, clean-up), else by the
    // condition code, else by the call.
    static TQelImportFault FaultOf(uint16_t DAT, uint16_t MSG, int Error, int Status);
    // The message: what went wrong in the user's words (naming Source where
    // the device is meant), with Details (the codes) on a line for support
    // when there are any.
    static QString FailureText(TQelImportFault Fault, const QString& Details, const QString& Source = QString());

    TOrloTWAIN* Twain = nullptr;
    QAction* SelectTwainSourceMenuItem = nullptr;
    QAction* AcquireMenuItem = nullptr;
    QMenu* ImportSubmenu = nullptr;

private:
    void Acquire(const QString& SourceName);
    // Shows the message once the running event is over, so the component's
    // worker never waits on a modal box; one per import.
    void Report(TQelImportFault Fault, const QString& Details, const QString& Source = QString());

    TQelGraphicsEditor* FEditor;
    // Between an import's start and the next use of the component that is
    // no import (listing, selecting), and whether it was reported.
    bool FImporting;
    bool FReported;
    // The sources the submenu listed last, and the one an import asked for
    // by name (empty for the default source).
    QStringList FSources;
    QString FRequested;
};
