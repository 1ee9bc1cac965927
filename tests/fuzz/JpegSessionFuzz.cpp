// The lossless JPEG session: open and decode any file, then save it
// unchanged, with one pixel changed (comparing every block, and only the
// changed one), and after a quarter turn and a crop, as the editor does
// with a photo.
// An input that does not start like a JPEG (0xFF) is a flag byte, five
// steps of three bytes (an operation, two arguments: turn, flip, crop,
// resize, paint, shift the region, save a selection, a wild region) and the
// file; every save must open back at its region's size.
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

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

// Programs work on pictures up to this many pixels.
constexpr int64_t ProgramPixels = int64_t(1) << 18;
constexpr size_t ProgramSize = 16;

// The document's side, its pixels and changed rectangles, kept in step with
// the session as the graphics document keeps them, so that unchanged MCUs
// reach the merge.
void RunProgram(TJlvxSession& session, const QString& target, const uint8_t* program) {
    if (session.GetWidth() <= 0 || int64_t(session.GetWidth()) * session.GetHeight() > ProgramPixels) return;
    QImage image(session.GetWidth(), session.GetHeight(), QImage::Format_RGB888);
    if (image.isNull() || !session.Decode(image.bits(), int32_t(image.bytesPerLine()), 0)) return;
    bool known = true;
    std::vector<TQelRect> changes;
    const auto unknown = [&] { known = false, changes.clear(); };
    // A rectangle inside the picture from two bytes: the origin in steps of
    // the smallest block, so that crops often keep the grid, then the size
    // in sixteenths.
    const auto rectOf = [&](uint8_t a, uint8_t b) {
        const int32_t w = image.width(), h = image.height();
        const int32_t x0 = std::min(w - 1, (a & 15) * 8), y0 = std::min(h - 1, (a >> 4) * 8);
        return TQelRect(x0, y0, std::min(w, x0 + 1 + (b & 15) * w / 16), std::min(h, y0 + 1 + (b >> 4) * h / 16));
    };
    // Saves R as the format table does; a written file must show R's size.
    const auto save = [&](const TQelRect& r) {
        if (!session.SetRegion(r.Left, r.Top, r.Right, r.Bottom)) return;
        TJlvxSaveOptions options;
        const uint32_t sizes = session.GetBlockSizes();
        options.BlockSize = int32_t(std::max(sizes & 0xFFFF, sizes >> 16));
        options.Pixels = image.bits() + size_t(r.Top) * size_t(image.bytesPerLine()) + size_t(r.Left) * 3;
        options.Stride = int32_t(image.bytesPerLine());
        std::vector<TQelRect> changed = changes;
        if ((program[0] & 1) != 0 && known) options.Changed = &changed;
        if (!session.Save(target, options)) return;
        TJlvxSession saved;
        if (!saved.Open(target) || saved.GetWidth() != r.Width() || saved.GetHeight() != r.Height()) std::abort();
    };
    for (const uint8_t* step = program + 1; step + 3 <= program + ProgramSize; step += 3) {
        const uint8_t a = step[1], b = step[2];
        const int32_t w = image.width(), h = image.height();
        switch (step[0] % 8) {
        case 1: {
            // Turned left or right, flipped across or down: the pixels, the
            // changed rectangles (their edges) and the session.
            const QTransform turn[4] = {{0, -1, 1, 0, 0, qreal(w)}, {0, 1, -1, 0, qreal(h), 0},
                                        {-1, 0, 0, 1, qreal(w), 0}, {1, 0, 0, -1, 0, qreal(h)}};
            for (TQelRect& r : changes) {
                const QRect m = turn[a % 4].mapRect(QRectF(r.Left, r.Top, r.Width(), r.Height())).toRect();
                r = TQelRect(m.x(), m.y(), m.x() + m.width(), m.y() + m.height());
            }
            image = image.transformed(turn[a % 4]);
            bool (TJlvxSession::*const turnSession[4])() = {&TJlvxSession::RotateLeft, &TJlvxSession::RotateRight,
                                                            &TJlvxSession::FlipHorizontal, &TJlvxSession::FlipVertical};
            (session.*turnSession[a % 4])();
            break;
        }
        case 2: {
            // As the document crops: the session hears the origin rounded
            // down to its blocks.
            const TQelRect r = rectOf(a, b);
            const int32_t bw = std::max(1, session.GetBlockWidth()), bh = std::max(1, session.GetBlockHeight());
            const int32_t x0 = r.Left / bw * bw, y0 = r.Top / bh * bh;
            session.SetRegion(x0, y0, x0 + r.Width(), y0 + r.Height());
            if (x0 != r.Left || y0 != r.Top) unknown();
            for (TQelRect& s : changes) {
                s.Offset(-r.Left, -r.Top);
                QelIntersectRect(s, s, TQelRect(0, 0, r.Width(), r.Height()));
            }
            image = image.copy(r.Left, r.Top, r.Width(), r.Height());
            break;
        }
        case 3: {
            // From a 32nd to 8 times each side, nearest neighbours, so that
            // flat areas stay equal to the file's.
            const int32_t nw = std::max<int32_t>(1, int32_t(int64_t(w) * (a + 1) / 32));
            const int32_t nh = std::max<int32_t>(1, int32_t(int64_t(h) * (b + 1) / 32));
            if (int64_t(nw) * nh > ProgramPixels) break;
            image = image.scaled(nw, nh);
            session.SetRegion(0, 0, nw, nh);
            unknown();
            break;
        }
        case 4: {
            const TQelRect r = rectOf(a, b);
            QPainter(&image).fillRect(r.Left, r.Top, r.Width(), r.Height(), QColor(a, b, a ^ b));
            if (known) changes.push_back(r);
            break;
        }
        case 5: save(rectOf(a, b)); break;
        case 6:
            // The region moved, reaching past the picture (black there).
            session.SetRegion(int8_t(a), int8_t(b), int8_t(a) + w, int8_t(b) + h);
            image = image.copy(int8_t(a), int8_t(b), w, h);
            unknown();
            break;
        case 7: {
            // A region far off, which the document never gives: the session
            // must take it safely or refuse it. The pixels stay as they are.
            const int32_t left = int8_t(a) * (1 << (b % 24)), top = int8_t(b) * 7;
            session.SetRegion(left, top, left + w, top + h);
            break;
        }
        default: break;
        }
    }
    save(TQelRect(0, 0, image.width(), image.height()));
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
    if (program) {
        if (session.Open(source)) RunProgram(session, target, Data);
    } else if (session.Open(source)) {
        const int32_t w = session.GetWidth(), h = session.GetHeight();
        if (w > 0 && h > 0 && int64_t(w) * h <= (int64_t(1) << 20)) {
            const int32_t stride = (w * 3 + 3) & ~3;
            std::vector<uint8_t> rows(size_t(stride) * size_t(h));
            if (session.Decode(rows.data(), stride, 0)) {
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
        }
    }
    QFile::remove(source);
    QFile::remove(target);
    return 0;
}
