#include "JlvxRead.h"

#include <turbojpeg.h>

const int JlvxTurboFlags = TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;

namespace {

struct TTurboHandle {
    tjhandle Handle;
    explicit TTurboHandle(tjhandle h) : Handle(h) {}
    TTurboHandle(const TTurboHandle&) = delete;
    TTurboHandle& operator=(const TTurboHandle&) = delete;
    ~TTurboHandle() {
        if (Handle) tjDestroy(Handle);
    }
    QString Error() const { return QString::fromUtf8(tjGetErrorStr2(Handle)); }
};

}  // namespace

bool JlvxReadHeader(const QByteArray& Source, int& Width, int& Height, int& Subsampling, int& ColorSpace,
                    QString& Error) {
    TTurboHandle h(tjInitDecompress());
    if (!h.Handle ||
        tjDecompressHeader3(h.Handle, reinterpret_cast<const unsigned char*>(Source.constData()),
                            static_cast<unsigned long>(Source.size()), &Width, &Height, &Subsampling, &ColorSpace) != 0) {
        Error = h.Error();
        return false;
    }
    return true;
}

bool JlvxEncoderCanUse(const JQUANT_TBL* Table) {
    if (!Table) return false;
    for (const UINT16 value : Table->quantval)
        if (value < 1 || value > 255) return false;
    return true;
}

bool JlvxHeaderTablesEncodable(const QByteArray& Source, int32_t& McuWidth, int32_t& McuHeight, QString& Error) {
    TJlvxJpegError e;
    JlvxInitError(e);
    TJlvxDecompress file;
    bool usable = true;
    const bool ok = JlvxGuarded(e, [&] {
        file.Create(e, Source);
        jpeg_read_header(&file.Info, TRUE);
        const bool single = file.Info.num_components == 1;
        McuWidth = single ? DCTSIZE : file.Info.max_h_samp_factor * DCTSIZE;
        McuHeight = single ? DCTSIZE : file.Info.max_v_samp_factor * DCTSIZE;
        for (int k = 0; k < file.Info.num_components; ++k) {
            const int slot = file.Info.comp_info[k].quant_tbl_no;
            const JQUANT_TBL* table = slot >= 0 && slot < NUM_QUANT_TBLS ? file.Info.quant_tbl_ptrs[slot] : nullptr;
            if (table && !JlvxEncoderCanUse(table)) usable = false;
        }
    });
    if (!ok) {
        Error = JlvxErrorText(e);
        return false;
    }
    if (!usable) Error = QStringLiteral("it has a quantisation table that no encoder can use.");
    return usable;
}

bool JlvxCheckEntropyData(const QByteArray& Source, QString& Error) {
    TJlvxJpegError e;
    JlvxInitError(e);
    TJlvxDecompress file;
    const bool ok = JlvxGuarded(e, [&] {
        file.Create(e, Source);
        jpeg_read_header(&file.Info, TRUE);
        jpeg_read_coefficients(&file.Info);
        jpeg_finish_decompress(&file.Info);
    });
    if (!ok) Error = JlvxErrorText(e);
    return ok;
}

bool JlvxDecodePixels(const QByteArray& Source, uint8_t* Rows, int32_t Width, int32_t Stride, int32_t Height,
                      QString& Error) {
    TTurboHandle h(tjInitDecompress());
    if (!h.Handle) {
        Error = h.Error();
        return false;
    }
    if (tjDecompress2(h.Handle, reinterpret_cast<const unsigned char*>(Source.constData()),
                      static_cast<unsigned long>(Source.size()), Rows, Width, Stride, Height, TJPF_BGR,
                      JlvxTurboFlags) != 0) {
        Error = h.Error();
        return false;
    }
    return true;
}

bool TJlvxFileBlocks::Read(const QByteArray& Source, QString& Why) {
    const bool ok = JlvxGuarded(Error, [&] {
        File.Create(Error, Source);
        JlvxSaveMarkers(&File.Info);
        jpeg_read_header(&File.Info, TRUE);
        Components = File.Info.num_components;
        if (Components > MAX_COMPONENTS)
            JlvxFailWith(reinterpret_cast<j_common_ptr>(&File.Info), "The JPEG file has too many components.");
        // A single-component image has one block per MCU whatever its
        // sampling factors say.
        for (int k = 0; k < Components; ++k) {
            H[k] = Components == 1 ? 1 : File.Info.comp_info[k].h_samp_factor;
            V[k] = Components == 1 ? 1 : File.Info.comp_info[k].v_samp_factor;
        }
        Arrays = jpeg_read_coefficients(&File.Info);
    });
    if (!ok) Why = JlvxErrorText(Error);
    return ok;
}

int32_t TJlvxFileBlocks::McuWidth() const {
    return Components == 1 ? DCTSIZE : File.Info.max_h_samp_factor * DCTSIZE;
}

int32_t TJlvxFileBlocks::McuHeight() const {
    return Components == 1 ? DCTSIZE : File.Info.max_v_samp_factor * DCTSIZE;
}
