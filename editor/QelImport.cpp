#include "QelImport.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QMenu>

#include "OrloTWAIN.h"
#include "QelGraphicsEditor.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"

namespace {

constexpr int32_t TextImport = 17;
constexpr int32_t TextAcquire = 101;
constexpr int32_t TextSelectSource = 102;
constexpr int32_t TextPaperJam = 1040;
constexpr int32_t TextDeviceBusy = 1041;
constexpr int32_t TextNoMemory = 1042;
constexpr int32_t TextAccessDenied = 1043;
constexpr int32_t TextCannotOpen = 1044;
constexpr int32_t TextGeneral = 1045;
constexpr int32_t TextNoImage = 1046;
constexpr int32_t TextSupportDetails = 1047;
constexpr int32_t TextCoverOpen = 1048;
constexpr int32_t TextNoDocuments = 1049;
constexpr int32_t TextNoSource = 1060;
constexpr int32_t TextSourceGone = 1061;

// The component's own codes: an exception inside the source manager or
// the source, and no answer in time.
constexpr int TwnRcException = 0x8384;
constexpr int TwnRcTimeout = 0x8385;

QString Hex(uint32_t Value) { return QStringLiteral("0x%1").arg(Value, 4, 16, QLatin1Char('0')); }

}  // namespace

TQelImport::TQelImport(TQelGraphicsEditor* Editor)
    : QObject(), FEditor(Editor), FImporting(false), FReported(false), FSources(), FRequested() {}

TQelImport::~TQelImport() {
    delete Twain;
    Twain = nullptr;
}

void TQelImport::CreateComponent() {
    Twain = new TOrloTWAIN(this);
    Twain->SetOnEnableMenus([this](void* sender) { TwainEnableMenus(sender); });
    Twain->OnDisableMenus = [this](void* sender) { TwainDisableMenus(sender); };
    Twain->SetOnImageReady([this](void* sender, void* bmp, const TwnBitmapInfoHeader* info, void* image,
                                  const QString& path) { TwainImageReady(sender, bmp, info, image, path); });
    Twain->SetOnFailure([this](void* sender, int dg, uint16_t dat, uint16_t cap, uint16_t msg, int error,
                               int status) { TwainFailure(sender, dg, dat, cap, msg, error, status); });
    // A named source that is gone by the time it opens makes the component
    // open its default source instead: that one does not scan.
    Twain->OnNegotiation = [this](QObject*, bool& CancelScan) {
        const QString opened = QString::fromUtf8(
            Twain->SourceIdentity.ProductName,
            int(TwnStrLen(Twain->SourceIdentity.ProductName, sizeof Twain->SourceIdentity.ProductName)));
        if (FRequested.isEmpty() || opened == FRequested) return;
        CancelScan = true;
        Report(TQelImportFault::SourceGone, QString(), FRequested);
    };
    Twain->SetXferMech(TWFX_FILES);
    Twain->SetFileFormat(TWFF_BMP);
    Twain->SetReturnHandle(false);
    Twain->SetLogToFile(false);
}

void TQelImport::CreateMenuItems() {
    if (!MainForm) return;
    QMenu* file = MainForm->FileMenuItem;
    // Select Source and Acquire stay hidden: the Import submenu is the way
    // in. They are kept out of the menu rather than made invisible, as Qt
    // disables an invisible action and would lose their enabled state.
    SelectTwainSourceMenuItem =
        MainForm->AddMenuItem(QelText(TextSelectSource), QKeySequence(), [this](QObject* s) { SelectSourceClick(s); },
                              -1, file, MainForm->FileMenuSeparator);
    SelectTwainSourceMenuItem->setObjectName(QStringLiteral("SelectTwainSourceMenuItem"));
    file->removeAction(SelectTwainSourceMenuItem);
    AcquireMenuItem = MainForm->AddMenuItem(QelText(TextAcquire), QKeySequence(),
                                            [this](QObject* s) { AcquireClick(s); }, -1, file,
                                            MainForm->FileMenuSeparator);
    AcquireMenuItem->setObjectName(QStringLiteral("AcquireMenuItem"));
    file->removeAction(AcquireMenuItem);
    ImportSubmenu = MainForm->AddSubmenu(QelText(TextImport), file, MainForm->FileMenuSeparator);
    ImportSubmenu->setObjectName(QStringLiteral("ImportSubmenu"));
    ImportSubmenu->menuAction()->setObjectName(QStringLiteral("ImportSubmenuItem"));
    connect(ImportSubmenu, &QMenu::aboutToShow, this, [this] { FillImportMenu(); });
}

void TQelImport::Localize() {
    // A source's own window (the scan's progress) speaks the program's language.
    if (Twain && TQelLocalizer::Instance())
        Twain->SetLanguage(TOrloLanguage(TwnLanguageOfLangId(TQelLocalizer::Instance()->GetCurrentLangId()) + 1));
    if (SelectTwainSourceMenuItem) SelectTwainSourceMenuItem->setText(QelText(TextSelectSource));
    if (AcquireMenuItem) AcquireMenuItem->setText(QelText(TextAcquire));
    if (ImportSubmenu) ImportSubmenu->setTitle(QelText(TextImport));
}

void TQelImport::StartDeviceSearch() {
    if (Twain->DSMOpen()) return;
    if (Twain->OpenSourceManager()) Twain->CloseSourceManager();
}

void TQelImport::FillImportMenu() {
    // While a source is open the manager lists nothing, and choosing an item
    // would end the running scan.
    const bool busy = Twain->DSOpen();
    if (!busy) {
        // Looking at the list while a scan runs does not end that import.
        FImporting = false;
        Twain->GetSourceList(FSources);
    }
    ImportSubmenu->clear();
    for (const QString& name : FSources) {
        QAction* item = MainForm->AddMenuItem(name, QKeySequence(), [this](QObject* s) { ImportSourceClick(s); }, -1,
                                              ImportSubmenu, nullptr);
        // The name itself, not the position: the device list may have
        // changed since the menu opened.
        item->setData(name);
        item->setEnabled(!busy);
    }
    // Never empty: Qt shows no submenu again once it was opened empty.
    if (FSources.isEmpty())
        MainForm->AddMenuItem(QelText(TextNoSource), QKeySequence(), nullptr, -1, ImportSubmenu, nullptr)
            ->setEnabled(false);
}

void TQelImport::ImportSourceClick(QObject* Sender) {
    auto* item = qobject_cast<QAction*>(Sender);
    if (!item || Twain->DSOpen()) return;
    const QString name = item->data().toString();
    QStringList sources;
    Twain->GetSourceList(sources);
    if (sources.contains(name)) {
        Acquire(name);
        return;
    }
    FImporting = true;
    FReported = false;
    Report(TQelImportFault::SourceGone, QString(), name);
}

void TQelImport::AcquireClick(QObject*) {
    if (FEditor && FEditor->CloseActiveQuery()) Acquire(QString());
}

void TQelImport::SelectSourceClick(QObject*) {
    if (!Twain->DSOpen()) FImporting = false;
    Twain->SelectSource();
}

void TQelImport::Acquire(const QString& SourceName) {
    FImporting = true;
    FReported = false;
    FRequested = SourceName;
    Twain->Acquire(SourceName);
    FRequested.clear();
}

void TQelImport::TwainEnableMenus(void*) {
    QelSetEnabled(SelectTwainSourceMenuItem, true);
    QelSetEnabled(AcquireMenuItem, true);
}

void TQelImport::TwainDisableMenus(void*) {
    QelSetEnabled(SelectTwainSourceMenuItem, false);
    QelSetEnabled(AcquireMenuItem, false);
}

void TQelImport::TwainImageReady(void*, void*, const TwnBitmapInfoHeader*, void* hImage, const QString& FilePath) {
    // A handle (a source that could not write BMP files) is not taken.
    if (hImage) {
        TwnFreeImage(hImage);
        Report(TQelImportFault::NoImage, QString());
    }
    // A cancelled or failed transfer names no file: nothing opens and no
    // document is closed for it; a failure has its own event.
    const QFileInfo file(FilePath);
    if (!FilePath.isEmpty()) {
        if (!file.isFile() || file.size() <= 0) {
            // The source said it was done, but left nothing to open.
            Report(TQelImportFault::NoImage, QString());
        } else if (FEditor) {
            TQelDocument* document = nullptr;
            if (FEditor->OpenDocument(FilePath, document, false) && document) {
                document->FileName.clear();
                // A scan exists nowhere else: closing it unsaved must ask.
                document->SetClean(false);
                // The temporary folder is no folder to browse.
                FEditor->FolderFiles.clear();
                FEditor->FolderIndex = -1;
                FEditor->UpdateCaption();
            } else {
                // The editor has said why the file could not be opened.
                FReported = true;
            }
        }
        QFile::remove(FilePath);
    }
    const QString transferFile = Twain ? Twain->Filename() : QString();
    if (!transferFile.isEmpty() && QFileInfo(transferFile).isFile()) QFile::remove(transferFile);
}

void TQelImport::TwainFailure(void*, int DG, uint16_t DAT, uint16_t, uint16_t MSG, int Error, int Status) {
    if (!FImporting) return;
    const TQelImportFault fault = FaultOf(DAT, MSG, Error, Status);
    if (fault == TQelImportFault::None) return;
    Report(fault, QStringLiteral("TWCC %1, TWRC %2, DG %3 DAT %4 MSG %5")
                      .arg(Status)
                      .arg(Error)
                      .arg(Hex(uint32_t(DG)), Hex(DAT), Hex(MSG)));
}

TQelImportFault TQelImport::FaultOf(uint16_t DAT, uint16_t MSG, int Error, int Status) {
    const bool opening = (DAT == DAT_PARENT && MSG == MSG_OPENDSM) || (DAT == DAT_IDENTITY && MSG == MSG_OPENDS);
    const bool ending = opening || (DAT == DAT_USERINTERFACE && MSG == MSG_ENABLEDS) || DAT == DAT_SETUPFILEXFER ||
                        DAT == DAT_SETUPMEMXFER || DAT == DAT_IMAGEINFO || DAT == DAT_IMAGEFILEXFER ||
                        DAT == DAT_IMAGENATIVEXFER || DAT == DAT_IMAGEMEMXFER;
    // A source or manager that crashed or stopped answering ends the
    // session whatever the call was.
    if (!ending && Error != TwnRcException && Error != TwnRcTimeout) return TQelImportFault::None;
    switch (Status) {
        case TWCC_PAPERJAM:
        case TWCC_PAPERDOUBLEFEED: return TQelImportFault::PaperJam;
        case TWCC_MAXCONNECTIONS:
        case TWCC_CHECKDEVICEONLINE: return TQelImportFault::DeviceBusy;
        case TWCC_LOWMEMORY: return TQelImportFault::NoMemory;
        case TWCC_DENIED: return TQelImportFault::AccessDenied;
        case TWCC_NODS: return TQelImportFault::CannotOpen;
        case TWCC_INTERLOCK: return TQelImportFault::CoverOpen;
        case TWCC_NOMEDIA: return TQelImportFault::NoDocuments;
        default: break;
    }
    return opening ? TQelImportFault::CannotOpen : TQelImportFault::General;
}

QString TQelImport::FailureText(TQelImportFault Fault, const QString& Details, const QString& Source) {
    int32_t id = TextGeneral;
    switch (Fault) {
        case TQelImportFault::PaperJam: id = TextPaperJam; break;
        case TQelImportFault::DeviceBusy: id = TextDeviceBusy; break;
        case TQelImportFault::NoMemory: id = TextNoMemory; break;
        case TQelImportFault::AccessDenied: id = TextAccessDenied; break;
        case TQelImportFault::CannotOpen: id = TextCannotOpen; break;
        case TQelImportFault::NoImage: id = TextNoImage; break;
        case TQelImportFault::CoverOpen: id = TextCoverOpen; break;
        case TQelImportFault::NoDocuments: id = TextNoDocuments; break;
        case TQelImportFault::SourceGone: id = TextSourceGone; break;
        case TQelImportFault::None:
        case TQelImportFault::General: break;
    }
    QString text = Fault == TQelImportFault::SourceGone ? QelFormatText(QelText(id), Source) : QelText(id);
    if (!Details.isEmpty()) text += QStringLiteral("\n\n") + QelFormatText(QelText(TextSupportDetails), Details);
    return text;
}

void TQelImport::Report(TQelImportFault Fault, const QString& Details, const QString& Source) {
    if (FReported) return;
    FReported = true;
    const QString text = FailureText(Fault, Details, Source);
    QMetaObject::invokeMethod(
        this,
        [text] {
            if (TQelApplication* app = TQelApplication::Instance())
                app->MessageBoxTitled(text, 0x10 /* MB_ICONERROR */);
        },
        Qt::QueuedConnection);
}
