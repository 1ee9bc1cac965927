// What the SANE bridge and its progress window say to each other: records
// of two little-endian 32-bit integers (a kind and a value), one a packet,
// on the socket the window finds on descriptor 3. The bridge closes it when
// the scan is over; the window then ends.
#pragma once

#include <cstdint>

constexpr const char* SaneProgressProgram = "visara_saneprogress";
constexpr int SaneProgressFd = 3;
constexpr uint32_t SaneProgressRecord = 8;

enum TSaneProgressKind : uint32_t {
    SaneProgressPermille = 1,  // bridge to window: per mille done, 0xffffffff unknown
    SaneProgressCancel = 2,    // window to bridge: the user cancelled (Cancel, Esc, the window closed)
};

inline void SaneProgressPut(uint8_t* record, uint32_t kind, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        record[i] = uint8_t(kind >> (8 * i));
        record[4 + i] = uint8_t(value >> (8 * i));
    }
}

inline uint32_t SaneProgressField(const uint8_t* record, int at) {
    return uint32_t(record[at]) | uint32_t(record[at + 1]) << 8 | uint32_t(record[at + 2]) << 16 |
           uint32_t(record[at + 3]) << 24;
}
