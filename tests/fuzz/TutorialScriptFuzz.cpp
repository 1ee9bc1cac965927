// A tutorial script: read it, take every line apart as the player does,
// read its titles and texts, and write it back.
#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <exception>

#include "FuzzSupport.h"
#include "QelDemoScript.h"
#include "QelError.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzStartQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TQelDemoScript script;
    try {
        script.LoadFromBytes(QByteArray(reinterpret_cast<const char*>(Data), qsizetype(Size)));
    } catch (const std::exception&) {
        return 0;  // a refused script is a clear error, not a finding
    }
    (void)script.GetTitle();
    (void)script.ReadInfoValue("Image");
    if (const QByteArrayList* lines = script.ScriptLines()) {
        for (const QByteArray& line : *lines) {
            QByteArray command, arguments;
            if (!QelSplitScriptLine(line, command, arguments)) continue;
            TQelDemoScriptParams params;
            try {
                params.ParseText(arguments);
            } catch (const EQelError&) {
                // The player reports a line it cannot read and stops.
            }
            (void)script.GetMessageText(std::string_view(arguments.constData(), size_t(arguments.size())));
        }
    }
    TQelDemoScript copy;
    copy.LoadFromBytes(script.SaveToBytes());
    return 0;
}
