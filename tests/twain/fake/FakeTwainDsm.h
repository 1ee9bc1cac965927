// A scripted data source manager for the tests, built as a loadable module
// and reached by the component through the real loading path. Tests share
// its state object (FakeDsm_State) to script answers, post window messages
// through the parent handle and read the call log. The module is never
// unloaded, so its state outlives the component's "unload".
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TwnDefs.h"

struct FakeDsmCall {
    uint32_t dg = 0;
    uint16_t dat = 0;
    uint16_t msg = 0;
    uint16_t cap = 0;              // DAT_CAPABILITY
    uint16_t conType = 0;          // DAT_CAPABILITY
    std::vector<uint8_t> payload;  // a capability container sent with MSG_SET
    std::string productName;       // DAT_IDENTITY: the identity's product name as given
    uint32_t memLength = 0;        // DAT_IMAGEMEMXFER: Memory.Length
    uint16_t rc = 0;
    std::thread::id thread;

    // A one-value payload's item type and value.
    uint16_t ItemType() const { return payload.size() >= 2 ? uint16_t(payload[0] | payload[1] << 8) : 0xffff; }
    uint32_t Value() const {
        uint32_t v = 0;
        for (size_t i = 0; i < 4 && 2 + i < payload.size(); ++i) v |= uint32_t(payload[2 + i]) << (8 * i);
        return v;
    }
};

// The context a hook sees: it may answer the call itself.
struct FakeDsmContext {
    TW_IDENTITY* origin;
    TW_IDENTITY* dest;
    uint32_t dg;
    uint16_t dat;
    uint16_t msg;
    void* data;
};

// Window messages the fake posts carry this base plus the TWAIN message.
constexpr uint32_t FakeDsmMsgBase = 0x8000;

struct FakeDsmData {
    // Sources, in enumeration order; the default is opened for an empty name.
    std::vector<std::string> sources{"Alpha", "Beta"};
    size_t defaultSource = 0;
    uint16_t protocolMajor = 1, protocolMinor = 9;
    int userSelectChoice = 1;  // index chosen by MSG_USERSELECT, -1 cancels

    // Answers.
    uint16_t openDsmRc = TWRC_SUCCESS;
    uint16_t enableRc = TWRC_SUCCESS;
    uint16_t conditionCode = TWCC_BUMMER;  // what DAT_STATUS reports
    bool xferReadyOnEnable = true;          // post MSG_XFERREADY right after enabling
    uint16_t pending = 1;                   // images per session
    // Capabilities: the raw container each GET answers, by id, with its type.
    std::map<uint16_t, std::pair<uint16_t, std::vector<uint8_t>>> caps;
    // Called first for every call; a value answers the call.
    std::function<std::optional<uint16_t>(FakeDsmContext&)> hook;

    // Images. Native: a packed DIB. File: the bytes written. Memory: the
    // image info and its top-down rows.
    std::vector<uint8_t> nativeDib;
    std::vector<uint8_t> fileBytes;
    TW_IMAGEINFO imageInfo{};
    TW_SETUPMEMXFER setupMem{64, 4096, 1024};
    std::vector<uint8_t> memRows;
    uint32_t memBytesPerRow = 0;
    TW_DEVICEEVENT deviceEvent{};

    // Session, as the calls left it.
    bool dsmOpen = false;
    int openSource = -1;
    bool enabled = false;
    TwnWindow* parent = nullptr;    // from MSG_OPENDSM
    TwnWindow* uiParent = nullptr;  // from MSG_ENABLEDS
    std::string fileName;           // from DAT_SETUPFILEXFER
    uint16_t fileFormat = 0;
    size_t memOffset = 0;
    uint16_t pendingLeft = 0;
    bool xferReady = false;  // MSG_XFERREADY was posted: the source is in its transfer states

    std::vector<FakeDsmCall> log;
};

struct FakeDsmState : FakeDsmData {
    std::recursive_mutex mutex;

    void Reset();
    // Posts a TWAIN message to the application through the enabled
    // source's parent handle (or the manager's); false without one.
    bool Post(uint16_t twainMsg);
    std::vector<FakeDsmCall> Log();
    std::vector<FakeDsmCall> Calls(uint16_t dat, uint16_t msg);

    // A one-value container block.
    static std::vector<uint8_t> OneValue(uint16_t itemType, uint32_t value);
    static std::vector<uint8_t> Array(uint16_t itemType, const std::vector<uint32_t>& items);
    // Answers a capability GET from a hook with a one-value.
    static uint16_t AnswerOneValue(FakeDsmContext& c, uint16_t itemType, uint32_t value);
    void SetCap(uint16_t cap, uint16_t conType, std::vector<uint8_t> block) { caps[cap] = {conType, std::move(block)}; }
};

inline void FakeDsmState::Reset() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    static_cast<FakeDsmData&>(*this) = FakeDsmData{};
}

inline bool FakeDsmState::Post(uint16_t twainMsg) {
    if (twainMsg == MSG_XFERREADY) xferReady = true;
    TwnWindow* w = uiParent ? uiParent : parent;
    if (!w || w->magic != TwnWindowMagic || !w->post) return false;
    return w->post(w, FakeDsmMsgBase + twainMsg, 0, 0) == 0;
}

inline std::vector<FakeDsmCall> FakeDsmState::Log() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return log;
}

inline std::vector<FakeDsmCall> FakeDsmState::Calls(uint16_t dat, uint16_t msg) {
    std::vector<FakeDsmCall> found;
    for (const FakeDsmCall& c : Log())
        if (c.dat == dat && c.msg == msg) found.push_back(c);
    return found;
}

inline std::vector<uint8_t> FakeDsmState::OneValue(uint16_t itemType, uint32_t value) {
    return {uint8_t(itemType), uint8_t(itemType >> 8), uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
            uint8_t(value >> 24)};
}

inline std::vector<uint8_t> FakeDsmState::Array(uint16_t itemType, const std::vector<uint32_t>& items) {
    const uint32_t isz = TwnItemSize(itemType);
    std::vector<uint8_t> b{uint8_t(itemType), uint8_t(itemType >> 8)};
    const uint32_t n = uint32_t(items.size());
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(n >> (8 * i)));
    for (uint32_t v : items)
        for (uint32_t i = 0; i < isz; ++i) b.push_back(i < 4 ? uint8_t(v >> (8 * i)) : 0);
    return b;
}

inline uint16_t FakeDsmState::AnswerOneValue(FakeDsmContext& c, uint16_t itemType, uint32_t value) {
    auto* cap = static_cast<TW_CAPABILITY*>(c.data);
    const auto v = OneValue(itemType, value);
    cap->hContainer = TwnGlobal::alloc(v.size());
    std::memcpy(TwnGlobal::lock(cap->hContainer), v.data(), v.size());
    TwnGlobal::unlock(cap->hContainer);
    cap->ConType = TWON_ONEVALUE;
    return TWRC_SUCCESS;
}

extern "C" FakeDsmState* FakeDsm_State();
