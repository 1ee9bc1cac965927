// Stands in for the program when the plug-in starts it: reports what it was
// given to $FAKE_VISARA_LOG and ends the way $FAKE_VISARA_MODE says.
//   ok       writes the image back inverted: planes, row stride, header
//            size, width, height, mode and file length as the FAKE_VISARA_*
//            variables say (by default as the program would: 3 planes,
//            rows padded to 4 bytes), then exits 0
//   keep     leaves the file as it is and exits 0
//   nomagic  overwrites the magic and exits 0
//   cancel   exits with -1, as the program's Cancel does
//   abort    dies of SIGABRT
//   exit1    exits 1
// FAKE_VISARA_DELAY_MS waits first, so that the host pumps its events.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int64_t Setting(const char* name, int64_t fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::strtoll(value, nullptr, 0) : fallback;
}

int32_t Get(const std::vector<uint8_t>& f, size_t at) {
    if (at + 4 > f.size()) return 0;
    return int32_t(uint32_t(f[at]) | uint32_t(f[at + 1]) << 8 | uint32_t(f[at + 2]) << 16 | uint32_t(f[at + 3]) << 24);
}

void Put(std::vector<uint8_t>& f, size_t at, int64_t value) {
    for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(uint64_t(value) >> (8 * i));
}

}  // namespace

int main(int argc, char** argv) {
    const char* mode = std::getenv("FAKE_VISARA_MODE");
    const std::string how = mode ? mode : "ok";
    const std::string name = argc > 1 ? argv[1] : "";
    std::ifstream in(name, std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();

    if (const char* log = std::getenv("FAKE_VISARA_LOG")) {
        if (FILE* out = std::fopen(log, "w")) {
            char cwd[4096] = "";
            if (!getcwd(cwd, sizeof cwd)) cwd[0] = 0;
            std::fprintf(out, "argc=%d\n", argc);
            for (int i = 0; i < argc; ++i) std::fprintf(out, "argv%d=%s\n", i, argv[i]);
            std::fprintf(out, "cwd=%s\nlength=%zu\nmagic=%.4s\n", cwd, file.size(),
                         file.size() >= 4 ? reinterpret_cast<const char*>(file.data()) : "");
            for (int i = 0; i < 8; ++i) std::fprintf(out, "field%d=%d\n", i, Get(file, 4 + 4 * size_t(i)));
            std::fclose(out);
        }
    }
    if (const int64_t delay = Setting("FAKE_VISARA_DELAY_MS", 0)) usleep(useconds_t(delay * 1000));

    if (how == "cancel") return -1;
    if (how == "abort") std::abort();
    if (how == "exit1") return 1;
    if (how == "keep") return 0;
    if (how == "nomagic") {
        if (file.size() >= 4) std::memcpy(file.data(), "XSPF", 4);
    } else if (how == "ok") {
        // The image as the plug-in wrote it.
        const int64_t width = Get(file, 20), height = Get(file, 24), rowBytes = Get(file, 28), planes = Get(file, 32);
        if (file.size() < 36 || width < 0 || height < 0 || planes < 3 || 36 + rowBytes * height > int64_t(file.size()))
            return 2;
        // What goes back.
        const int64_t outPlanes = Setting("FAKE_VISARA_PLANES", 3);
        const int64_t outRowBytes = Setting("FAKE_VISARA_ROWBYTES", (24 * width + 31) / 32 * 4);
        const int64_t headerSize = Setting("FAKE_VISARA_HEADERSIZE", 32);
        const int64_t pixelsAt = 4 + std::max<int64_t>(headerSize, 32);
        // A length of its own keeps absurd headers from allocating their size.
        const int64_t length = Setting("FAKE_VISARA_LENGTH", pixelsAt + std::max<int64_t>(outRowBytes, 0) * height);
        std::vector<uint8_t> back(size_t(std::max<int64_t>(length, 36)), 0xCC);
        std::memcpy(back.data(), "PSPF", 4);
        Put(back, 4, headerSize);
        Put(back, 8, Setting("FAKE_VISARA_IMAGEMODE", 3));
        Put(back, 12, 0);
        Put(back, 16, 0);
        Put(back, 20, Setting("FAKE_VISARA_WIDTH", width));
        Put(back, 24, Setting("FAKE_VISARA_HEIGHT", height));
        Put(back, 28, outRowBytes);
        Put(back, 32, outPlanes);
        if (outRowBytes >= width * outPlanes)
            for (int64_t y = 0; y < height; ++y)
                for (int64_t x = 0; x < width; ++x) {
                    const uint8_t* s = file.data() + 36 + y * rowBytes + x * planes;
                    const int64_t at = pixelsAt + y * outRowBytes + x * outPlanes;
                    if (at + std::max<int64_t>(outPlanes, 3) > int64_t(back.size())) continue;
                    uint8_t* d = back.data() + at;
                    for (int c = 0; c < 3; ++c) d[c] = uint8_t(255 - s[c]);
                    if (outPlanes > 3) d[3] = 0x11;
                }
        back.resize(size_t(length));
        file.swap(back);
    } else {
        return 3;
    }
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    return out ? 0 : 4;
}
