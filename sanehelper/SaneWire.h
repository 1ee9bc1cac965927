// What the SANE bridge and its helper process say to each other over their
// socket: frames of a 32-bit size, a 32-bit kind and the kind's fields, every
// integer little-endian and of fixed width, texts as a 32-bit length and
// UTF-8 bytes, measures (dots per inch, millimetres) as 64-bit millionths. A reader checks every size and count against the limits here
// before it trusts it, as the helper runs foreign code. No Qt, no SANE.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <sys/socket.h>

// The bridge's requests.
enum TSaneRequest : uint32_t {
    SaneReqList = 1,      // -> SaneRepDevices
    SaneReqOpen = 2,      // name, options (name, value) -> SaneRepOpened
    SaneReqSet = 3,       // TSaneSetting, its value -> SaneRepOptions
    SaneReqScan = 4,      // keep the batch, fail (tests) -> Started, Progress, Image, Data, ScanEnd
    SaneReqCancel = 5,    // no answer: the running scan ends with its ScanEnd
    SaneReqEndBatch = 6,  // -> SaneRepDone
    SaneReqClose = 7,     // -> SaneRepDone
};

// The helper's answers.
enum TSaneReply : uint32_t {
    SaneRepReady = 100,     // SANE's status from its initialisation
    SaneRepDevices = 101,   // count, then name, vendor, model of each
    SaneRepOpened = 102,    // SANE's status, then the options
    SaneRepOptions = 103,   // taken (u8), then the options
    SaneRepStarted = 104,   // a frame started: the device answers
    SaneRepProgress = 105,  // per mille of the image (SaneNoPermille: unknown), bytes read so far
    SaneRepImage = 106,     // width, height, channels, x and y resolution
    SaneRepData = 107,      // the next rows' bytes
    SaneRepScanEnd = 108,   // SANE's status
    SaneRepDone = 109,
};

// What a SaneReqSet changes.
enum TSaneSetting : uint32_t {
    SaneSetMode = 1,        // text
    SaneSetDepth = 2,       // i32
    SaneSetResolution = 3,  // dots per inch
    SaneSetArea = 4,        // left, top, right, bottom in millimetres
    SaneSetFeeder = 5,      // u8
};

constexpr uint32_t SaneNoPermille = 0xffffffffu;

// Limits on what either side accepts.
constexpr uint32_t SaneMaxFrame = 4u << 20;        // one frame's kind and fields
constexpr uint32_t SaneMaxChunk = 1u << 20;        // image bytes in one SaneRepData
constexpr uint32_t SaneMaxText = 4096;             // one text
constexpr uint32_t SaneMaxDevices = 4096;
constexpr uint32_t SaneMaxListItems = 1024;        // modes, depths, resolutions
constexpr int32_t SaneMaxImageSide = 200000;       // pixels per line, lines
constexpr uint64_t SaneMaxImageBytes = uint64_t(1) << 31;
constexpr int64_t SaneMaxMicro = int64_t(1) << 50;  // any value in micro-units

// A double as a whole number of millionths, within SaneMaxMicro.
inline int64_t SaneMicro(double v) {
    if (!std::isfinite(v)) return 0;
    const double m = std::nearbyint(v * 1e6);
    return m > double(SaneMaxMicro) ? SaneMaxMicro : (m < -double(SaneMaxMicro) ? -SaneMaxMicro : int64_t(m));
}
inline double SaneFromMicro(int64_t v) { return double(v) / 1e6; }

// A frame's fields as they are written.
class TSaneWriter {
public:
    explicit TSaneWriter(uint32_t kind) {
        Put(0, 4);
        Put(kind, 4);
    }
    TSaneWriter& U8(uint8_t v) { return Put(v, 1); }
    TSaneWriter& U32(uint32_t v) { return Put(v, 4); }
    TSaneWriter& I32(int32_t v) { return Put(uint32_t(v), 4); }
    TSaneWriter& U64(uint64_t v) { return Put(v, 8); }
    TSaneWriter& I64(int64_t v) { return Put(uint64_t(v), 8); }
    TSaneWriter& Text(const std::string& s) {
        const size_t n = s.size() < SaneMaxText ? s.size() : SaneMaxText;
        U32(uint32_t(n));
        FBytes.insert(FBytes.end(), s.begin(), s.begin() + std::ptrdiff_t(n));
        return *this;
    }
    TSaneWriter& Bytes(const uint8_t* p, size_t n) {
        FBytes.insert(FBytes.end(), p, p + n);
        return *this;
    }
    // The whole frame, its size filled in.
    const std::vector<uint8_t>& Frame() {
        const uint32_t size = uint32_t(FBytes.size() - 4);
        for (int i = 0; i < 4; ++i) FBytes[size_t(i)] = uint8_t(size >> (8 * i));
        return FBytes;
    }

private:
    TSaneWriter& Put(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) FBytes.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }
    std::vector<uint8_t> FBytes;
};

// A received frame's fields, read in order. A read past the end, a text or
// count over its limit fails the reader for good; the caller checks Ok()
// (and AtEnd()) before it uses what it read.
class TSaneReader {
public:
    TSaneReader(const uint8_t* p, size_t n) : FAt(p), FEnd(p + n) {}
    uint8_t U8() { return uint8_t(Get(1)); }
    uint32_t U32() { return uint32_t(Get(4)); }
    int32_t I32() { return int32_t(uint32_t(Get(4))); }
    uint64_t U64() { return Get(8); }
    int64_t I64() { return int64_t(Get(8)); }
    // A micro-unit value within SaneMaxMicro.
    int64_t Micro() {
        const int64_t v = I64();
        if (v > SaneMaxMicro || v < -SaneMaxMicro) FOk = false;
        return FOk ? v : 0;
    }
    std::string Text() {
        const uint32_t n = U32();
        if (!FOk || n > SaneMaxText || n > Left()) {
            FOk = false;
            return std::string();
        }
        std::string s(reinterpret_cast<const char*>(FAt), n);
        FAt += n;
        return s;
    }
    // A count of items of at least itemBytes each, within limit.
    uint32_t Count(uint32_t limit, size_t itemBytes) {
        const uint32_t n = U32();
        if (!FOk || n > limit || uint64_t(n) * itemBytes > Left()) {
            FOk = false;
            return 0;
        }
        return n;
    }
    const uint8_t* Rest(size_t& n) {
        n = Left();
        const uint8_t* p = FAt;
        FAt = FEnd;
        return p;
    }
    bool Ok() const { return FOk; }
    bool AtEnd() const { return FOk && FAt == FEnd; }

private:
    size_t Left() const { return size_t(FEnd - FAt); }
    uint64_t Get(int n) {
        if (!FOk || Left() < size_t(n)) {
            FOk = false;
            return 0;
        }
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint64_t(FAt[i]) << (8 * i);
        FAt += n;
        return v;
    }
    const uint8_t* FAt;
    const uint8_t* FEnd;
    bool FOk = true;
};

// A scanned image: top-down rows of width x channels bytes (1: grey with 0
// black, 3: R, G, B), 8 bits per sample.
struct TSaneImage {
    int32_t Width = 0;
    int32_t Height = 0;
    int Channels = 0;
    double XResolution = 0;
    double YResolution = 0;
    std::vector<uint8_t> Rows;

    uint64_t RowBytes() const { return uint64_t(Width) * uint64_t(Channels); }
};

// A device's options as the bridge maps them onto capabilities: sent after
// the device opens and after every change, so that reading a capability
// asks the helper nothing.
struct TSaneOptions {
    std::vector<std::string> Modes;
    std::string Mode;
    std::vector<int32_t> Depths;
    int32_t Depth = -1;  // -1: no depth option
    bool HasResolution = false;
    double ResolutionMin = 0, ResolutionMax = 0, ResolutionStep = 0, Resolution = 0;
    std::vector<double> Resolutions;  // a list instead of a range
    bool HasArea = false;
    double Left = 0, Top = 0, Right = 0, Bottom = 0;  // millimetres
    bool HasFeeder = false;
    bool FeederEnabled = false;

    void Write(TSaneWriter& w) const {
        w.U32(uint32_t(Modes.size()));
        for (const std::string& m : Modes) w.Text(m);
        w.Text(Mode).U32(uint32_t(Depths.size()));
        for (int32_t d : Depths) w.I32(d);
        w.I32(Depth).U8(HasResolution).I64(SaneMicro(ResolutionMin)).I64(SaneMicro(ResolutionMax));
        w.I64(SaneMicro(ResolutionStep)).I64(SaneMicro(Resolution)).U32(uint32_t(Resolutions.size()));
        for (double r : Resolutions) w.I64(SaneMicro(r));
        w.U8(HasArea).I64(SaneMicro(Left)).I64(SaneMicro(Top)).I64(SaneMicro(Right)).I64(SaneMicro(Bottom));
        w.U8(HasFeeder).U8(FeederEnabled);
    }
    bool Read(TSaneReader& r) {
        Modes.resize(r.Count(SaneMaxListItems, 4));
        for (std::string& m : Modes) m = r.Text();
        Mode = r.Text();
        Depths.resize(r.Count(SaneMaxListItems, 4));
        for (int32_t& d : Depths) d = r.I32();
        Depth = r.I32();
        HasResolution = r.U8() != 0;
        ResolutionMin = SaneFromMicro(r.Micro());
        ResolutionMax = SaneFromMicro(r.Micro());
        ResolutionStep = SaneFromMicro(r.Micro());
        Resolution = SaneFromMicro(r.Micro());
        Resolutions.resize(r.Count(SaneMaxListItems, 8));
        for (double& v : Resolutions) v = SaneFromMicro(r.Micro());
        HasArea = r.U8() != 0;
        Left = SaneFromMicro(r.Micro());
        Top = SaneFromMicro(r.Micro());
        Right = SaneFromMicro(r.Micro());
        Bottom = SaneFromMicro(r.Micro());
        HasFeeder = r.U8() != 0;
        FeederEnabled = r.U8() != 0;
        return r.Ok();
    }
};

// A device as the helper lists it.
struct TSaneFound {
    std::string Name;
    std::string Vendor;
    std::string Model;
};

inline void SaneWriteDevices(TSaneWriter& w, const std::vector<TSaneFound>& devices) {
    w.U32(uint32_t(devices.size()));
    for (const TSaneFound& d : devices) w.Text(d.Name).Text(d.Vendor).Text(d.Model);
}

inline bool SaneReadDevices(TSaneReader& r, std::vector<TSaneFound>& devices) {
    devices.resize(r.Count(SaneMaxDevices, 12));
    for (TSaneFound& d : devices) {
        d.Name = r.Text();
        d.Vendor = r.Text();
        d.Model = r.Text();
    }
    return r.AtEnd();
}

// A scanned image as it comes: its header (SaneRepImage), then its bytes
// in pieces (SaneRepData), each checked against the header before memory
// is taken for it.
class TSaneImageIn {
public:
    bool Header(TSaneReader& r) {
        if (FHeader) return false;
        FHeader = true;
        Image.Width = r.I32();
        Image.Height = r.I32();
        Image.Channels = r.I32();
        Image.XResolution = SaneFromMicro(r.Micro());
        Image.YResolution = SaneFromMicro(r.Micro());
        if (!r.AtEnd() || Image.Width <= 0 || Image.Width > SaneMaxImageSide || Image.Height <= 0 ||
            Image.Height > SaneMaxImageSide || (Image.Channels != 1 && Image.Channels != 3))
            return false;
        FExpected = Image.RowBytes() * uint64_t(Image.Height);
        return FExpected <= SaneMaxImageBytes;
    }
    // False for bytes beyond the header's; throws std::bad_alloc.
    bool Data(TSaneReader& r) {
        size_t n = 0;
        const uint8_t* bytes = r.Rest(n);
        if (!FHeader || n > FExpected - Image.Rows.size()) return false;
        Image.Rows.insert(Image.Rows.end(), bytes, bytes + n);
        return true;
    }
    bool Complete() const { return FHeader && Image.Rows.size() == FExpected; }

    TSaneImage Image;

private:
    bool FHeader = false;
    uint64_t FExpected = 0;
};

// Collects frames from a stream of bytes read in pieces. A frame of an
// impossible size, wherever it lies in what came, breaks the stream for good.
class TSaneFrames {
public:
    // Takes n more bytes; false once the stream is broken.
    bool Take(const uint8_t* p, size_t n) {
        if (FBroken) return false;
        FBuffer.insert(FBuffer.end(), p, p + n);
        return Check();
    }
    // The next whole frame's kind and fields, if one is in.
    bool Next(uint32_t& kind, std::vector<uint8_t>& fields) {
        if (!Check() || FBuffer.size() < 4 || FBuffer.size() - 4 < Size()) return false;
        const uint32_t size = Size();
        kind = uint32_t(FBuffer[4]) | uint32_t(FBuffer[5]) << 8 | uint32_t(FBuffer[6]) << 16 |
               uint32_t(FBuffer[7]) << 24;
        fields.assign(FBuffer.begin() + 8, FBuffer.begin() + 4 + std::ptrdiff_t(size));
        FBuffer.erase(FBuffer.begin(), FBuffer.begin() + 4 + std::ptrdiff_t(size));
        return true;
    }
    bool Broken() const { return FBroken; }
    void Clear() {
        FBuffer.clear();
        FBroken = false;
    }

private:
    uint32_t Size() const {
        return uint32_t(FBuffer[0]) | uint32_t(FBuffer[1]) << 8 | uint32_t(FBuffer[2]) << 16 |
               uint32_t(FBuffer[3]) << 24;
    }
    bool Check() {
        if (FBuffer.size() >= 4 && (Size() < 4 || Size() > SaneMaxFrame)) FBroken = true;
        return !FBroken;
    }
    std::vector<uint8_t> FBuffer;
    bool FBroken = false;
};

// Sends all bytes on a blocking socket; false when the peer has gone.
inline bool SaneSendAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += size_t(n);
    }
    return true;
}

// The helper program's file name beside the bridge, and the descriptor of
// its socket (and of the progress window's).
constexpr const char* SaneHelperProgram = "visara_sane";
constexpr int SaneSocketFd = 3;
