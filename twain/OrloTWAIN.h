// The scanner and camera import component: its published settings, the
// session operations (select, list, acquire, open, enable, close), the
// transfer negotiation and the transfer-file-name rules.
#pragma once

#include <QString>
#include <QStringList>
#include <bitset>
#include <functional>

#include "OrloTWAINCountry.h"
#include "OrloTWAINIntf.h"
#include "QelError.h"

class EImageReadyError : public EQelError {
public:
    using EQelError::EQelError;
};

using TTwnFileFormats = std::bitset<16>;
using TOnDeviceNotReady = std::function<void(QObject* Sender, bool& DoOpenSource)>;
using TOnNegotiate = std::function<void(QObject* Sender, bool& CancelScan)>;

class TOrloTWAIN : public TOrloTWAINIntf {
public:
    explicit TOrloTWAIN(QObject* owner);
    ~TOrloTWAIN() override;

    // The exact text of a missing image handler.
    static QString ImageReadyErrorText();

    // Capability access, refused (-1, no call) for unsupported capabilities.
    void ClearCapabilityCache() override;
    int GetCapability(uint16_t cap, uint16_t msg, TTwnContainer*& container) override;
    bool IsCapSupported(uint16_t cap) override;
    bool IsExtendedCap(uint16_t cap) override;
    int SetCapability(uint16_t msg, int index, TTwnContainer* container) override;

    // Session.
    int SelectSource(int param = 0);
    int GetSourceList(QStringList& list);
    bool Acquire(const QString& sourceName);
    bool OpenSourceManager();
    bool CloseSourceManager();
    bool OpenSource(const QString& sourceName);
    bool CloseSource();
    bool EnableSource(bool showUI);
    void DisableSource();
    int NegotiateTransfer();

    // Settings.
    TOrloCountry Country() const;
    void SetCountry(TOrloCountry country);
    TOrloLanguage Language() const;
    void SetLanguage(TOrloLanguage language);
    TTwnHdlType DIBHandleType() const;
    void SetDIBHandleType(TTwnHdlType type);
    TTwnXferType XferMech() const;
    void SetXferMech(TTwnXferType mech);
    TTwnFileFmt FileFormat() const;
    void SetFileFormat(TTwnFileFmt format);
    TTwnFileFormats FileFormats() const { return FFileFormats; }
    void SetFileFormats(TTwnFileFormats formats);
    QString Filename() const;
    void SetFilename(const QString& name);
    bool ReturnHandle() const;
    void SetReturnHandle(bool value);
    bool SwapMemRGB() const;
    void SetSwapMemRGB(bool value);
    bool DisableAfterAcquire() const { return FDisableAfterAcquire != 0; }
    void SetDisableAfterAcquire(bool value) { FDisableAfterAcquire = value ? -1 : 0; }
    QString LogFilename() const;
    void SetLogFilename(const QString& name);
    bool LogToFile() const;
    void SetLogToFile(bool value);
    TTwnErrorLevel MessageLevel() const;
    void SetMessageLevel(TTwnErrorLevel level);
    QString Manufacturer() const;
    void SetManufacturer(const QString& text);
    QString ProductFamily() const;
    void SetProductFamily(const QString& text);
    QString ProductName() const;
    void SetProductName(const QString& text);

    // Events raised through the worker (Sender: the worker).
    void SetOnCloseSource(TTwnNotifyEvent h) { FThread->CloseRequestHandler = std::move(h); }
    void SetOnXferReady(TTwnNotifyEvent h) { FThread->ReadyHandler = std::move(h); }
    void SetOnXferNext(TTwnXferNextEvent h) { FThread->NextHandler = std::move(h); }
    // Events the component raises itself (Sender: the component).
    TTwnNotifyEvent OnDisableMenus;
    TOnDeviceNotReady OnDeviceNotReady;
    TOnNegotiate OnNegotiation;

    // Transfer-file-name rules.
    static QString FormatExtension(TTwnFileFmt format);
    static TTwnFileFmt FormatOfName(const QString& name);
    static QString StripExtension(const QString& name);
    static QString MakeTransferFileName(const QString& name, const QString& extension);

private:
    int NegotiateFrom(TOrloTWAINThread::Settings& s);
    void UpdateSettings(const std::function<void(TOrloTWAINThread::Settings&)>& change);
    void RaiseDisableMenus();

    int32_t FDisableAfterAcquire;
    TTwnFileFormats FFileFormats;
    // What the owner asked for last: every negotiation starts from it, not
    // from what the previous source agreed to.
    TTwnXferType FRequestedXferMech;
    TTwnFileFmt FRequestedFileFormat;
};
