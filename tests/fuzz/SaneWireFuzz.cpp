// What the SANE helper sends the bridge: frames cut where the first byte
// says, each read as the bridge reads its kind.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "SaneWire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size < 1) return 0;
    const size_t piece = size_t(Data[0]) + 1;
    TSaneFrames frames;
    TSaneImageIn image;
    uint32_t kind = 0;
    std::vector<uint8_t> fields;
    std::vector<TSaneFound> found;
    for (size_t at = 1; at < Size; at += piece) {
        if (!frames.Take(Data + at, std::min(piece, Size - at))) return 0;
        while (frames.Next(kind, fields)) {
            TSaneReader r(fields.data(), fields.size());
            switch (kind) {
                case SaneRepDevices: (void)SaneReadDevices(r, found); break;
                case SaneRepOpened:
                case SaneRepOptions: {
                    (void)(kind == SaneRepOpened ? uint32_t(r.I32()) : r.U8());
                    TSaneOptions options;
                    (void)(options.Read(r) && r.AtEnd());
                    break;
                }
                case SaneRepImage: (void)image.Header(r); break;
                case SaneRepData: (void)image.Data(r); break;
                case SaneRepProgress: (void)(r.U32(), r.U64(), r.AtEnd()); break;
                default: break;
            }
        }
    }
    (void)image.Complete();
    return 0;
}
