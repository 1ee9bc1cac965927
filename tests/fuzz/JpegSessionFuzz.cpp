// The lossless JPEG session: open and decode any file, then save it
// unchanged, with one pixel changed (comparing every block, and only the
// changed one), and after a quarter turn and a crop, as the editor does
// with a photo.
#include <QFile>

#include <algorithm>
#include <cstddef>
#include <cstdint>
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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzStartQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static const QString source = FuzzScratchPath("session-in.jpg");
    static const QString target = FuzzScratchPath("session-out.jpg");
    if (!FuzzWriteFile(source, Data, Size)) return 0;
    TJlvxSession session;
    if (session.Open(source)) {
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
