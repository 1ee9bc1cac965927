#include "Registry.h"

#include <cstdlib>
#include <fstream>
#include <string_view>

namespace {

// Values the registry call could return: at most 1023 bytes and the zero.
constexpr size_t RegistryBufferSize = 1024;
// Key files are small; anything beyond this is not read.
constexpr std::streamsize MaxKeyFileBytes = 64 * 1024;

}  // namespace

std::string RegistryRoot() {
    const char* root = std::getenv("VISARA_REGISTRY_ROOT");
    return root && *root ? std::string(root) : std::string("/etc/visara/registry");
}

std::string RegistryKeyFile(const std::string& Key) {
    std::string path = RegistryRoot();
    path += '/';
    for (char c : Key) path += c == '\\' ? '/' : c;
    return path + ".ini";
}

void ReadRegistryString(const std::string& ValueName, const std::string& Default, const std::string& Key,
                        std::string& Value) {
    Value = Default;
    std::ifstream file(RegistryKeyFile(Key), std::ios::binary);
    if (!file) return;
    std::string text(size_t(MaxKeyFileBytes), '\0');
    file.read(text.data(), MaxKeyFileBytes);
    text.resize(size_t(file.gcount()));

    const std::string name = ValueName.empty() ? std::string("@") : ValueName;
    std::string_view rest(text);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos || line.substr(0, equals) != name) continue;
        const std::string_view value = line.substr(equals + 1);
        if (value.size() < RegistryBufferSize) Value = std::string(value);
        return;
    }
}
