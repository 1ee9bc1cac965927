// Metadata: read the items, colour profile, XMP and IPTC from any bytes, then
// write what was read into a small JPEG and read it back, as saving a photo
// with its metadata does; and set the orientation of any bytes taken as a
// JPEG or an XMP packet to 1 in place, as saving a turned photo does.
#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "QelImageCodec.h"
#include "QelImageMetadata.h"

namespace {

QByteArray SmallJpeg() {
    std::vector<uint8_t> rows(16 * 8, 128);
    QByteArray jpeg;
    QString error;
    QelEncodeImage(TQelImageFileType::Jpeg, rows.data(), 5, 8, 16, 75, jpeg, error);
    return jpeg;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzStartQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static const QByteArray jpeg = SmallJpeg();
    const QByteArray input(reinterpret_cast<const char*>(Data), qsizetype(Size));
    {
        QByteArray retagged = input;
        QelResetJpegOrientation(retagged);
        QelSwapJpegResolution(retagged);
        if (retagged.size() != input.size()) __builtin_trap();
        QByteArray packet = input;
        QelResetXmpOrientation(packet);
        if (packet.size() != input.size()) __builtin_trap();
    }
    TQelImageMetadata metadata;
    if (!QelReadImageMetadata(input, metadata)) return 0;
    for (const TQelPropertyItem& item : metadata.Items)
        if (item.Type == 2) (void)QelPropertyItemText(item.Value.constData(), size_t(item.Value.size()));
    QelResetOrientationItem(metadata.Items);
    QByteArray target = jpeg;
    QString error;
    if (QelWriteImageMetadata(target, metadata, error)) {
        TQelImageMetadata again;
        QelReadImageMetadata(target, again);
    }
    return 0;
}
