// The INI reader under the language files and the tutorial scripts: split
// and parse any bytes, then read every section, key and number the way its
// callers do.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "QelIniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const std::string_view text(reinterpret_cast<const char*>(Data), Size);
    (void)TQelIniFile::SplitLines(text);
    TQelIniFile ini;
    ini.SetText(text);
    (void)ini.SectionCount();
    // Sections named by the text's own lines, and a few every caller asks for.
    for (std::string_view line : TQelIniFile::SplitLines(text)) {
        line = TQelIniFile::Trim(line);
        if (line.size() < 2 || line.front() != '[' || line.back() != ']') continue;
        const std::string_view name = line.substr(1, line.size() - 2);
        for (const TQelIniEntry& e : ini.ReadSection(name)) {
            (void)ini.ReadString(name, e.Name, "");
            int64_t v = 0;
            (void)TQelIniFile::ParseDecimal(e.Value, v);
        }
    }
    for (std::string_view section : {"", "Info", "Script", "1033"}) {
        (void)ini.ReadSection(section);
        (void)ini.ReadString(section, "LangId", "0");
    }
    return 0;
}
