// Metadata: read the items, colour profile, XMP, IPTC and texts from any
// bytes, then write what was read into a small JPEG and PNG and read them
// back, as saving a photo with its metadata does; change the EXIF of any
// bytes taken as a JPEG in place, as a lossless save does; and name any
// bytes taken as a colour profile.
#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "QelFormatMetadata.h"
#include "QelImageCodec.h"
#include "QelImageMetadata.h"

namespace {

QByteArray Small(TQelImageFileType Type) {
    std::vector<uint8_t> rows(16 * 8, 128);
    QByteArray encoded;
    QString error;
    QelEncodeImage(Type, rows.data(), 5, 8, 16, 75, encoded, error);
    return encoded;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzStartQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static const QByteArray targets[] = {Small(TQelImageFileType::Jpeg), Small(TQelImageFileType::Png)};
    const QByteArray input(reinterpret_cast<const char*>(Data), qsizetype(Size));
    {
        QByteArray retagged = input;
        QelResetJpegOrientation(retagged);
        QelSwapJpegResolution(retagged);
        QelSetJpegExifDimensions(retagged, 70000, 3);
        QelRemoveJpegThumbnail(retagged);
        if (retagged.size() != input.size()) __builtin_trap();
        QByteArray packet = input;
        QelResetXmpOrientation(packet);
        if (packet.size() != input.size()) __builtin_trap();
        if (QelIccProfileName(input).isEmpty()) __builtin_trap();
    }
    TQelImageMetadata metadata;
    if (!QelReadImageMetadata(input, metadata)) return 0;
    for (const TQelPropertyItem& item : metadata.Items)
        if (item.Type == 2) (void)QelPropertyItemText(item.Value.constData(), size_t(item.Value.size()));
    QelResetOrientationItem(metadata.Items);
    for (const QByteArray& small : targets) {
        QByteArray target = small;
        QString error;
        QStringList leftOut;
        if (QelWriteImageMetadata(target, metadata, error, &leftOut)) {
            TQelImageMetadata again;
            QelReadImageMetadata(target, again);
        }
    }
    return 0;
}
