// The settings file: parse any bytes and read every value the way the
// modules do, down to a few levels of nodes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "QelClasses.h"

namespace {

void ReadLevel(TQelSDFReader& Reader, const TQelSDFItems& Items, int Depth) {
    for (uint32_t e = Items.FirstElement; e != QelSDFNone; e = Reader.Element(e).Next) {
        const uint32_t id = Reader.Element(e).Id;
        int32_t i = 0;
        bool b = false;
        std::u16string s;
        uint8_t data[64];
        Reader.ReadInteger(id, i);
        Reader.ReadBoolean(id, b);
        Reader.ReadWideString(id, s);
        Reader.ReadData(id, data, Reader.Element(e).Length < sizeof data ? Reader.Element(e).Length : sizeof data);
    }
    if (Depth == 0) return;
    for (uint32_t n = Items.FirstNode; n != QelSDFNone; n = Reader.Node(n).Next) {
        if (!Reader.OpenNodeById(Reader.Node(n).Id)) continue;
        int32_t own = 0;
        Reader.ReadInteger(0, own);
        ReadLevel(Reader, Reader.CurrentItems(), Depth - 1);
        Reader.CloseNode();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TQelSDFReader reader(Data, Size);
    ReadLevel(reader, reader.RootItems(), 4);
    return 0;
}
