// Property items: read them from any bytes, then write what was read into a
// small JPEG and read it back, as saving a photo with its tags does.
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
    TQelPropertyItems items;
    if (!QelReadPropertyItems(QByteArray(reinterpret_cast<const char*>(Data), qsizetype(Size)), items)) return 0;
    for (const TQelPropertyItem& item : items)
        if (item.Type == 2) (void)QelPropertyItemText(item.Value.constData(), size_t(item.Value.size()));
    QByteArray target = jpeg;
    QString error;
    if (QelWritePropertyItems(target, items, error)) {
        TQelPropertyItems again;
        QelReadPropertyItems(target, again);
    }
    return 0;
}
