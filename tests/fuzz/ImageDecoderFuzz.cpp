// Image files: recognise, decode (full and scaled) and read the property
// items and metadata (a BigTIFF's through libtiff) of any bytes, as opening a
// file does.
#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "QelImageCodec.h"
#include "QelImageMetadata.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzStartQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TQelImageDecoder decoder;
    if (!decoder.OpenData(QByteArray(reinterpret_cast<const char*>(Data), qsizetype(Size)))) return 0;
    TQelPropertyItems items;
    decoder.ReadPropertyItems(items);
    TQelImageMetadata metadata;
    decoder.ReadMetadata(metadata);
    // Huge sizes are accepted by Open and refused or handled by the caller's
    // allocation; decoding them here would only make the run slow.
    const int64_t pixels = int64_t(decoder.Width()) * decoder.Height();
    if (pixels > (int64_t(1) << 22)) return 0;
    const int32_t stride = (decoder.Width() * 3 + 3) & ~3;
    std::vector<uint8_t> rows(size_t(stride) * size_t(decoder.Height()));
    decoder.Decode(rows.data(), stride);
    QImage scaled;
    decoder.DecodeScaled(16, 12, scaled);
    return 0;
}
