#include "SaneScanner.h"

#include <sane/saneopts.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "QelGeometry.h"

namespace {

// Limits on what a backend may announce.
constexpr int64_t MaxPixelsPerLine = SaneMaxImageSide;
constexpr int64_t MaxLines = SaneMaxImageSide;
constexpr uint64_t MaxFrameBytes = uint64_t(1) << 30;
// Progress goes out at most this often while bytes come.
constexpr auto ProgressInterval = std::chrono::milliseconds(100);

bool ContainsNoCase(const std::string& text, const char* word) {
    std::string a = text, b = word;
    std::transform(a.begin(), a.end(), a.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    std::transform(b.begin(), b.end(), b.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return a.find(b) != std::string::npos;
}

bool IsFeederSource(const std::string& s) {
    return ContainsNoCase(s, "adf") || ContainsNoCase(s, "feeder") || ContainsNoCase(s, "automatic");
}

}  // namespace

TSaneDevice::TSaneDevice() : FWake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TSaneDevice::~TSaneDevice() {
    Close();
    if (FWake >= 0) close(FWake);
}

SANE_Status TSaneDevice::Open(const std::string& name) {
    Close();
    SANE_Handle h = nullptr;
    const SANE_Status status = sane_open(name.c_str(), &h);
    if (status == SANE_STATUS_GOOD) {
        std::lock_guard<std::mutex> lock(FCancelMutex);
        FHandle.store(h);
    }
    return status;
}

void TSaneDevice::Close() {
    SANE_Handle h;
    {
        std::lock_guard<std::mutex> lock(FCancelMutex);
        h = FHandle.exchange(nullptr);
    }
    if (!h) return;
    sane_cancel(h);
    sane_close(h);
}

void TSaneDevice::EndBatch() {
    if (SANE_Handle h = FHandle.load()) sane_cancel(h);
}

void TSaneDevice::Cancel() {
    // From here only a read that blocks in the backend is cancelled: anywhere
    // else the main thread may be inside the backend (starting a frame,
    // setting it up, or reading without blocking), whose state a cancel
    // would change under it; it is woken and cancels itself.
    std::lock_guard<std::mutex> lock(FCancelMutex);
    SANE_Handle h = FHandle.load();
    if (FReading && !FSelectable && h) {
        sane_cancel(h);
        return;
    }
    FCancelAsked = true;
    const uint64_t one = 1;
    static_cast<void>(write(FWake, &one, sizeof one));
}

// The reads of a frame begin, with or without blocking: a cancel asked for
// until now ends the scan.
bool TSaneDevice::BeginReading(bool selectable) {
    std::lock_guard<std::mutex> lock(FCancelMutex);
    FSelectable = selectable;
    FReading = !FCancelAsked;
    return FReading;
}

bool TSaneDevice::CancelAsked() {
    std::lock_guard<std::mutex> lock(FCancelMutex);
    return FCancelAsked;
}

void TSaneDevice::EndReading() {
    std::lock_guard<std::mutex> lock(FCancelMutex);
    FReading = false;
}

const SANE_Option_Descriptor* TSaneDevice::Descriptor(int index) {
    SANE_Handle h = FHandle.load();
    return h ? sane_get_option_descriptor(h, index) : nullptr;
}

int TSaneDevice::FindOption(const char* name) {
    SANE_Handle h = FHandle.load();
    if (!h) return -1;
    for (int i = 1; i < 10000; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
        if (!d) break;
        if (d->name && std::strcmp(d->name, name) == 0 && SANE_OPTION_IS_ACTIVE(d->cap)) return i;
    }
    return -1;
}

bool TSaneDevice::GetWord(int index, SANE_Word& value) {
    const SANE_Option_Descriptor* d = index >= 0 ? Descriptor(index) : nullptr;
    if (!d || d->size < SANE_Int(sizeof(SANE_Word)) ||
        (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED && d->type != SANE_TYPE_BOOL))
        return false;
    std::vector<SANE_Word> buffer(size_t(d->size) / sizeof(SANE_Word) + 1);
    if (sane_control_option(FHandle.load(), index, SANE_ACTION_GET_VALUE, buffer.data(), nullptr) != SANE_STATUS_GOOD)
        return false;
    value = buffer[0];
    return true;
}

bool TSaneDevice::SetWord(int index, SANE_Word value) {
    const SANE_Option_Descriptor* d = index >= 0 ? Descriptor(index) : nullptr;
    if (!d || !SANE_OPTION_IS_SETTABLE(d->cap) || d->size < SANE_Int(sizeof(SANE_Word))) return false;
    // A word array takes the value in every element.
    std::vector<SANE_Word> buffer(size_t(d->size) / sizeof(SANE_Word), value);
    SANE_Int info = 0;
    return sane_control_option(FHandle.load(), index, SANE_ACTION_SET_VALUE, buffer.data(), &info) == SANE_STATUS_GOOD;
}

std::string TSaneDevice::GetString(int index) {
    const SANE_Option_Descriptor* d = index >= 0 ? Descriptor(index) : nullptr;
    if (!d || d->type != SANE_TYPE_STRING || d->size <= 0 || d->size > 65536) return std::string();
    std::vector<char> buffer(size_t(d->size) + 1, 0);
    if (sane_control_option(FHandle.load(), index, SANE_ACTION_GET_VALUE, buffer.data(), nullptr) != SANE_STATUS_GOOD)
        return std::string();
    return std::string(buffer.data(), strnlen(buffer.data(), size_t(d->size)));
}

bool TSaneDevice::SetString(int index, const std::string& value) {
    const SANE_Option_Descriptor* d = index >= 0 ? Descriptor(index) : nullptr;
    if (!d || d->type != SANE_TYPE_STRING || !SANE_OPTION_IS_SETTABLE(d->cap) || d->size <= 0 ||
        value.size() >= size_t(d->size))
        return false;
    std::vector<char> buffer(size_t(d->size), 0);
    std::memcpy(buffer.data(), value.data(), value.size());
    SANE_Int info = 0;
    return sane_control_option(FHandle.load(), index, SANE_ACTION_SET_VALUE, buffer.data(), &info) == SANE_STATUS_GOOD;
}

std::vector<std::string> TSaneDevice::Modes() {
    std::vector<std::string> modes;
    const int i = FindOption(SANE_NAME_SCAN_MODE);
    const SANE_Option_Descriptor* d = i >= 0 ? Descriptor(i) : nullptr;
    if (d && d->constraint_type == SANE_CONSTRAINT_STRING_LIST)
        for (int k = 0; d->constraint.string_list[k] && k < 256; ++k) modes.push_back(d->constraint.string_list[k]);
    return modes;
}

std::string TSaneDevice::Mode() { return GetString(FindOption(SANE_NAME_SCAN_MODE)); }
bool TSaneDevice::SetMode(const std::string& mode) { return SetString(FindOption(SANE_NAME_SCAN_MODE), mode); }

std::vector<int> TSaneDevice::Depths() {
    std::vector<int> depths;
    const int i = FindOption(SANE_NAME_BIT_DEPTH);
    const SANE_Option_Descriptor* d = i >= 0 ? Descriptor(i) : nullptr;
    if (d && d->constraint_type == SANE_CONSTRAINT_WORD_LIST)
        for (int k = 1; k <= d->constraint.word_list[0] && k < 256; ++k) depths.push_back(d->constraint.word_list[k]);
    SANE_Word v;
    if (depths.empty() && GetWord(i, v)) depths.push_back(v);
    return depths;
}

bool TSaneDevice::SetDepth(int depth) { return SetWord(FindOption(SANE_NAME_BIT_DEPTH), depth); }

bool TSaneDevice::ResolutionRange(double& min, double& max, double& step, std::vector<double>& list) {
    const int i = FindOption(SANE_NAME_SCAN_RESOLUTION);
    const SANE_Option_Descriptor* d = i >= 0 ? Descriptor(i) : nullptr;
    if (!d) return false;
    auto toDouble = [d](SANE_Word w) { return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : double(w); };
    list.clear();
    if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
        min = toDouble(d->constraint.range->min);
        max = toDouble(d->constraint.range->max);
        step = toDouble(d->constraint.range->quant);
    } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
        for (int k = 1; k <= d->constraint.word_list[0] && k < 1024; ++k) list.push_back(toDouble(d->constraint.word_list[k]));
        if (list.empty()) return false;
        min = *std::min_element(list.begin(), list.end());
        max = *std::max_element(list.begin(), list.end());
        step = 0;
    } else {
        min = max = Resolution();
        step = 0;
    }
    return true;
}

double TSaneDevice::Resolution() {
    const int i = FindOption(SANE_NAME_SCAN_RESOLUTION);
    const SANE_Option_Descriptor* d = i >= 0 ? Descriptor(i) : nullptr;
    SANE_Word v;
    if (!d || !GetWord(i, v)) return 0;
    return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(v) : double(v);
}

bool TSaneDevice::SetResolution(double dpi) {
    const int i = FindOption(SANE_NAME_SCAN_RESOLUTION);
    const SANE_Option_Descriptor* d = i >= 0 ? Descriptor(i) : nullptr;
    if (!d || !std::isfinite(dpi) || dpi <= 0 || dpi > 1e6) return false;
    return SetWord(i, d->type == SANE_TYPE_FIXED ? SANE_FIX(dpi) : SANE_Word(QelRoundEven(dpi)));
}

bool TSaneDevice::Area(double& l, double& t, double& r, double& b) {
    const char* names[4] = {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y};
    double* out[4] = {&l, &t, &r, &b};
    for (int k = 0; k < 4; ++k) {
        const int i = FindOption(names[k]);
        const SANE_Option_Descriptor* d = i >= 0 ? Descriptor(i) : nullptr;
        SANE_Word v;
        if (!d || d->unit != SANE_UNIT_MM || !GetWord(i, v)) return false;
        *out[k] = d->type == SANE_TYPE_FIXED ? SANE_UNFIX(v) : double(v);
    }
    return true;
}

bool TSaneDevice::SetArea(double l, double t, double r, double b) {
    const char* names[4] = {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y};
    const double values[4] = {l, t, r, b};
    bool ok = true;
    for (int k = 0; k < 4; ++k) {
        const int i = FindOption(names[k]);
        const SANE_Option_Descriptor* d = i >= 0 ? Descriptor(i) : nullptr;
        if (!d || !std::isfinite(values[k])) return false;
        ok = SetWord(i, d->type == SANE_TYPE_FIXED ? SANE_FIX(values[k]) : SANE_Word(QelRoundEven(values[k]))) && ok;
    }
    return ok;
}

bool TSaneDevice::HasFeeder() {
    const int i = FindOption(SANE_NAME_SCAN_SOURCE);
    const SANE_Option_Descriptor* d = i >= 0 ? Descriptor(i) : nullptr;
    if (!d || d->constraint_type != SANE_CONSTRAINT_STRING_LIST) return false;
    for (int k = 0; d->constraint.string_list[k] && k < 256; ++k)
        if (IsFeederSource(d->constraint.string_list[k])) return true;
    return false;
}

bool TSaneDevice::FeederEnabled() { return IsFeederSource(GetString(FindOption(SANE_NAME_SCAN_SOURCE))); }

bool TSaneDevice::SetFeederEnabled(bool on) {
    const int i = FindOption(SANE_NAME_SCAN_SOURCE);
    const SANE_Option_Descriptor* d = i >= 0 ? Descriptor(i) : nullptr;
    if (!d || d->constraint_type != SANE_CONSTRAINT_STRING_LIST) return !on;
    for (int k = 0; d->constraint.string_list[k] && k < 256; ++k)
        if (IsFeederSource(d->constraint.string_list[k]) == on) return SetString(i, d->constraint.string_list[k]);
    return false;
}

bool TSaneDevice::SetOptionText(const std::string& name, const std::string& value) {
    const int i = FindOption(name.c_str());
    const SANE_Option_Descriptor* d = i >= 0 ? Descriptor(i) : nullptr;
    if (!d) return false;
    switch (d->type) {
        case SANE_TYPE_STRING: return SetString(i, value);
        case SANE_TYPE_BOOL: return SetWord(i, value == "1" || value == "true" || value == "yes" ? SANE_TRUE : SANE_FALSE);
        // Numbers are read locale-free: a decimal point whatever the locale.
        case SANE_TYPE_INT: {
            SANE_Word v = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), v);
            return error == std::errc() && end == value.data() + value.size() && SetWord(i, v);
        }
        case SANE_TYPE_FIXED: {
            double v = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), v);
            return error == std::errc() && end == value.data() + value.size() && std::isfinite(v) &&
                   std::fabs(v) < 32768 && SetWord(i, SANE_FIX(v));
        }
        default: return false;
    }
}

void TSaneDevice::ApplyDefaults() {
    for (const std::string& m : Modes())
        if (ContainsNoCase(m, "color") || ContainsNoCase(m, "colour")) {
            SetMode(m);
            break;
        }
    double min = 0, max = 0, step = 0;
    std::vector<double> list;
    if (!ResolutionRange(min, max, step, list)) return;
    double dpi = 300;
    if (!list.empty()) {
        dpi = list[0];
        for (double r : list)
            if (std::fabs(r - 300) < std::fabs(dpi - 300)) dpi = r;
    } else {
        dpi = std::clamp(300.0, min, max);
        if (step > 0) dpi = std::min(max, min + QelRoundEven((dpi - min) / step) * step);
    }
    SetResolution(dpi);
}

// --- Scanning -------------------------------------------------------------------------

TSaneOptions TSaneDevice::Options() {
    TSaneOptions o;
    o.Modes = Modes();
    o.Mode = Mode();
    o.Depths = Depths();
    SANE_Word depth = -1;
    if (GetWord(FindOption(SANE_NAME_BIT_DEPTH), depth)) o.Depth = depth;
    o.Resolution = Resolution();
    o.HasResolution = ResolutionRange(o.ResolutionMin, o.ResolutionMax, o.ResolutionStep, o.Resolutions);
    o.HasArea = Area(o.Left, o.Top, o.Right, o.Bottom);
    o.HasFeeder = HasFeeder();
    o.FeederEnabled = FeederEnabled();
    return o;
}

// --- Scanning -------------------------------------------------------------------------

SANE_Status TSaneDevice::ReadFrame(const SANE_Parameters& p, std::vector<uint8_t>& data, uint32_t frame,
                                   uint32_t frames, const TSaneProgress& progress) {
    SANE_Handle h = FHandle.load();
    const uint64_t expected = p.lines >= 0 ? uint64_t(p.lines) * uint64_t(p.bytes_per_line) : 0;
    data.clear();
    if (p.lines >= 0) data.reserve(size_t(expected));
    std::vector<SANE_Byte> buffer(65536);
    // Where the backend reads without blocking and names a descriptor to
    // wait on, this thread waits on it and on a cancel, and cancels itself;
    // otherwise the read blocks and a cancel comes from the socket's thread.
    SANE_Int ready = -1;
    const bool selectable = FWake >= 0 && sane_set_io_mode(h, SANE_TRUE) == SANE_STATUS_GOOD &&
                            sane_get_select_fd(h, &ready) == SANE_STATUS_GOOD && ready >= 0;
    if (!selectable) sane_set_io_mode(h, SANE_FALSE);
    if (!BeginReading(selectable)) return SANE_STATUS_CANCELLED;
    SANE_Status status = SANE_STATUS_GOOD;
    auto told = std::chrono::steady_clock::now();
    bool cancelled = false;
    for (;;) {
        SANE_Int got = 0;
        status = sane_read(h, buffer.data(), SANE_Int(buffer.size()), &got);
        if (status != SANE_STATUS_GOOD) break;
        if (got < 0 || size_t(got) > buffer.size()) {
            status = SANE_STATUS_IO_ERROR;
            break;
        }
        if (got == 0 && selectable) {
            if (cancelled) {  // a backend that reads on after its cancel
                status = SANE_STATUS_CANCELLED;
                break;
            }
            pollfd wait[2] = {{ready, POLLIN, 0}, {FWake, POLLIN, 0}};
            poll(wait, 2, -1);
            if (CancelAsked()) {
                cancelled = true;
                sane_cancel(h);
            }
            continue;
        }
        data.insert(data.end(), buffer.begin(), buffer.begin() + got);
        // More than announced, or more than we take at all.
        if ((p.lines >= 0 && data.size() > expected) || data.size() > MaxFrameBytes) {
            status = SANE_STATUS_IO_ERROR;
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (got > 0 && now - told >= ProgressInterval) {
            told = now;
            const uint32_t permille =
                expected == 0 ? SaneNoPermille
                              : uint32_t((uint64_t(frame) * 1000 + data.size() * 1000 / expected) / frames);
            progress(false, permille, data.size());
        }
    }
    EndReading();
    if (status == SANE_STATUS_EOF) {
        status = SANE_STATUS_GOOD;
        if (p.lines >= 0 && data.size() != expected) status = SANE_STATUS_IO_ERROR;  // a short frame
    }
    return status;
}

SANE_Status TSaneDevice::Scan(TSaneImage& image, bool keepBatch, const TSaneProgress& progress) {
    image = TSaneImage{};
    const double resolution = Resolution();
    SANE_Handle h = FHandle.load();
    if (!h) return SANE_STATUS_INVAL;
    SANE_Status status = SANE_STATUS_GOOD;
    {
        std::lock_guard<std::mutex> lock(FCancelMutex);
        FCancelAsked = false;
        uint64_t drained;
        while (read(FWake, &drained, sizeof drained) > 0) {
        }
    }
    try {
        status = sane_start(h);
        bool first = true;
        uint32_t frame = 0;
        while (status == SANE_STATUS_GOOD) {
            SANE_Parameters p{};
            status = sane_get_parameters(h, &p);
            if (status != SANE_STATUS_GOOD) break;
            const int channels = p.format == SANE_FRAME_RGB ? 3 : 1;
            const uint64_t needBits = uint64_t(std::max(p.pixels_per_line, 0)) * uint64_t(channels) * uint64_t(p.depth);
            if ((p.depth != 1 && p.depth != 8 && p.depth != 16) || p.pixels_per_line <= 0 ||
                p.pixels_per_line > MaxPixelsPerLine || p.lines > MaxLines || p.lines == 0 || p.lines < -1 ||
                p.bytes_per_line <= 0 || uint64_t(p.bytes_per_line) * 8 < needBits ||
                p.format > SANE_FRAME_BLUE) {
                status = SANE_STATUS_IO_ERROR;
                break;
            }
            progress(true, 0, 0);
            const bool separate = p.format == SANE_FRAME_RED || p.format == SANE_FRAME_GREEN ||
                                  p.format == SANE_FRAME_BLUE;
            std::vector<uint8_t> data;
            status = ReadFrame(p, data, frame++, separate ? 3 : 1, progress);
            if (status != SANE_STATUS_GOOD) break;
            const int64_t lines = p.lines >= 0 ? p.lines : int64_t(data.size() / size_t(p.bytes_per_line));
            if (lines <= 0 || lines > MaxLines) {
                status = SANE_STATUS_IO_ERROR;
                break;
            }
            if (first) {
                image.Width = p.pixels_per_line;
                image.Height = int32_t(lines);
                image.Channels = separate || p.format == SANE_FRAME_RGB ? 3 : 1;
                image.Rows.assign(size_t(image.RowBytes() * uint64_t(lines)), 0);
            } else if (p.pixels_per_line != image.Width || lines != image.Height || !separate) {
                status = SANE_STATUS_IO_ERROR;  // the frames of one image disagree
                break;
            }
            first = false;
            // Samples to 8 bits: 16-bit keeps its high byte, 1-bit grey is 1 = black.
            const int target = p.format == SANE_FRAME_GREEN ? 1 : (p.format == SANE_FRAME_BLUE ? 2 : 0);
            for (int64_t y = 0; y < lines; ++y) {
                const uint8_t* row = data.data() + uint64_t(y) * uint64_t(p.bytes_per_line);
                uint8_t* out = image.Rows.data() + uint64_t(y) * image.RowBytes();
                for (int32_t x = 0; x < p.pixels_per_line; ++x)
                    for (int c = 0; c < channels; ++c) {
                        const uint64_t s = uint64_t(x) * uint64_t(channels) + uint64_t(c);
                        uint8_t v;
                        if (p.depth == 8) v = row[s];
                        else if (p.depth == 16) {
                            uint16_t w;
                            std::memcpy(&w, row + 2 * s, 2);
                            v = uint8_t(w >> 8);
                        } else {
                            const bool bit = (row[s / 8] >> (7 - s % 8)) & 1;
                            v = p.format == SANE_FRAME_GRAY ? (bit ? 0 : 255) : (bit ? 255 : 0);
                        }
                        if (separate) out[uint64_t(x) * 3 + uint64_t(target)] = v;
                        else out[s] = v;
                    }
            }
            if (p.last_frame) break;
            status = sane_start(h);
        }
    } catch (const std::bad_alloc&) {
        status = SANE_STATUS_NO_MEM;
    }
    FScanEnded = status != SANE_STATUS_GOOD || !keepBatch;
    image.XResolution = image.YResolution = resolution > 0 ? resolution : 300;
    if (status != SANE_STATUS_GOOD) image = TSaneImage{};
    return status;
}

void TSaneDevice::EndScan() {
    if (!FScanEnded) return;
    FScanEnded = false;
    if (SANE_Handle h = FHandle.load()) sane_cancel(h);
}
