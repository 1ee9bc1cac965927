#include "SaneServer.h"

#include <unistd.h>

#include <chrono>
#include <new>
#include <thread>

namespace {

// After the bridge has gone, the main thread gets this long to close the
// device and leave SANE; then the process ends anyway.
constexpr auto QuitGrace = std::chrono::seconds(2);

}  // namespace

TSaneServer::TSaneServer(int fd) : FFd(fd), FDevice(), FMutex(), FCond(), FRequests() {}

void TSaneServer::Run() {
    SANE_Int version = 0;
    const SANE_Status init = sane_init(&version, nullptr);
    TSaneWriter ready(SaneRepReady);
    ready.I32(init);
    Send(ready);
    std::thread([this] { Receive(); }).detach();
    for (;;) {
        std::pair<uint32_t, std::vector<uint8_t>> request;
        {
            std::unique_lock<std::mutex> lock(FMutex);
            FCond.wait(lock, [this] { return FGone || !FRequests.empty(); });
            if (FRequests.empty()) break;
            request = std::move(FRequests.front());
            FRequests.pop_front();
        }
        Handle(request.first, request.second);
    }
    Quit();
}

void TSaneServer::Quit() {
    FDevice.Close();
    sane_exit();
    _exit(0);
}

void TSaneServer::Receive() {
    TSaneFrames frames;
    std::vector<uint8_t> buffer(65536);
    uint32_t kind = 0;
    std::vector<uint8_t> fields;
    for (;;) {
        const ssize_t n = ::recv(FFd, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || !frames.Take(buffer.data(), size_t(n))) break;
        while (frames.Next(kind, fields)) {
            if (kind == SaneReqCancel) {
                FDevice.Cancel();
                continue;
            }
            std::lock_guard<std::mutex> lock(FMutex);
            FRequests.emplace_back(kind, std::move(fields));
            FCond.notify_all();
        }
    }
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FGone = true;
        FCond.notify_all();
    }
    std::this_thread::sleep_for(QuitGrace);
    _exit(0);
}

void TSaneServer::Send(TSaneWriter& w) {
    if (!SaneSendAll(FFd, w.Frame())) _exit(0);  // the bridge has gone
}

void TSaneServer::Handle(uint32_t kind, const std::vector<uint8_t>& fields) {
    TSaneReader r(fields.data(), fields.size());
    switch (kind) {
        case SaneReqList: List(); break;
        case SaneReqOpen: Open(r); break;
        case SaneReqSet: Set(r); break;
        case SaneReqScan: Scan(r); break;
        case SaneReqEndBatch:
        case SaneReqClose: {
            if (kind == SaneReqClose) FDevice.Close();
            else FDevice.EndBatch();
            TSaneWriter done(SaneRepDone);
            Send(done);
            break;
        }
        default: _exit(1);  // not the bridge's
    }
}

void TSaneServer::List() {
    std::vector<TSaneFound> found;
    const SANE_Device** list = nullptr;
    if (sane_get_devices(&list, SANE_FALSE) == SANE_STATUS_GOOD && list)
        for (uint32_t i = 0; list[i] && i < SaneMaxDevices; ++i)
            if (list[i]->name && list[i]->name[0])
                found.push_back(TSaneFound{list[i]->name, list[i]->vendor ? list[i]->vendor : "",
                                           list[i]->model ? list[i]->model : ""});
    TSaneWriter w(SaneRepDevices);
    SaneWriteDevices(w, found);
    Send(w);
}

void TSaneServer::SendOptions(uint32_t kind, int32_t statusOrTaken) {
    TSaneWriter w(kind);
    if (kind == SaneRepOpened) w.I32(statusOrTaken);
    else w.U8(uint8_t(statusOrTaken));
    (FDevice.IsOpen() ? FDevice.Options() : TSaneOptions()).Write(w);
    Send(w);
}

void TSaneServer::Open(TSaneReader& r) {
    const std::string name = r.Text();
    std::vector<std::pair<std::string, std::string>> options(r.Count(SaneMaxListItems, 8));
    for (auto& [key, value] : options) {
        key = r.Text();
        value = r.Text();
    }
    if (!r.AtEnd()) _exit(1);
    const SANE_Status status = FDevice.Open(name);
    if (status == SANE_STATUS_GOOD) {
        FDevice.ApplyDefaults();
        for (const auto& [key, value] : options) FDevice.SetOptionText(key, value);
    }
    SendOptions(SaneRepOpened, status);
}

void TSaneServer::Set(TSaneReader& r) {
    bool taken = false;
    switch (r.U32()) {
        case SaneSetMode: {
            const std::string mode = r.Text();
            taken = r.AtEnd() && FDevice.SetMode(mode);
            break;
        }
        case SaneSetDepth: {
            const int32_t depth = r.I32();
            taken = r.AtEnd() && FDevice.SetDepth(depth);
            break;
        }
        case SaneSetResolution: {
            const double dpi = SaneFromMicro(r.Micro());
            taken = r.AtEnd() && FDevice.SetResolution(dpi);
            break;
        }
        case SaneSetArea: {
            double v[4];
            for (double& x : v) x = SaneFromMicro(r.Micro());
            taken = r.AtEnd() && FDevice.SetArea(v[0], v[1], v[2], v[3]);
            break;
        }
        case SaneSetFeeder: {
            const bool on = r.U8() != 0;
            taken = r.AtEnd() && FDevice.SetFeederEnabled(on);
            break;
        }
        default: break;
    }
    SendOptions(SaneRepOptions, taken ? 1 : 0);
}

void TSaneServer::Scan(TSaneReader& r) {
    const bool keepBatch = r.U8() != 0;
    const bool fail = r.U8() != 0;
    if (!r.AtEnd()) _exit(1);
    TSaneImage image;
    SANE_Status status = SANE_STATUS_IO_ERROR;
    try {
        if (fail) throw std::bad_alloc();  // the tests' memory that ran out
        status = FDevice.Scan(image, keepBatch, [this](bool started, uint32_t permille, uint64_t bytes) {
            TSaneWriter w(started ? SaneRepStarted : SaneRepProgress);
            if (!started) w.U32(permille).U64(bytes);
            Send(w);
        });
    } catch (const std::bad_alloc&) {
        status = SANE_STATUS_NO_MEM;
    }
    if (status == SANE_STATUS_GOOD) {
        TSaneWriter head(SaneRepImage);
        head.I32(image.Width).I32(image.Height).I32(image.Channels);
        head.I64(SaneMicro(image.XResolution)).I64(SaneMicro(image.YResolution));
        Send(head);
        for (size_t at = 0; at < image.Rows.size(); at += SaneMaxChunk) {
            TSaneWriter data(SaneRepData);
            data.Bytes(image.Rows.data() + at, std::min<size_t>(SaneMaxChunk, image.Rows.size() - at));
            Send(data);
        }
    }
    TSaneWriter end(SaneRepScanEnd);
    end.I32(status);
    Send(end);
    // The answer is out before the backend is told: its cancel may wedge.
    FDevice.EndScan();
}
