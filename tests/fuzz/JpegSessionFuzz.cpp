// The lossless JPEG session: open and decode any file, then save it
// unchanged, with one pixel changed (comparing every block, and only the
// changed one), and after a quarter turn and a crop, as the editor does
// with a photo.
//
// An input that does not start like a JPEG (0xFF) is an edit program: its
// first byte holds flags, the next 15 bytes five steps of three bytes (an
// operation and two arguments), the rest is the file. The steps turn, flip,
// crop, resize, paint, shift the region, save a selection or hand the
// session a wild region, as the document does; every save is decoded back
// and must have the size of its region.
#include <QFile>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <turbojpeg.h>

#include "FuzzSupport.h"
#include "JlvxSession.h"

namespace {

bool SaveWhole(TJlvxSession& Session, std::vector<uint8_t>& Rows, int32_t Stride, const QString& Path,
               const std::vector<TQelRect>* Changed = nullptr) {
    Session.SetRegion(0, 0, Session.GetWidth(), Session.GetHeight());
    TJlvxSaveOptions options;
    options.Changed = Changed;
    const uint32_t sizes = Session.GetBlockSizes();
    options.BlockSize = int32_t(std::max(sizes & 0xFFFF, sizes >> 16));
    options.Pixels = Rows.data();
    options.Stride = Stride;
    return Session.Save(Path, options);
}

// The old steps: saves of the file as decoded, edited and turned.
void SaveVariants(TJlvxSession& session, const QString& target) {
    const int32_t w = session.GetWidth(), h = session.GetHeight();
    if (w <= 0 || h <= 0 || int64_t(w) * h > (int64_t(1) << 20)) return;
    const int32_t stride = (w * 3 + 3) & ~3;
    std::vector<uint8_t> rows(size_t(stride) * size_t(h));
    if (!session.Decode(rows.data(), stride, 0)) return;
    SaveWhole(session, rows, stride, target);
    rows[0] ^= 0x55;
    SaveWhole(session, rows, stride, target);
    // The same, comparing only around the changed pixel.
    const std::vector<TQelRect> changed = {TQelRect(0, 0, 1, 1)};
    SaveWhole(session, rows, stride, target, &changed);
    // A turn: the session's image is now h x w; the pixels follow.
    if (session.RotateLeft()) {
        const int32_t tw = session.GetWidth(), th = session.GetHeight();
        const int32_t tstride = (tw * 3 + 3) & ~3;
        std::vector<uint8_t> turned(size_t(tstride) * size_t(th), 0x80);
        SaveWhole(session, turned, tstride, target);
        if (tw > 1 && th > 1 && session.SetRegion(1, 1, tw, th)) {
            TJlvxSaveOptions options;
            options.BlockSize = 16;
            options.Pixels = turned.data() + tstride + 3;
            options.Stride = tstride;
            session.Save(target, options);
        }
    }
}

// Programs work on pictures up to this many pixels.
constexpr int64_t ProgramPixels = int64_t(1) << 18;

// The document's side: its pixels and changed rectangles, kept in step with
// the session as the graphics document keeps them.
struct TDocument {
    TJlvxSession& Session;
    const QString& Target;
    bool PassChanges;
    int32_t W = 0, H = 0;
    std::vector<uint8_t> Rows;
    bool Known = true;
    std::vector<TQelRect> Changes;

    int32_t Stride() const { return W * 3; }
    uint8_t* At(int32_t x, int32_t y) { return Rows.data() + (size_t(y) * size_t(W) + size_t(x)) * 3; }

    // New pixels of NW x NH, each from the old pixel From gives (none: black).
    void Remap(int32_t nw, int32_t nh, const std::function<bool(int32_t, int32_t, int32_t&, int32_t&)>& from) {
        std::vector<uint8_t> rows(size_t(nw) * size_t(nh) * 3, 0);
        for (int32_t y = 0; y < nh; ++y)
            for (int32_t x = 0; x < nw; ++x) {
                int32_t sx = 0, sy = 0;
                if (from(x, y, sx, sy)) std::memcpy(&rows[(size_t(y) * size_t(nw) + size_t(x)) * 3], At(sx, sy), 3);
            }
        Rows.swap(rows);
        W = nw;
        H = nh;
    }
    void MapChanges(const std::function<TQelRect(const TQelRect&)>& map) {
        for (TQelRect& r : Changes) r = map(r);
    }
    void Unknown() {
        Known = false;
        Changes.clear();
    }
    // A rectangle inside the picture from two bytes: the origin in steps of
    // the smallest block, so that crops often keep the grid, then the size
    // in sixteenths.
    TQelRect RectOf(uint8_t a, uint8_t b) const {
        const int32_t x0 = std::min(W - 1, (a & 15) * 8), y0 = std::min(H - 1, (a >> 4) * 8);
        return TQelRect(x0, y0, std::min(W, x0 + 1 + (b & 15) * W / 16), std::min(H, y0 + 1 + (b >> 4) * H / 16));
    }

    void Turn(int which) {
        const int32_t w = W, h = H;
        switch (which) {
        case 0:
            Remap(h, w, [w](int32_t x, int32_t y, int32_t& sx, int32_t& sy) { return sx = w - 1 - y, sy = x, true; });
            MapChanges([w](const TQelRect& s) { return TQelRect(s.Top, w - s.Right, s.Bottom, w - s.Left); });
            Session.RotateLeft();
            break;
        case 1:
            Remap(h, w, [h](int32_t x, int32_t y, int32_t& sx, int32_t& sy) { return sx = y, sy = h - 1 - x, true; });
            MapChanges([h](const TQelRect& s) { return TQelRect(h - s.Bottom, s.Left, h - s.Top, s.Right); });
            Session.RotateRight();
            break;
        case 2:
            Remap(w, h, [w](int32_t x, int32_t y, int32_t& sx, int32_t& sy) { return sx = w - 1 - x, sy = y, true; });
            MapChanges([w](const TQelRect& s) { return TQelRect(w - s.Right, s.Top, w - s.Left, s.Bottom); });
            Session.FlipHorizontal();
            break;
        default:
            Remap(w, h, [h](int32_t x, int32_t y, int32_t& sx, int32_t& sy) { return sx = x, sy = h - 1 - y, true; });
            MapChanges([h](const TQelRect& s) { return TQelRect(s.Left, h - s.Bottom, s.Right, h - s.Top); });
            Session.FlipVertical();
            break;
        }
    }
    // As the document crops: the session hears the origin rounded down to
    // its blocks.
    void Crop(const TQelRect& r) {
        const int32_t bw = std::max(1, Session.GetBlockWidth()), bh = std::max(1, Session.GetBlockHeight());
        const int32_t x0 = r.Left / bw * bw, y0 = r.Top / bh * bh;
        Session.SetRegion(x0, y0, x0 + r.Width(), y0 + r.Height());
        if (x0 != r.Left || y0 != r.Top) Unknown();
        MapChanges([&r](const TQelRect& s) {
            TQelRect moved;
            QelIntersectRect(moved, TQelRect(s.Left - r.Left, s.Top - r.Top, s.Right - r.Left, s.Bottom - r.Top),
                             TQelRect(0, 0, r.Width(), r.Height()));
            return moved;
        });
        Remap(r.Width(), r.Height(), [&r](int32_t x, int32_t y, int32_t& sx, int32_t& sy) {
            return sx = x + r.Left, sy = y + r.Top, true;
        });
    }
    // Nearest neighbours, so that flat areas stay equal to the file's.
    void Resize(int32_t nw, int32_t nh) {
        const int32_t w = W, h = H;
        Remap(nw, nh, [w, h, nw, nh](int32_t x, int32_t y, int32_t& sx, int32_t& sy) {
            return sx = int32_t(int64_t(x) * w / nw), sy = int32_t(int64_t(y) * h / nh), true;
        });
        Session.SetRegion(0, 0, nw, nh);
        Unknown();
    }
    void Paint(const TQelRect& r, uint8_t colour) {
        for (int32_t y = r.Top; y < r.Bottom; ++y)
            for (int32_t x = r.Left; x < r.Right; ++x) At(x, y)[x % 3] = colour;
        if (Known) Changes.push_back(r);
    }
    // The region moved by (Dx, Dy), reaching past the picture.
    void Shift(int32_t dx, int32_t dy) {
        const int32_t w = W, h = H;
        Session.SetRegion(dx, dy, dx + w, dy + h);
        Remap(w, h, [dx, dy, w, h](int32_t x, int32_t y, int32_t& sx, int32_t& sy) {
            sx = x + dx, sy = y + dy;
            return sx >= 0 && sy >= 0 && sx < w && sy < h;
        });
        Unknown();
    }
    // Saves R as the format table does; a written file must show R's size.
    void Save(const TQelRect& r) {
        if (!Session.SetRegion(r.Left, r.Top, r.Right, r.Bottom)) return;
        TJlvxSaveOptions options;
        const uint32_t sizes = Session.GetBlockSizes();
        options.BlockSize = int32_t(std::max(sizes & 0xFFFF, sizes >> 16));
        options.Pixels = At(r.Left, r.Top);
        options.Stride = Stride();
        std::vector<TQelRect> changed = Changes;
        if (PassChanges && Known) options.Changed = &changed;
        if (!Session.Save(Target, options)) return;
        QFile file(Target);
        const QByteArray saved = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        tjhandle h = tjInitDecompress();
        int width = 0, height = 0, subsamp = 0, colorspace = 0;
        const int rc = tjDecompressHeader3(h, reinterpret_cast<const unsigned char*>(saved.constData()),
                                           static_cast<unsigned long>(saved.size()), &width, &height, &subsamp,
                                           &colorspace);
        tjDestroy(h);
        if (rc != 0 || width != r.Width() || height != r.Height()) std::abort();
    }

    void Step(uint8_t op, uint8_t a, uint8_t b) {
        switch (op % 8) {
        case 1: Turn(a % 4); break;
        case 2: Crop(RectOf(a, b)); break;
        case 3: {
            // From a 32nd to 8 times each side.
            const int32_t nw = std::max<int32_t>(1, int32_t(int64_t(W) * (a + 1) / 32));
            const int32_t nh = std::max<int32_t>(1, int32_t(int64_t(H) * (b + 1) / 32));
            if (int64_t(nw) * nh <= ProgramPixels) Resize(nw, nh);
            break;
        }
        case 4: Paint(RectOf(a, b), uint8_t(a ^ b)); break;
        case 5: Save(RectOf(a, b)); break;
        case 6: Shift(int8_t(a), int8_t(b)); break;
        case 7:
            // A region far off, which the document never gives: the session
            // must take it safely or refuse it. The pixels stay as they are.
        {
            const int32_t left = int8_t(a) * (1 << (b % 24)), top = int8_t(b) * 7;
            Session.SetRegion(left, top, left + W, top + H);
            break;
        }
        default: break;
        }
    }
};

constexpr size_t ProgramSize = 16;

void RunProgram(TJlvxSession& session, const QString& target, const uint8_t* program) {
    TDocument doc{session, target, (program[0] & 1) != 0, session.GetWidth(), session.GetHeight(), {}, true, {}};
    if (doc.W <= 0 || doc.H <= 0 || int64_t(doc.W) * doc.H > ProgramPixels) return;
    doc.Rows.resize(size_t(doc.W) * size_t(doc.H) * 3);
    if (!session.Decode(doc.Rows.data(), doc.Stride(), 0)) return;
    for (size_t i = 1; i + 2 < ProgramSize; i += 3) doc.Step(program[i], program[i + 1], program[i + 2]);
    doc.Save(TQelRect(0, 0, doc.W, doc.H));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzStartQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static const QString source = FuzzScratchPath("session-in.jpg");
    static const QString target = FuzzScratchPath("session-out.jpg");
    const bool program = Size > 0 && Data[0] != 0xFF;
    if (program && Size < ProgramSize) return 0;
    const size_t skip = program ? ProgramSize : 0;
    if (!FuzzWriteFile(source, Data + skip, Size - skip)) return 0;
    TJlvxSession session;
    if (session.Open(source)) {
        if (program)
            RunProgram(session, target, Data);
        else
            SaveVariants(session, target);
    }
    QFile::remove(source);
    QFile::remove(target);
    return 0;
}
