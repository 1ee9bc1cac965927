#include "QelIniFile.h"

#include <charconv>

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

}  // namespace

std::vector<std::string_view> TQelIniFile::SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string_view TQelIniFile::Trim(std::string_view s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

bool TQelIniFile::SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool TQelIniFile::ParseDecimal(std::string_view s, int64_t& value) {
    s = Trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    int64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
    if (ec != std::errc() || end != s.data() + s.size()) return false;
    value = v;
    return true;
}

std::string TQelIniFile::Key(std::string_view name) {
    std::string key(name);
    for (char& c : key) c = LowerAscii(c);
    return key;
}

void TQelIniFile::Clear() {
    FSections.clear();
    FIndex.clear();
}

void TQelIniFile::SetText(std::string_view text) {
    Clear();
    TSection* current = nullptr;
    for (std::string_view raw : SplitLines(text)) {
        std::string_view line = Trim(raw);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
            std::string_view name = Trim(line.substr(1, line.size() - 2));
            auto [it, added] = FIndex.try_emplace(Key(name), FSections.size());
            if (added) FSections.push_back(TSection{std::string(name), {}});
            current = &FSections[it->second];
            continue;
        }
        if (!current) continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        current->Entries.push_back(
            TQelIniEntry{std::string(Trim(line.substr(0, eq))), std::string(Trim(line.substr(eq + 1)))});
    }
}

const TQelIniFile::TSection* TQelIniFile::FindSection(std::string_view name) const {
    auto it = FIndex.find(Key(name));
    return it == FIndex.end() ? nullptr : &FSections[it->second];
}

std::string TQelIniFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
    if (const TSection* s = FindSection(section))
        for (const TQelIniEntry& e : s->Entries)
            if (SameText(e.Name, key)) return e.Value;
    return std::string(defaultValue);
}

const std::vector<TQelIniEntry>& TQelIniFile::ReadSection(std::string_view section) const {
    static const std::vector<TQelIniEntry> empty;
    const TSection* s = FindSection(section);
    return s ? s->Entries : empty;
}
