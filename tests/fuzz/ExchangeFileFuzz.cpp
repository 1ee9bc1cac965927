// The exchange file a host hands over: read it into a document as the
// program does when it starts in plug-in mode.
#include <QFile>

#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "QelGraphicsEditor.h"
#include "QelGraphicsFormats.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzStartQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static const QString path = FuzzScratchPath("exchange.pspf");
    if (!FuzzWriteFile(path, Data, Size)) return 0;
    TQelGraphicsDocument document(nullptr);
    ReadExchangeFile(path, document);
    QFile::remove(path);
    return 0;
}
