// A small in-memory INI reader on 8-bit lines.
//
// Our own instead of a settings class because language files and scripts
// need their values untouched: no quote stripping, no escapes, no lists, and
// the bytes stay in whatever encoding the caller decided on.
//
// Rules: lines end at CR, LF or CR LF; each line is trimmed of blanks and
// tabs; empty lines and lines starting with ";" are skipped; "[name]" opens a
// section; other lines are name=value, split at the first "=", both sides
// trimmed; lines before the first section or without "=" are ignored. Section
// and key names compare without regard to ASCII case. A section that occurs
// twice continues the first one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct TQelIniEntry {
    std::string Name;
    std::string Value;
};

class TQelIniFile {
public:
    static std::vector<std::string_view> SplitLines(std::string_view text);

    void Clear();
    void SetText(std::string_view text);

    // The value of the first entry with that key in the section, else Default.
    std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    // The section's entries in file order (empty when the section is missing).
    const std::vector<TQelIniEntry>& ReadSection(std::string_view section) const;
    int SectionCount() const { return int(FSections.size()); }

    static bool SameText(std::string_view a, std::string_view b);
    static std::string_view Trim(std::string_view s);
    // A whole, trimmed decimal integer (optional sign) that fits in 64 bits.
    static bool ParseDecimal(std::string_view s, int64_t& value);

private:
    struct TSection {
        std::string Name;
        std::vector<TQelIniEntry> Entries;
    };
    const TSection* FindSection(std::string_view name) const;
    static std::string Key(std::string_view name);

    std::vector<TSection> FSections;
    // Lower-cased section name -> index, so a file with very many sections
    // still loads in linear time.
    std::unordered_map<std::string, size_t> FIndex;
};
