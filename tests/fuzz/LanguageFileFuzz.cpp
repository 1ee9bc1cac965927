// A language file: decode its bytes (signature, code page), read the
// language id and name and every string.
#include <QByteArray>

#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "QelLocalizer.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzStartQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TQelLanguageFile file;
    file.LoadFromBytes(QByteArray(reinterpret_cast<const char*>(Data), qsizetype(Size)));
    (void)file.LangId();
    (void)file.LanguageName();
    TQelLocalStringList strings;
    file.LoadStrings(strings);
    (void)strings.Find(1);
    return 0;
}
