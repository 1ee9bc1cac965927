#include "OrloTWAIN.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QToolTip>
#include <QWidget>

namespace {

int NoPost(TwnWindow*, uint32_t, uintptr_t, intptr_t) { return -1; }

QString IdentityName(const TW_IDENTITY& id) {
    return QString::fromUtf8(id.ProductName, int(TwnStrLen(id.ProductName, sizeof id.ProductName)));
}

// The program's window as the X server names it, for a source's window in
// another process to stay with; 0 elsewhere (no such name to hand over).
uint64_t ProgramWindow() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return 0;
    QWidget* window = QApplication::activeWindow();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (!window && w->isVisible() && w->isWindow() && !(w->windowType() == Qt::Popup)) window = w;
    return window ? uint64_t(window->window()->winId()) : 0;
}

QString FieldText(const char* field, size_t size) {
    return QString::fromUtf8(field, int(TwnStrLen(field, size)));
}

void SetField(char* field, size_t size, const QString& text) {
    TwnSetStr(field, size, text.toUtf8().constData(), 32);
}

}  // namespace

TOrloTWAIN::TOrloTWAIN(QObject* owner)
    : TOrloTWAINIntf(owner),
      OnDisableMenus(),
      OnDeviceNotReady(),
      OnNegotiation(),
      FDisableAfterAcquire(-1),
      FFileFormats(),
      FRequestedXferMech(TWFX_NATIVE),
      FRequestedFileFormat(TWFF_BMP) {
    FFileFormats.set(TWFF_BMP);
}

// The worker stops before anything its handlers reach goes away.
TOrloTWAIN::~TOrloTWAIN() { ShutdownThread(); }

QString TOrloTWAIN::ImageReadyErrorText() {
    return QStringLiteral("Event \"OnImageReady\" or \"OnMemXferBuffer\" must be assigned, \r"
                          "before an image acquisition can commence.");
}

// --- Capabilities ------------------------------------------------------------------

void TOrloTWAIN::ClearCapabilityCache() { TOrloTWAINIntf::ClearCapabilityCache(); }

int TOrloTWAIN::GetCapability(uint16_t cap, uint16_t msg, TTwnContainer*& container) {
    if (!IsCapSupported(cap)) return -1;
    return TOrloTWAINIntf::GetCapability(cap, msg, container);
}

bool TOrloTWAIN::IsCapSupported(uint16_t cap) { return TOrloTWAINIntf::IsCapSupported(cap); }
bool TOrloTWAIN::IsExtendedCap(uint16_t cap) { return TOrloTWAINIntf::IsExtendedCap(cap); }

int TOrloTWAIN::SetCapability(uint16_t msg, int index, TTwnContainer* container) {
    if (container && !IsCapSupported(container->Cap())) return -1;
    return TOrloTWAINIntf::SetCapability(msg, index, container);
}

// --- Session ---------------------------------------------------------------------

void TOrloTWAIN::RaiseDisableMenus() {
    if (OnDisableMenus) OnDisableMenus(this);
}

int TOrloTWAIN::SelectSource(int) {
    RaiseDisableMenus();
    TwnWindow parent{TwnWindowMagic, &NoPost, nullptr, QApplication::activeWindow(), 0};
    return FThread->UserSelect(&parent);
}

int TOrloTWAIN::GetSourceList(QStringList& list) {
    list.clear();
    bool opened = false;
    if (!DSMOpen()) opened = OpenSourceManager();
    int rc = TWRC_FAILURE;
    if (DSMOpen()) {
        const TW_IDENTITY saved = SourceIdentity;
        rc = FThread->CallDSM(&AppIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &SourceIdentity);
        while (rc == TWRC_SUCCESS) {
            const QString name = IdentityName(SourceIdentity);
            if (name.isEmpty()) break;
            list << name;
            rc = FThread->CallDSM(&AppIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &SourceIdentity);
        }
        SourceIdentity = saved;
    }
    if (opened) CloseSourceManager();
    return rc;
}

bool TOrloTWAIN::Acquire(const QString& sourceName) {
    if (!OpenSourceManager()) return false;
    if (OpenSource(sourceName) && !DSEnabled()) {
        if (EnableSource(ShowUI)) return true;
    }
    CloseSource();
    CloseSourceManager();
    return false;
}

bool TOrloTWAIN::OpenSourceManager() {
    QToolTip::hideText();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (!DSMOpen()) FThread->OpenSourceManager();
    return DSMOpen();
}

bool TOrloTWAIN::CloseSourceManager() {
    if (DSMOpen()) FThread->CloseSourceManager();
    return !DSMOpen();
}

bool TOrloTWAIN::OpenSource(const QString& sourceName) {
    if (!sourceName.isEmpty()) {
        const TW_IDENTITY saved = SourceIdentity;
        bool found = false;
        uint16_t rc =
            FThread->CallDSM(&AppIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &SourceIdentity);
        while (rc == TWRC_SUCCESS) {
            const QString name = IdentityName(SourceIdentity);
            if (name.isEmpty()) break;
            if (name == sourceName) {
                found = true;
                break;
            }
            rc = FThread->CallDSM(&AppIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &SourceIdentity);
        }
        if (!found) SourceIdentity = saved;
    }
    bool cancelled = false;
    if (!DSOpen()) {
        ClearCapabilityCache();
        FThread->SetAfterXferMode(0);
        if (FThread->OpenSource() == TWRC_SUCCESS) {
            RaiseDisableMenus();
            ReadSupportedCaps();
            if (OnDeviceNotReady) {
                bool doOpen = true;
                // Only a source that answers "offline" is waited for; one
                // that cannot tell counts as online.
                while (doOpen && IsDeviceOnline() == 0) OnDeviceNotReady(this, doOpen);
                if (!doOpen) CloseSource();
            }
            if (DSOpen()) {
                SetDeviceEventTypes(FDeviceEventTypes);
                if (NegotiateTransfer() != 0) {
                    CloseSource();
                } else {
                    if (IsCapSupported(CAP_INDICATORS)) SetBoolCapability(CAP_INDICATORS, ShowIndicators);
                    if (OnNegotiation) {
                        OnNegotiation(this, cancelled);
                        if (cancelled) CloseSource();
                    }
                }
            }
        }
    }
    return DSOpen() && !cancelled;
}

bool TOrloTWAIN::CloseSource() {
    DisableSource();
    if (!DSOpen()) return false;
    const uint16_t rc = FThread->CloseSource();
    ClearCapabilityCache();
    FThread->SetAfterXferMode(0);
    return rc == TWRC_SUCCESS;
}

bool TOrloTWAIN::EnableSource(bool showUI) {
    if (!HasImageHandler()) {
        CloseSource();
        CloseSourceManager();
        throw EImageReadyError(ImageReadyErrorText().toStdString());
    }
    if (!DSEnabled()) {
        ShowUI = showUI;
        FThread->SetAfterXferMode(DisableAfterAcquire() ? 1 : 3);
        FThread->SetParentWindow(ProgramWindow());
        bool show = showUI, modal = false;
        const uint16_t rc = FThread->EnableSource(show, modal);
        if (rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS) {
            ShowUI = show;
            ModalUI = modal;
        }
    }
    return DSEnabled();
}

void TOrloTWAIN::DisableSource() {
    if (DSEnabled()) FThread->DisableSource();
}

// --- Negotiation -------------------------------------------------------------------

int TOrloTWAIN::NegotiateTransfer() {
    std::lock_guard<std::recursive_mutex> lock(FThread->CallLock());
    TOrloTWAINThread::Settings s = FThread->GetSettings();
    s.XferMech = FRequestedXferMech;
    s.FileFormat = FRequestedFileFormat;
    const int rc = NegotiateFrom(s);
    FThread->SetSettings(s);
    return rc;
}

int TOrloTWAIN::NegotiateFrom(TOrloTWAINThread::Settings& s) {
    TTwnContainer* mech = Containers().FindOrCreate(ICAP_XFERMECH);
    const int protocol = FThread->SourceProtocol();
    if (protocol < 19 && s.XferMech == TWFX_FILES2) s.XferMech = TWFX_FILES;
    if (protocol >= 19 && s.XferMech == TWFX_FILES) s.XferMech = TWFX_FILES2;
    mech->SetItemType(TWTY_UINT16);
    mech->SetCurrentValue(int64_t(s.XferMech));
    int answer = SetCapability(MSG_SET, -1, mech);
    if (answer != TWRC_SUCCESS && s.XferMech == TWFX_FILES2) {
        s.XferMech = TWFX_FILES;
        mech->SetCurrentValue(int64_t(s.XferMech));
        answer = SetCapability(MSG_SET, -1, mech);
    }
    TTwnContainer* read = mech;
    if (GetCapability(ICAP_XFERMECH, MSG_GET, read) == TWRC_SUCCESS) {
        const int64_t current = TwnValueToInt(read->CurrentValue());
        if (current == s.XferMech) {
            answer = 0;
        } else {
            s.XferMech = TTwnXferType(uint8_t(current));
            answer = LenientOnCaps ? 0 : TWRC_FAILURE;
        }
    }
    if (s.XferMech != TWFX_FILES && s.XferMech != TWFX_FILES2) return answer;

    TTwnFileFormats allowed = FFileFormats;
    if (s.ReturnHandle) allowed.set(TWFF_BMP);
    if (s.FileFormat < 16) allowed.set(s.FileFormat);
    TTwnFileFmt answered = TwnNoFileFormat;
    // A source that keeps answering a format we cannot take must not hold
    // us here: after as many rounds as there are formats it is no agreement.
    int rounds = 0;
    do {
        TTwnContainer* fmt = Containers().FindOrCreate(ICAP_IMAGEFILEFORMAT);
        fmt->SetItemType(TWTY_UINT16);
        fmt->SetCurrentValue(int64_t(s.FileFormat));
        SetCapability(MSG_SET, -1, fmt);
        answered = TwnNoFileFormat;
        TTwnContainer* got = fmt;
        if (GetCapability(ICAP_IMAGEFILEFORMAT, MSG_GET, got) == TWRC_SUCCESS)
            answered = TTwnFileFmt(TwnValueToInt(got->CurrentValue()));
        if (answered != s.FileFormat) {
            if (answered < 16 && allowed[answered]) {
                s.FileFormat = answered;
                s.FileName = MakeTransferFileName(s.FileName, FormatExtension(answered));
            } else {
                if (s.FileFormat < 16) allowed.reset(s.FileFormat);
                TTwnFileFmt lowest = TWFF_SPIFF;
                for (TTwnFileFmt f = TWFF_TIFF; f <= TWFF_PNG; ++f)
                    if (allowed[f]) {
                        lowest = f;
                        break;
                    }
                s.FileFormat = lowest;
            }
        }
    } while (s.FileFormat != answered && allowed.any() && ++rounds < 17);
    if (s.FileFormat != answered && rounds >= 17) s.FileFormat = TwnNoFileFormat;
    if (!(s.FileFormat < 16 && allowed[s.FileFormat])) s.FileFormat = TwnNoFileFormat;
    const QString ext = FormatExtension(s.FileFormat);
    if (ext.isEmpty()) {
        s.XferMech = TWFX_NATIVE;
        return NegotiateFrom(s);
    }
    s.FileName = MakeTransferFileName(s.FileName, ext);
    return answer;
}

// --- Settings ----------------------------------------------------------------------

void TOrloTWAIN::UpdateSettings(const std::function<void(TOrloTWAINThread::Settings&)>& change) {
    TOrloTWAINThread::Settings s = FThread->GetSettings();
    change(s);
    FThread->SetSettings(s);
}

TOrloCountry TOrloTWAIN::Country() const { return TwnCountryOfCode(AppIdentity.Version.Country); }
void TOrloTWAIN::SetCountry(TOrloCountry country) { AppIdentity.Version.Country = TwnCountryCode(country); }

TOrloLanguage TOrloTWAIN::Language() const {
    return TOrloLanguage(uint16_t(int16_t(AppIdentity.Version.Language) + 1));
}
void TOrloTWAIN::SetLanguage(TOrloLanguage language) { AppIdentity.Version.Language = uint16_t(int(language) - 1); }

TTwnHdlType TOrloTWAIN::DIBHandleType() const { return FThread->GetSettings().DIBHandleType; }
void TOrloTWAIN::SetDIBHandleType(TTwnHdlType type) {
    UpdateSettings([type](auto& s) {
        s.DIBHandleType = type;
        if (type == THDT_MEMPTR) s.XferMech = TWFX_MEMORY;
    });
    if (type == THDT_MEMPTR) FRequestedXferMech = TWFX_MEMORY;
}

TTwnXferType TOrloTWAIN::XferMech() const { return FThread->GetSettings().XferMech; }
void TOrloTWAIN::SetXferMech(TTwnXferType mech) {
    UpdateSettings([mech](auto& s) {
        s.XferMech = mech;
        if (mech != TWFX_MEMORY && s.DIBHandleType == THDT_MEMPTR) s.DIBHandleType = THDT_DIBHANDLE;
    });
    FRequestedXferMech = mech;
}

TTwnFileFmt TOrloTWAIN::FileFormat() const { return FThread->GetSettings().FileFormat; }
void TOrloTWAIN::SetFileFormat(TTwnFileFmt format) {
    if (format == TWFF_PICT || format == TWFF_XBM) return;
    UpdateSettings([format](auto& s) {
        s.FileFormat = format;
        if (!s.FileName.isEmpty()) s.FileName = StripExtension(s.FileName) + '.' + FormatExtension(format);
    });
    FRequestedFileFormat = format;
}

void TOrloTWAIN::SetFileFormats(TTwnFileFormats formats) {
    formats.reset(TWFF_PICT);
    formats.reset(TWFF_XBM);
    FFileFormats = formats;
}

QString TOrloTWAIN::Filename() const { return FThread->GetSettings().FileName; }
void TOrloTWAIN::SetFilename(const QString& name) {
    TOrloTWAINThread::Settings s = FThread->GetSettings();
    if (name.isEmpty()) {
        s.FileName.clear();
        s.FileFormat = TWFF_BMP;
        s.ReturnHandle = true;
    } else {
        // Only the name itself is lower-cased: folders keep their case.
        const int slash = name.lastIndexOf('/');
        const QString text = name.left(slash + 1) + name.mid(slash + 1).toLower();
        const TTwnFileFmt f = FormatOfName(text);
        const TTwnFileFmt cur = s.FileFormat;
        const bool keep = cur == TWFF_TIFF || cur == TWFF_JFIF || cur == TWFF_TIFFMULTI || cur == TWFF_SPIFF ||
                          cur == TWFF_EXIF;
        if (f != cur && !keep) s.FileFormat = f;
        s.FileName = MakeTransferFileName(text, FormatExtension(f));
    }
    FThread->SetSettings(s);
    FRequestedFileFormat = s.FileFormat;
}

bool TOrloTWAIN::ReturnHandle() const { return FThread->GetSettings().ReturnHandle; }
void TOrloTWAIN::SetReturnHandle(bool value) {
    UpdateSettings([value](auto& s) { s.ReturnHandle = s.FileFormat == TWFF_BMP ? value : false; });
}

bool TOrloTWAIN::SwapMemRGB() const { return FThread->GetSettings().SwapMemRGB; }
void TOrloTWAIN::SetSwapMemRGB(bool value) {
    UpdateSettings([value](auto& s) { s.SwapMemRGB = value; });
}

QString TOrloTWAIN::LogFilename() const { return FThread->LogFilename; }
void TOrloTWAIN::SetLogFilename(const QString& name) {
    TOrloTWAINLog log;
    log.SetLogFilename(name);
    FThread->LogFilename = name;
}
bool TOrloTWAIN::LogToFile() const { return FThread->LogToFile; }
void TOrloTWAIN::SetLogToFile(bool value) { FThread->LogToFile = value; }
TTwnErrorLevel TOrloTWAIN::MessageLevel() const { return FThread->MessageLevel; }
void TOrloTWAIN::SetMessageLevel(TTwnErrorLevel level) { FThread->MessageLevel = level; }

QString TOrloTWAIN::Manufacturer() const { return FieldText(AppIdentity.Manufacturer, sizeof AppIdentity.Manufacturer); }
void TOrloTWAIN::SetManufacturer(const QString& text) {
    SetField(AppIdentity.Manufacturer, sizeof AppIdentity.Manufacturer, text);
}
QString TOrloTWAIN::ProductFamily() const {
    return FieldText(AppIdentity.ProductFamily, sizeof AppIdentity.ProductFamily);
}
void TOrloTWAIN::SetProductFamily(const QString& text) {
    SetField(AppIdentity.ProductFamily, sizeof AppIdentity.ProductFamily, text);
}
QString TOrloTWAIN::ProductName() const { return FieldText(AppIdentity.ProductName, sizeof AppIdentity.ProductName); }
void TOrloTWAIN::SetProductName(const QString& text) {
    SetField(AppIdentity.ProductName, sizeof AppIdentity.ProductName, text);
}

// --- Transfer-file names -----------------------------------------------------------

QString TOrloTWAIN::FormatExtension(TTwnFileFmt format) {
    switch (format) {
        case TWFF_TIFF:
        case TWFF_TIFFMULTI: return QStringLiteral("tif");
        case TWFF_PICT: return QStringLiteral("pct");
        case TWFF_BMP: return QStringLiteral("bmp");
        case TWFF_XBM: return QStringLiteral("xbm");
        case TWFF_JFIF:
        case TWFF_SPIFF:
        case TWFF_EXIF: return QStringLiteral("jpg");
        case TWFF_FPX: return QStringLiteral("fpx");
        case TWFF_PNG: return QStringLiteral("png");
        default: return QString();
    }
}

TTwnFileFmt TOrloTWAIN::FormatOfName(const QString& name) {
    const QString fileName = name.mid(name.lastIndexOf('/') + 1);
    const int dot = fileName.lastIndexOf('.');
    if (dot < 0) return TwnNoFileFormat;
    const QString ext = fileName.mid(dot).toLower();
    static const struct {
        const char* ext;
        TTwnFileFmt format;
    } table[] = {{".tif", TWFF_TIFF}, {".pct", TWFF_PICT}, {".xbm", TWFF_XBM}, {".bmp", TWFF_BMP},
                 {".jpg", TWFF_JFIF}, {".fpx", TWFF_FPX},  {".png", TWFF_PNG}};
    for (const auto& row : table)
        if (ext == QLatin1String(row.ext)) return row.format;
    return TwnNoFileFormat;
}

QString TOrloTWAIN::StripExtension(const QString& name) {
    const int slash = name.lastIndexOf('/');
    const QString folder = name.left(slash + 1);
    QString fileName = name.mid(slash + 1).toLower();
    const int dot = fileName.lastIndexOf('.');
    if (dot >= 0) fileName.truncate(dot);
    while (fileName.endsWith('.')) fileName.chop(1);
    return folder + fileName;
}

QString TOrloTWAIN::MakeTransferFileName(const QString& name, const QString& extension) {
    QString result = name;
    const int slash = result.lastIndexOf('/');
    const QString folder = slash == 0 ? QStringLiteral("/") : result.left(slash);
    if (slash < 0 || !QFileInfo(folder).isDir()) {
        QTemporaryFile unique(QDir::tempPath() + QStringLiteral("/TWNXXXXXX"));
        if (unique.open()) {
            result = unique.fileName();
            unique.close();
        } else {
            result = QDir::tempPath() + QStringLiteral("/TWN");
        }
        // The temporary file is removed when `unique` goes; only its name is kept.
    }
    return StripExtension(result) + '.' + extension;
}
