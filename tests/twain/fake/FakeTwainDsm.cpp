#include "FakeTwainDsm.h"

#include <cstdio>
#include <cstring>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

FakeDsmState& State() {
    static FakeDsmState* state = new FakeDsmState();  // lives as long as the process
    return *state;
}

void FillIdentity(FakeDsmState& s, size_t index, TW_IDENTITY* id) {
    std::memset(id, 0, sizeof *id);
    id->Id = uint32_t(index + 1);
    id->ProtocolMajor = s.protocolMajor;
    id->ProtocolMinor = s.protocolMinor;
    id->SupportedGroups = DG_CONTROL | DG_IMAGE;
    TwnSetStr(id->Manufacturer, sizeof id->Manufacturer, "Test", 32);
    TwnSetStr(id->ProductName, sizeof id->ProductName, s.sources[index].c_str(), 32);
}

size_t Enumerated = 0;

uint16_t Capability(FakeDsmState& s, FakeDsmCall& call, uint16_t msg, TW_CAPABILITY* cap) {
    call.cap = cap->Cap;
    call.conType = cap->ConType;
    if (msg == MSG_SET) {
        // A set value is what a later GET answers.
        s.caps[cap->Cap] = {cap->ConType, call.payload};
        return TWRC_SUCCESS;
    }
    auto it = s.caps.find(cap->Cap);
    if (it == s.caps.end()) return TWRC_FAILURE;
    TW_HANDLE h = TwnGlobal::alloc(it->second.second.size());
    std::memcpy(TwnGlobal::lock(h), it->second.second.data(), it->second.second.size());
    TwnGlobal::unlock(h);
    cap->ConType = it->second.first;
    cap->hContainer = h;
    return TWRC_SUCCESS;
}

uint16_t MemoryStrip(FakeDsmState& s, FakeDsmCall& call, TW_IMAGEMEMXFER* mx) {
    call.memLength = mx->Memory.Length;
    const size_t bpr = s.memBytesPerRow;
    if (bpr == 0) return TWRC_FAILURE;
    const size_t rowsLeft = (s.memRows.size() - s.memOffset) / bpr;
    const size_t rows = std::min<size_t>(rowsLeft, mx->Memory.Length / bpr);
    std::memcpy(mx->Memory.TheMem, s.memRows.data() + s.memOffset, rows * bpr);
    s.memOffset += rows * bpr;
    mx->BytesPerRow = uint32_t(bpr);
    mx->Rows = uint32_t(rows);
    mx->Columns = uint32_t(s.imageInfo.ImageWidth);
    mx->BytesWritten = uint32_t(rows * bpr);
    return s.memOffset >= s.memRows.size() ? TWRC_XFERDONE : TWRC_SUCCESS;
}

uint16_t Answer(FakeDsmState& s, FakeDsmCall& call, TW_IDENTITY* dest, uint32_t dg, uint16_t dat, uint16_t msg,
                void* data) {
    (void)dest;
    if (dat == DAT_STATUS) {
        static_cast<TW_STATUS*>(data)->ConditionCode = s.conditionCode;
        return TWRC_SUCCESS;
    }
    if (dat == DAT_PARENT) {
        if (msg == MSG_OPENDSM) {
            if (s.dsmOpen || s.openDsmRc != TWRC_SUCCESS) return s.openDsmRc ? s.openDsmRc : TWRC_FAILURE;
            s.parent = *static_cast<TwnWindow**>(data);
            s.dsmOpen = true;
            return TWRC_SUCCESS;
        }
        if (msg == MSG_CLOSEDSM) {
            if (!s.dsmOpen || s.openSource >= 0) return TWRC_FAILURE;
            s.dsmOpen = false;
            s.parent = nullptr;
            return TWRC_SUCCESS;
        }
    }
    if (!s.dsmOpen) return TWRC_FAILURE;
    auto* id = static_cast<TW_IDENTITY*>(data);
    if (dat == DAT_IDENTITY) {
        if (id) call.productName.assign(id->ProductName, TwnStrLen(id->ProductName, sizeof id->ProductName));
        switch (msg) {
            case MSG_GETFIRST:
            case MSG_GETNEXT:
                if (s.openSource >= 0) return TWRC_FAILURE;  // not while a source is open
                if (msg == MSG_GETFIRST) Enumerated = 0;
                if (Enumerated >= s.sources.size()) return TWRC_ENDOFLIST;
                FillIdentity(s, Enumerated++, id);
                return TWRC_SUCCESS;
            case MSG_GETDEFAULT:
                if (s.sources.empty()) return TWRC_FAILURE;
                FillIdentity(s, s.defaultSource, id);
                return TWRC_SUCCESS;
            case MSG_USERSELECT:
                if (s.userSelectChoice < 0 || size_t(s.userSelectChoice) >= s.sources.size()) return TWRC_CANCEL;
                FillIdentity(s, size_t(s.userSelectChoice), id);
                return TWRC_SUCCESS;
            case MSG_OPENDS: {
                if (s.openSource >= 0 || s.sources.empty()) return TWRC_FAILURE;
                size_t index = s.defaultSource;
                if (!call.productName.empty()) {
                    index = s.sources.size();
                    for (size_t i = 0; i < s.sources.size(); ++i)
                        if (s.sources[i] == call.productName) index = i;
                    if (index == s.sources.size()) return TWRC_FAILURE;
                }
                FillIdentity(s, index, id);
                s.openSource = int(index);
                s.pendingLeft = s.pending;
                return TWRC_SUCCESS;
            }
            case MSG_CLOSEDS:
                if (s.openSource < 0 || s.enabled) return TWRC_FAILURE;
                s.openSource = -1;
                return TWRC_SUCCESS;
            default: return TWRC_FAILURE;
        }
    }
    if (s.openSource < 0) return TWRC_FAILURE;
    switch (dat) {
        case DAT_USERINTERFACE: {
            auto* ui = static_cast<TW_USERINTERFACE*>(data);
            if (msg == MSG_ENABLEDS) {
                if (s.enabled) return TWRC_FAILURE;
                if (s.enableRc != TWRC_SUCCESS && s.enableRc != TWRC_CHECKSTATUS) return s.enableRc;
                s.enabled = true;
                s.uiParent = static_cast<TwnWindow*>(ui->hParent);
                s.pendingLeft = s.pending;
                s.memOffset = 0;
                s.xferReady = false;
                if (s.xferReadyOnEnable) s.Post(MSG_XFERREADY);
                return s.enableRc;
            }
            if (msg == MSG_DISABLEDS) {
                if (!s.enabled || (s.xferReady && s.pendingLeft != 0)) return TWRC_FAILURE;  // not in a transfer
                s.enabled = false;
                return TWRC_SUCCESS;
            }
            return TWRC_FAILURE;
        }
        case DAT_EVENT: {
            auto* ev = static_cast<TW_EVENT*>(data);
            auto* m = static_cast<TwnWindowMsg*>(ev->pEvent);
            if (m && m->message >= FakeDsmMsgBase) {
                ev->TWMessage = uint16_t(m->message - FakeDsmMsgBase);
                return TWRC_DSEVENT;
            }
            return TWRC_NOTDSEVENT;
        }
        case DAT_CAPABILITY: return Capability(s, call, msg, static_cast<TW_CAPABILITY*>(data));
        case DAT_PENDINGXFERS: {
            auto* px = static_cast<TW_PENDINGXFERS*>(data);
            if (msg == MSG_ENDXFER && s.pendingLeft > 0) --s.pendingLeft;
            if (msg == MSG_RESET) s.pendingLeft = 0;
            if (s.pendingLeft == 0) s.xferReady = false;
            s.memOffset = 0;
            px->Count = s.pendingLeft;
            return TWRC_SUCCESS;
        }
        case DAT_SETUPFILEXFER: {
            auto* fx = static_cast<TW_SETUPFILEXFER*>(data);
            s.fileName.assign(fx->FileName, TwnStrLen(fx->FileName, sizeof fx->FileName));
            s.fileFormat = fx->Format;
            return TWRC_SUCCESS;
        }
        case DAT_IMAGEFILEXFER: {
            FILE* f = std::fopen(s.fileName.c_str(), "wb");
            if (!f) return TWRC_FAILURE;
            std::fwrite(s.fileBytes.data(), 1, s.fileBytes.size(), f);
            std::fclose(f);
            return TWRC_XFERDONE;
        }
        case DAT_IMAGENATIVEXFER: {
            TW_HANDLE h = TwnGlobal::alloc(s.nativeDib.size());
            std::memcpy(TwnGlobal::lock(h), s.nativeDib.data(), s.nativeDib.size());
            TwnGlobal::unlock(h);
            *static_cast<TW_HANDLE*>(data) = h;
            return TWRC_XFERDONE;
        }
        case DAT_IMAGEINFO: *static_cast<TW_IMAGEINFO*>(data) = s.imageInfo; return TWRC_SUCCESS;
        case DAT_SETUPMEMXFER: *static_cast<TW_SETUPMEMXFER*>(data) = s.setupMem; return TWRC_SUCCESS;
        case DAT_IMAGEMEMXFER: return MemoryStrip(s, call, static_cast<TW_IMAGEMEMXFER*>(data));
        case DAT_DEVICEEVENT: *static_cast<TW_DEVICEEVENT*>(data) = s.deviceEvent; return TWRC_SUCCESS;
        default: return TWRC_FAILURE;
    }
    (void)dg;
}

}  // namespace

FAKE_EXPORT FakeDsmState* FakeDsm_State() { return &State(); }

FAKE_EXPORT TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                TW_MEMREF data) {
    FakeDsmState& s = State();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    FakeDsmCall call;
    call.dg = DG;
    call.dat = DAT;
    call.msg = MSG;
    call.thread = std::this_thread::get_id();
    if (DAT == DAT_CAPABILITY && data) {
        auto* cap = static_cast<TW_CAPABILITY*>(data);
        call.cap = cap->Cap;
        call.conType = cap->ConType;
        if (MSG == MSG_SET) {
            const auto* p = static_cast<const uint8_t*>(TwnGlobal::lock(cap->hContainer));
            if (p) call.payload.assign(p, p + TwnGlobal::size(cap->hContainer));
            TwnGlobal::unlock(cap->hContainer);
        }
    }
    std::optional<uint16_t> hooked;
    if (s.hook) {
        FakeDsmContext ctx{origin, dest, DG, DAT, MSG, data};
        // The log entry is written even when the hook throws.
        struct LogOnExit {
            FakeDsmState& s;
            FakeDsmCall& call;
            bool armed = true;
            ~LogOnExit() {
                if (armed) {
                    call.rc = TWRC_DSMEXCEPTION;
                    s.log.push_back(call);
                }
            }
        } guard{s, call};
        hooked = s.hook(ctx);
        guard.armed = false;
    }
    const uint16_t rc = hooked ? *hooked : Answer(s, call, dest, DG, DAT, MSG, data);
    call.rc = rc;
    s.log.push_back(call);
    return rc;
}
