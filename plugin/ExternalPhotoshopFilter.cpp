#include "ExternalPhotoshopFilter.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <utility>
#include <vector>

extern char** environ;

namespace {

// How long the wait for the program sleeps between two looks; the host's
// events are pumped as often.
constexpr long WaitStepNanoseconds = 5 * 1000 * 1000;

// Deletes the exchange file when Start leaves, whichever way it leaves.
class TTempFile {
public:
    explicit TTempFile(std::string Name) : FName(std::move(Name)) {}
    ~TTempFile() { Delete(); }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    const std::string& Name() const { return FName; }
    void Delete() {
        if (!FName.empty()) ::unlink(FName.c_str());
        FName.clear();
    }
    // Keeps the file: someone else deletes it now.
    std::string Release() { return std::exchange(FName, std::string()); }

private:
    std::string FName;
};

// Whether the rows the program left behind lie inside the file and each
// holds Width pixels: only then may they be read.
bool ReturnedRowsFit(const TExchangeHeader& Header, int64_t FileSize) {
    return Header.HeaderSize >= ExchangeHeaderSize &&
           CheckExchangeRows(Header, FileSize, 4 + int64_t(Header.HeaderSize)) == TExchangeRowsFault::None;
}

}  // namespace

std::string GetTempFolder() {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error || folder.empty()) folder = "/tmp";
    // The program runs in its own folder, so the name it gets must not
    // depend on ours.
    const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    return (error ? folder : absolute).string();
}

std::string MakeTempFileName(const std::string& Folder, const std::string& Prefix) {
    std::string name = Folder;
    if (!name.empty() && name.back() != '/') name += '/';
    name += Prefix + "XXXXXX.tmp";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    const int handle = ::mkstemps(buffer.data(), 4);
    if (handle < 0) return std::string();
    ::close(handle);
    return std::string(buffer.data());
}

TExternalPhotoshopFilter::TExternalPhotoshopFilter(const std::string& NewProgramPath, const std::string& NewCaption,
                                                   const std::string& NewAboutText)
    : TPhotoshopFilter(), ProgramFolder(), ProgramPath() {
    SetProgramPath(NewProgramPath);
    Caption = NewCaption;
    AboutText = NewAboutText;
}

void TExternalPhotoshopFilter::SetProgramPath(const std::string& Path) {
    ProgramPath = Path;
    if (ProgramFolder.empty()) {
        const size_t slash = Path.rfind('/');
        if (slash != std::string::npos) ProgramFolder = Path.substr(0, slash);
    }
}

int16_t TExternalPhotoshopFilter::Start(VisaraFilterRecord* Record) {
    if (!Record) return VisaraFilterBadParameters;
    int16_t result = VisaraStartErr;

    const void* data = nullptr;
    TExchangeHeader header;
    const bool delivered = RequestInput(Record->filterRect, Record, data, header);
    if (!delivered || (!data && int64_t(header.RowBytes) * header.Height > 0)) {
        ShowFilterError(Record, "Get image data error.");
        ClearRects(Record);
        return result;
    }

    TTempFile temp(WriteTempFile(header, data));
    if (temp.Name().empty()) {
        ShowFilterError(Record, "Create temp file error.");
        ClearRects(Record);
        return result;
    }

    bool succeeded = false;
    const int startError = RunProgram(temp.Name(), Record, succeeded);
    if (startError != 0) {
        ShowFilterError(Record,
                        "Execute application \"" + ProgramPath + "\" error: " + std::to_string(startError));
    } else {
        // Cancel, a crash or any exit code but 0 leaves the host's image alone.
        result = VisaraUserCanceledErr;
        if (succeeded) result = CopyBack(temp.Name(), Record);
    }
    temp.Delete();
    ClearRects(Record);
    return result;
}

std::string TExternalPhotoshopFilter::WriteTempFile(const TExchangeHeader& Header, const void* Data) {
    // The header's fields are 32 bits: an image whose file would not fit
    // them is refused rather than written truncated.
    const int64_t size = int64_t(Header.RowBytes) * Header.Height;
    if (Header.RowBytes < 0 || Header.Height < 0 || size > int64_t(INT32_MAX) - ExchangePixelOffset)
        return std::string();
    TTempFile temp(MakeTempFileName(GetTempFolder(), "PSPF"));
    if (temp.Name().empty()) return std::string();
    {
        TQelFileMapping mapping(temp.Name(), TQelFileMapping::TAccess::ReadWrite);
        if (!mapping.SetSize(ExchangePixelOffset + size)) return std::string();
        uint8_t* view = mapping.MapView(0, 0);
        if (!view) return std::string();
        WriteExchangeHeader(Header, view);
        if (size > 0) std::memcpy(view + ExchangePixelOffset, Data, size_t(size));
        mapping.UnmapView(view);
    }
    // The file is kept: Start deletes it once the program is done.
    return temp.Release();
}

int TExternalPhotoshopFilter::RunProgram(const std::string& Temp, const VisaraFilterRecord* Record,
                                         bool& Succeeded) {
    Succeeded = false;
    // A relative program path means the host's current folder, not the
    // program folder the child changes to before the program is loaded.
    std::string executable = ProgramPath;
    if (!executable.empty() && executable.front() != '/') {
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(executable, error);
        if (!error) executable = absolute.string();
    }
    std::string argument0 = ProgramPath, argument1 = Temp;
    char* arguments[] = {argument0.data(), argument1.data(), nullptr};

    posix_spawn_file_actions_t actions;
    if (int error = ::posix_spawn_file_actions_init(&actions); error != 0) return error;
    int error = 0;
    if (!ProgramFolder.empty()) error = ::posix_spawn_file_actions_addchdir_np(&actions, ProgramFolder.c_str());
    // The host's files stay the host's.
    if (error == 0) error = ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t child = 0;
    if (error == 0) error = ::posix_spawn(&child, executable.c_str(), &actions, nullptr, arguments, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return error;

    const VisaraPlatformData* platform = Record->platformData;
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child) {
            // The program's -1 arrives as 255, a crash as a signal.
            Succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            return 0;
        }
        // A host that ignores SIGCHLD leaves nothing to collect (ECHILD):
        // the outcome is unknown, so nothing is copied.
        if (ended < 0 && errno != EINTR) return 0;
        if (platform && platform->processEvents) platform->processEvents(platform->window);
        const timespec step{0, WaitStepNanoseconds};
        ::nanosleep(&step, nullptr);
    }
}

int16_t TExternalPhotoshopFilter::CopyBack(const std::string& Temp, VisaraFilterRecord* Record) {
    void* output = nullptr;
    TExchangeHeader out;
    const bool delivered = RequestOutput(Record->filterRect, Record, output, out);
    const int64_t hostRowBytes = Record->outRowBytes;
    const int32_t hostPlanes = Record->planes;
    // A buffer that cannot hold the rows the host itself describes is as
    // good as none.
    const bool hasPixels = int64_t(out.Width) > 0 && int64_t(out.Height) > 0;
    if (!delivered || (hasPixels && (!output || hostRowBytes < int64_t(out.Width) * std::max(hostPlanes, 0)))) {
        ShowFilterError(Record, "Get out image data error.");
        return VisaraUserCanceledErr;
    }

    TQelFileMapping mapping(Temp, TQelFileMapping::TAccess::Read);
    const int64_t size = mapping.Size();
    // Shorter than magic and header: no exchange file, and no message.
    if (size < ExchangePixelOffset) return VisaraUserCanceledErr;
    const uint8_t* view = mapping.MapView(0, 0);
    if (!view || !HasExchangeMagic(view, size)) return VisaraUserCanceledErr;

    const TExchangeHeader file = ReadExchangeHeader(view + 4);
    if (file.Width != out.Width || file.Height != out.Height || file.ImageMode != out.ImageMode ||
        !ReturnedRowsFit(file, size)) {
        ShowFilterError(Record, "Transfer image data error.");
        return VisaraUserCanceledErr;
    }

    // An empty area may come without a buffer; its rows may still claim bytes.
    if (!output) return VisaraNoErr;
    const uint8_t* pixels = view + 4 + file.HeaderSize;
    uint8_t* target = static_cast<uint8_t*>(output);
    if (file.Planes == hostPlanes) {
        // Each row up to the shorter of the two strides.
        const int64_t count = std::min<int64_t>(file.RowBytes, hostRowBytes);
        if (count > 0)
            for (int64_t y = 0; y < file.Height; ++y)
                std::memcpy(target + y * hostRowBytes, pixels + y * file.RowBytes, size_t(count));
    } else if (hostPlanes > 0) {
        // The colour bytes pixel by pixel; a transparency plane becomes opaque.
        const size_t colourBytes = size_t(std::min(hostPlanes, 3));
        for (int64_t y = 0; y < file.Height; ++y) {
            const uint8_t* s = pixels + y * file.RowBytes;
            uint8_t* d = target + y * hostRowBytes;
            for (int64_t x = 0; x < file.Width; ++x, s += file.Planes, d += hostPlanes) {
                std::memcpy(d, s, colourBytes);
                if (hostPlanes == 4) d[3] = 255;
            }
        }
    }
    return VisaraNoErr;
}
