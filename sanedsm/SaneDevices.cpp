#include "SaneDevices.h"

#include <algorithm>
#include <map>
#include <set>

#include "SaneLink.h"

namespace {

// How long the device list is trusted before it is refreshed in the background.
constexpr auto DeviceListTtl = std::chrono::seconds(30);

// Cuts UTF-8 text to at most n bytes without splitting a character.
std::string CutUtf8(const std::string& s, size_t n) {
    if (s.size() <= n) return s;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xc0) == 0x80) --n;
    return s.substr(0, n);
}

}  // namespace

std::vector<std::string> SaneUniqueProductNames(const std::vector<std::pair<std::string, std::string>>& modelAndName) {
    std::map<std::string, int> seen;
    for (const auto& [model, name] : modelAndName) ++seen[model.empty() ? name : model];
    std::vector<std::string> result;
    std::set<std::string> used;
    for (const auto& [model, name] : modelAndName) {
        const std::string base = model.empty() ? name : model;
        std::string candidate = CutUtf8(seen[base] > 1 ? base + " (" + name + ")" : base, 32);
        // Cut names may still meet: number them.
        for (int n = 2; used.count(candidate); ++n) {
            const std::string tag = " #" + std::to_string(n);
            candidate = CutUtf8(base, 32 - tag.size()) + tag;
        }
        used.insert(candidate);
        result.push_back(candidate);
    }
    return result;
}

TSaneDevices& TSaneDevices::Instance() {
    static TSaneDevices* devices = new TSaneDevices();  // lives as long as the process
    return *devices;
}

// Called with FMutex held and FSearching clear.
void TSaneDevices::Search() {
    FSearching = true;
    // A search that fails keeps the last list and may be tried again; so
    // does one that finds no thread to run on (it could not be started).
    try {
        TSaneLink::Instance().Search([this](bool ok, std::vector<TSaneFound> found) {
            // Sorted, so a device keeps its place in the menu from one opening to the next.
            std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
            std::vector<std::pair<std::string, std::string>> names;
            for (const TSaneFound& f : found) names.emplace_back(f.Model, f.Name);
            const std::vector<std::string> unique = SaneUniqueProductNames(names);
            std::vector<TSaneDeviceInfo> devices;
            for (size_t i = 0; i < found.size(); ++i)
                devices.push_back(TSaneDeviceInfo{found[i].Name, unique[i], found[i].Vendor, found[i].Model});
            std::lock_guard<std::mutex> lock(FMutex);
            if (ok) FList = std::move(devices);
            FHaveList = true;
            FSearching = false;
            FTaken = std::chrono::steady_clock::now();
            FSearched.notify_all();
        });
    } catch (...) {
        FSearching = false;
    }
}

void TSaneDevices::StartSearch() {
    std::lock_guard<std::mutex> lock(FMutex);
    if (!FHaveList && !FSearching) Search();
}

std::vector<TSaneDeviceInfo> TSaneDevices::List() {
    std::lock_guard<std::mutex> lock(FMutex);
    if (!FSearching && (!FHaveList || std::chrono::steady_clock::now() - FTaken > DeviceListTtl)) Search();
    return FList;
}

bool TSaneDevices::WaitForFirstSearch(int timeoutMs) {
    StartSearch();
    std::unique_lock<std::mutex> lock(FMutex);
    return FSearched.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FHaveList; });
}
