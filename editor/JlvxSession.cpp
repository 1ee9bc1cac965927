#include "JlvxSession.h"

#include <QFile>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "QelAtomicWrite.h"

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <turbojpeg.h>

#include "QelRegularFile.h"

namespace {

// Progressive files with absurd numbers of scans take minutes to read.
constexpr int MaxScans = 500;
constexpr int32_t MaxJpegDimension = 65500;
constexpr int TurboFlags = TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;

// --- libjpeg under a guard -------------------------------------------------
//
// libjpeg's own error handler ends the process. This one jumps back to the
// guard around the calls instead. Warnings count as errors too: a stream
// that libjpeg had to patch up is not one whose blocks may be kept.

struct TJpegError {
    jpeg_error_mgr Base;
    jpeg_progress_mgr Progress;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

TJpegError* ErrorOf(j_common_ptr c) { return reinterpret_cast<TJpegError*>(c->err); }

[[noreturn]] void FailWith(j_common_ptr c, const char* text) {
    TJpegError* e = ErrorOf(c);
    std::snprintf(e->Message, sizeof e->Message, "%s", text);
    std::longjmp(e->Jump, 1);
}

[[noreturn]] void ErrorExit(j_common_ptr c) {
    TJpegError* e = ErrorOf(c);
    (*c->err->format_message)(c, e->Message);
    std::longjmp(e->Jump, 1);
}

void EmitMessage(j_common_ptr c, int level) {
    if (level < 0) ErrorExit(c);
}

void OutputMessage(j_common_ptr) {}

void LimitScans(j_common_ptr c) {
    if (c->is_decompressor && reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > MaxScans)
        FailWith(c, "The JPEG file has too many scans.");
}

void InitError(TJpegError& e) {
    jpeg_std_error(&e.Base);
    e.Base.error_exit = ErrorExit;
    e.Base.emit_message = EmitMessage;
    e.Base.output_message = OutputMessage;
    e.Progress = jpeg_progress_mgr();
    e.Progress.progress_monitor = LimitScans;
    e.Message[0] = '\0';
}

// Runs Body and answers false when libjpeg reported an error inside it.
// Body declares nothing with a destructor: the jump would skip it. Every
// libjpeg object used inside shares the one error manager, so an error in
// any of them lands here.
template <class F>
bool Guarded(TJpegError& e, F&& body) {
    if (setjmp(e.Jump)) return false;
    body();
    return true;
}

// An output buffer that stays owned by us when libjpeg gives up halfway.
struct TMemoryDest {
    jpeg_destination_mgr Base;
    unsigned char* Data = nullptr;
    size_t Capacity = 0;
    size_t Size = 0;
};

void InitDest(j_compress_ptr c) {
    TMemoryDest* d = reinterpret_cast<TMemoryDest*>(c->dest);
    if (!d->Data) {
        d->Data = static_cast<unsigned char*>(std::malloc(65536));
        if (!d->Data) FailWith(reinterpret_cast<j_common_ptr>(c), "Out of memory while writing the JPEG file.");
        d->Capacity = 65536;
    }
    d->Size = 0;
    d->Base.next_output_byte = d->Data;
    d->Base.free_in_buffer = d->Capacity;
}

boolean GrowDest(j_compress_ptr c) {
    TMemoryDest* d = reinterpret_cast<TMemoryDest*>(c->dest);
    const size_t used = d->Capacity;  // called only when the buffer is full
    unsigned char* grown = static_cast<unsigned char*>(std::realloc(d->Data, d->Capacity * 2));
    if (!grown) FailWith(reinterpret_cast<j_common_ptr>(c), "Out of memory while writing the JPEG file.");
    d->Data = grown;
    d->Capacity *= 2;
    d->Base.next_output_byte = d->Data + used;
    d->Base.free_in_buffer = d->Capacity - used;
    return TRUE;
}

void TermDest(j_compress_ptr c) {
    TMemoryDest* d = reinterpret_cast<TMemoryDest*>(c->dest);
    d->Size = d->Capacity - d->Base.free_in_buffer;
}

struct TDecompress {
    jpeg_decompress_struct Info{};
    bool Created = false;
    TDecompress() = default;
    TDecompress(const TDecompress&) = delete;
    TDecompress& operator=(const TDecompress&) = delete;
    ~TDecompress() {
        if (Created) jpeg_destroy_decompress(&Info);
    }
    void Create(TJpegError& e, const unsigned char* data, size_t size) {
        Info.err = &e.Base;
        jpeg_create_decompress(&Info);
        Created = true;
        Info.progress = &e.Progress;
        jpeg_mem_src(&Info, data, static_cast<unsigned long>(size));
    }
};

struct TCompress {
    jpeg_compress_struct Info{};
    TMemoryDest Dest{};
    bool Created = false;
    TCompress() = default;
    TCompress(const TCompress&) = delete;
    TCompress& operator=(const TCompress&) = delete;
    ~TCompress() {
        if (Created) jpeg_destroy_compress(&Info);
        std::free(Dest.Data);
    }
    void Create(TJpegError& e) {
        Info.err = &e.Base;
        jpeg_create_compress(&Info);
        Created = true;
        Dest.Base.init_destination = InitDest;
        Dest.Base.empty_output_buffer = GrowDest;
        Dest.Base.term_destination = TermDest;
        Info.dest = &Dest.Base;
    }
};

void SaveMarkers(j_decompress_ptr d) {
    jpeg_save_markers(d, JPEG_COM, 0xFFFF);
    for (int i = 0; i < 16; ++i) jpeg_save_markers(d, JPEG_APP0 + i, 0xFFFF);
}

bool MarkerStartsWith(jpeg_saved_marker_ptr m, const char* tag, unsigned length) {
    return m->data_length >= length && std::memcmp(m->data, tag, length) == 0;
}

// The file's comments and application markers (metadata, colour profile)
// go along; the JFIF and Adobe markers are written by libjpeg itself.
void CopyMarkers(j_decompress_ptr from, j_compress_ptr to) {
    for (jpeg_saved_marker_ptr m = from->marker_list; m; m = m->next) {
        if (to->write_JFIF_header && m->marker == JPEG_APP0 && MarkerStartsWith(m, "JFIF", 5)) continue;
        if (to->write_Adobe_marker && m->marker == JPEG_APP0 + 14 && MarkerStartsWith(m, "Adobe", 5)) continue;
        jpeg_write_marker(to, m->marker, m->data, m->data_length);
    }
}

// A quantisation table that an encoder can divide by: every entry from 1 to
// 255, as a baseline encoder takes them. A 0, which decoders accept, would
// make the encoder divide by zero.
bool EncoderCanUse(const JQUANT_TBL* table) {
    if (!table) return false;
    for (const UINT16 value : table->quantval)
        if (value < 1 || value > 255) return false;
    return true;
}

// Refuses to encode pixels with a table that EncoderCanUse rejects. Open
// turns such files away already; this catches a table defined between
// scans, which a header read does not see.
void CheckEncoderTables(j_compress_ptr c) {
    for (int k = 0; k < c->num_components; ++k) {
        const int slot = c->comp_info[k].quant_tbl_no;
        if (slot < 0 || slot >= NUM_QUANT_TBLS || !EncoderCanUse(c->quant_tbl_ptrs[slot]))
            FailWith(reinterpret_cast<j_common_ptr>(c),
                     "The JPEG file's quantisation tables cannot be used to encode pixels.");
    }
}

// A transposed image needs transposed quantisation tables and swapped
// sampling factors, or its quality would be distributed the wrong way.
void TransposeParameters(j_compress_ptr c) {
    for (JQUANT_TBL* table : c->quant_tbl_ptrs) {
        if (!table) continue;
        for (int i = 0; i < DCTSIZE; ++i)
            for (int j = 0; j < i; ++j) std::swap(table->quantval[i * DCTSIZE + j], table->quantval[j * DCTSIZE + i]);
    }
    for (int k = 0; k < c->num_components; ++k)
        std::swap(c->comp_info[k].h_samp_factor, c->comp_info[k].v_samp_factor);
}

// Caller's 24-bit rows.
struct TPixelRows {
    const uint8_t* Bits;
    ptrdiff_t Stride;
    const uint8_t* Row(int32_t y) const { return Bits + ptrdiff_t(y) * Stride; }
};

void WriteRows(j_compress_ptr c, const TPixelRows& pixels, int32_t x0, int32_t y0) {
    while (c->next_scanline < c->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.Row(y0 + int32_t(c->next_scanline)) + ptrdiff_t(x0) * 3);
        jpeg_write_scanlines(c, &row, 1);
    }
}

void StartPixelInput(j_compress_ptr c, JDIMENSION width, JDIMENSION height) {
    c->image_width = width;
    c->image_height = height;
    c->in_color_space = JCS_EXT_BGR;
    c->input_components = 3;
    c->optimize_coding = TRUE;
}

// Encodes every block of W x H pixels with the source's quantisation tables
// and sampling (transposed when the image is), keeping its markers. Color
// makes a grayscale source's output YCbCr, so that coloured edits survive.
bool EncodePixels(const QByteArray& source, const TPixelRows& pixels, int32_t W, int32_t H, bool transposed,
                  bool color, TCompress& out, QString& error) {
    TJpegError e;
    InitError(e);
    TDecompress file;
    const bool ok = Guarded(e, [&] {
        file.Create(e, reinterpret_cast<const unsigned char*>(source.constData()), size_t(source.size()));
        SaveMarkers(&file.Info);
        jpeg_read_header(&file.Info, TRUE);
        // A table defined between scans is known only once they are read.
        for (int k = 0; k < file.Info.num_components; ++k) {
            const int slot = file.Info.comp_info[k].quant_tbl_no;
            if (slot < 0 || slot >= NUM_QUANT_TBLS || !file.Info.quant_tbl_ptrs[slot]) {
                jpeg_read_coefficients(&file.Info);
                break;
            }
        }
        out.Create(e);
        jpeg_copy_critical_parameters(&file.Info, &out.Info);
        if (transposed) TransposeParameters(&out.Info);
        if (color) {
            jpeg_set_colorspace(&out.Info, JCS_YCbCr);
            // A grayscale file has only the luminance table; full chroma
            // resolution keeps the edit's colour.
            for (int k = 0; k < out.Info.num_components; ++k) {
                out.Info.comp_info[k].h_samp_factor = 1;
                out.Info.comp_info[k].v_samp_factor = 1;
                out.Info.comp_info[k].quant_tbl_no = 0;
            }
        }
        StartPixelInput(&out.Info, JDIMENSION(W), JDIMENSION(H));
        CheckEncoderTables(&out.Info);
        jpeg_start_compress(&out.Info, TRUE);
        CopyMarkers(&file.Info, &out.Info);
        WriteRows(&out.Info, pixels, 0, 0);
        jpeg_finish_compress(&out.Info);
    });
    if (!ok) error = QString::fromUtf8(e.Message);
    return ok;
}

// Writes W x H pixels as MCUs of the oriented file: MCU (i, j) whose Changed
// flag is clear takes the coefficients of the file's MCU (i + Oi, j + Oj) as
// they are; the flagged MCUs are encoded from the pixels with the file's
// tables and sampling. The crop is done here, block by block, because
// TurboJPEG 2.1 checks a crop origin against the untransposed MCU size and
// so refuses valid crops of turned 4:2:2 and 4:1:1 images.
bool MergeBlocks(const QByteArray& oriented, const TPixelRows& pixels, int32_t W, int32_t H, int32_t bw, int32_t bh,
                 int32_t oi, int32_t oj, const std::vector<uint8_t>& changed, int32_t cols, int32_t rows,
                 TCompress& out, QString& error) {
    int32_t mx0 = cols, mx1 = 0, my0 = rows, my1 = 0;
    for (int32_t j = 0; j < rows; ++j)
        for (int32_t i = 0; i < cols; ++i)
            if (changed[size_t(j) * size_t(cols) + size_t(i)]) {
                mx0 = std::min(mx0, i);
                mx1 = std::max(mx1, i + 1);
                my0 = std::min(my0, j);
                my1 = std::max(my1, j + 1);
            }
    // The patch covers the changed MCUs' bounding box; its edges lie on the
    // grid or on the image's own edge, so its blocks are those a whole-image
    // encode would give.
    const int32_t x0 = mx0 * bw, y0 = my0 * bh;
    const int32_t x1 = std::min(mx1 * bw, W), y1 = std::min(my1 * bh, H);

    TJpegError e;
    InitError(e);
    TDecompress file, patch;
    TCompress patchOut;
    const bool ok = Guarded(e, [&] {
        j_common_ptr fileCommon = reinterpret_cast<j_common_ptr>(&file.Info);
        file.Create(e, reinterpret_cast<const unsigned char*>(oriented.constData()), size_t(oriented.size()));
        SaveMarkers(&file.Info);
        jpeg_read_header(&file.Info, TRUE);
        const int components = file.Info.num_components;
        if (components > MAX_COMPONENTS) FailWith(fileCommon, "The JPEG file has too many components.");
        // A single-component image has one block per MCU whatever its
        // sampling factors say.
        int32_t hk[MAX_COMPONENTS], vk[MAX_COMPONENTS];
        jvirt_barray_ptr outBlocks[MAX_COMPONENTS];
        for (int k = 0; k < components; ++k) {
            hk[k] = components == 1 ? 1 : file.Info.comp_info[k].h_samp_factor;
            vk[k] = components == 1 ? 1 : file.Info.comp_info[k].v_samp_factor;
            // Requested before the file's blocks are read, so that libjpeg
            // makes room for both at once.
            outBlocks[k] = (*file.Info.mem->request_virt_barray)(fileCommon, JPOOL_IMAGE, TRUE,
                                                                 JDIMENSION(cols * hk[k]), JDIMENSION(rows * vk[k]),
                                                                 JDIMENSION(vk[k]));
        }
        jvirt_barray_ptr* fileBlocks = jpeg_read_coefficients(&file.Info);

        jvirt_barray_ptr* patchBlocks = nullptr;
        if (mx1 > mx0) {
            patchOut.Create(e);
            jpeg_copy_critical_parameters(&file.Info, &patchOut.Info);
            StartPixelInput(&patchOut.Info, JDIMENSION(x1 - x0), JDIMENSION(y1 - y0));
            CheckEncoderTables(&patchOut.Info);
            jpeg_start_compress(&patchOut.Info, TRUE);
            WriteRows(&patchOut.Info, pixels, x0, y0);
            jpeg_finish_compress(&patchOut.Info);

            patch.Create(e, patchOut.Dest.Data, patchOut.Dest.Size);
            jpeg_read_header(&patch.Info, TRUE);
            patchBlocks = jpeg_read_coefficients(&patch.Info);
        }
        j_common_ptr patchCommon = reinterpret_cast<j_common_ptr>(&patch.Info);

        for (int k = 0; k < components; ++k)
            for (int32_t j = 0; j < rows; ++j)
                for (int32_t r = 0; r < vk[k]; ++r) {
                    JBLOCKROW to = (*file.Info.mem->access_virt_barray)(fileCommon, outBlocks[k],
                                                                        JDIMENSION(j * vk[k] + r), 1, TRUE)[0];
                    JBLOCKROW kept = nullptr;
                    JBLOCKROW encoded = nullptr;
                    for (int32_t i = 0; i < cols; ++i) {
                        JBLOCKROW from;
                        int32_t column;
                        if (changed[size_t(j) * size_t(cols) + size_t(i)]) {
                            if (!encoded)
                                encoded = (*patch.Info.mem->access_virt_barray)(
                                    patchCommon, patchBlocks[k], JDIMENSION((j - my0) * vk[k] + r), 1, FALSE)[0];
                            from = encoded;
                            column = (i - mx0) * hk[k];
                        } else {
                            if (!kept)
                                kept = (*file.Info.mem->access_virt_barray)(
                                    fileCommon, fileBlocks[k], JDIMENSION((j + oj) * vk[k] + r), 1, FALSE)[0];
                            from = kept;
                            column = (i + oi) * hk[k];
                        }
                        std::memcpy(to[i * hk[k]], from[column], sizeof(JBLOCK) * size_t(hk[k]));
                    }
                }

        out.Create(e);
        jpeg_copy_critical_parameters(&file.Info, &out.Info);
        out.Info.image_width = JDIMENSION(W);
        out.Info.image_height = JDIMENSION(H);
        out.Info.optimize_coding = TRUE;
        jpeg_write_coefficients(&out.Info, outBlocks);
        CopyMarkers(&file.Info, &out.Info);
        jpeg_finish_compress(&out.Info);
    });
    if (!ok) error = QString::fromUtf8(e.Message);
    return ok;
}

// Reads every coefficient of the file once, with warnings as errors: the
// check a save makes when no decode has read the file's data before it.
bool CheckEntropyData(const QByteArray& source, QString& error) {
    TJpegError e;
    InitError(e);
    TDecompress file;
    const bool ok = Guarded(e, [&] {
        file.Create(e, reinterpret_cast<const unsigned char*>(source.constData()), size_t(source.size()));
        jpeg_read_header(&file.Info, TRUE);
        jpeg_read_coefficients(&file.Info);
        jpeg_finish_decompress(&file.Info);
    });
    if (!ok) error = QString::fromUtf8(e.Message);
    return ok;
}

// False, with the reason, when a quantisation table that the file's header
// gives a component is one that no encoder can take: edited blocks could not
// be encoded with it, so such a file is left to the normal decoder and
// encoder. Tables defined only later, between scans, are checked where
// pixels are encoded.
bool HeaderTablesEncodable(const QByteArray& source, QString& error) {
    TJpegError e;
    InitError(e);
    TDecompress file;
    bool usable = true;
    const bool ok = Guarded(e, [&] {
        file.Create(e, reinterpret_cast<const unsigned char*>(source.constData()), size_t(source.size()));
        jpeg_read_header(&file.Info, TRUE);
        for (int k = 0; k < file.Info.num_components; ++k) {
            const int slot = file.Info.comp_info[k].quant_tbl_no;
            const JQUANT_TBL* table = slot >= 0 && slot < NUM_QUANT_TBLS ? file.Info.quant_tbl_ptrs[slot] : nullptr;
            if (table && !EncoderCanUse(table)) usable = false;
        }
    });
    if (!ok) {
        error = QString::fromUtf8(e.Message);
        return false;
    }
    if (!usable) error = QStringLiteral("it has a quantisation table that no encoder can use.");
    return usable;
}

// --- TurboJPEG ---------------------------------------------------------------

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

bool DecodeJpeg(const QByteArray& source, uint8_t* rows, int32_t width, int32_t stride, int32_t height,
                QString& error) {
    TTurboHandle h(tjInitDecompress());
    if (!h.Handle) {
        error = h.Error();
        return false;
    }
    if (tjDecompress2(h.Handle, reinterpret_cast<const unsigned char*>(source.constData()),
                      static_cast<unsigned long>(source.size()), rows, width, stride, height, TJPF_BGR,
                      TurboFlags) != 0) {
        error = h.Error();
        return false;
    }
    return true;
}

// The orientations that TurboJPEG can give a file, with the map from the
// oriented image's (u, v) back to the file's pixel (sx, sy):
// sx = Ax*u + Bx*v + tx, sy = Ay*u + By*v + ty.
struct TOrientation {
    int Op;
    int32_t Ax, Bx, Ay, By;
};
constexpr TOrientation Orientations[] = {
    {TJXOP_NONE, 1, 0, 0, 1},       {TJXOP_HFLIP, -1, 0, 0, 1},     {TJXOP_VFLIP, 1, 0, 0, -1},
    {TJXOP_TRANSPOSE, 0, 1, 1, 0},  {TJXOP_TRANSVERSE, 0, -1, -1, 0}, {TJXOP_ROT90, 0, 1, -1, 0},
    {TJXOP_ROT180, -1, 0, 0, -1},   {TJXOP_ROT270, 0, -1, 1, 0},
};

// An orientation keeps the grid when no partial edge MCU of the file would
// land on the left or top edge.
bool IsPerfect(int op, int32_t width, int32_t height, int32_t bw, int32_t bh) {
    const bool wholeColumns = width % bw == 0, wholeRows = height % bh == 0;
    switch (op) {
    case TJXOP_HFLIP:
    case TJXOP_ROT270: return wholeColumns;
    case TJXOP_VFLIP:
    case TJXOP_ROT90: return wholeRows;
    case TJXOP_TRANSVERSE:
    case TJXOP_ROT180: return wholeColumns && wholeRows;
    default: return true;
    }
}

bool TransformJpeg(const QByteArray& source, int op, QByteArray& out, QString& error) {
    TTurboHandle h(tjInitTransform());
    if (!h.Handle) {
        error = h.Error();
        return false;
    }
    tjtransform t{};
    t.op = op;
    t.options = TJXOPT_PERFECT;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const int rc = tjTransform(h.Handle, reinterpret_cast<const unsigned char*>(source.constData()),
                               static_cast<unsigned long>(source.size()), 1, &buffer, &size, &t, TurboFlags);
    if (rc != 0) {
        error = h.Error();
        tjFree(buffer);
        return false;
    }
    try {
        out = QByteArray(reinterpret_cast<const char*>(buffer), qsizetype(size));
    } catch (...) {
        tjFree(buffer);
        throw;
    }
    tjFree(buffer);
    return true;
}

}  // namespace

// --- The session -------------------------------------------------------------

TJlvxSession::TJlvxSession()
    : FSource(), FSourceWidth(0), FSourceHeight(0), FSourceBlockWidth(8), FSourceBlockHeight(8),
      FSourceGray(false), FDataChecked(false), FFileName(), FMap(), FWidth(0), FHeight(0), FHasRegion(false),
      FRegion(), FOpen(false), FLastError(), FLastEncodedMCUs(0), FLastTotalMCUs(0) {}

TJlvxSession::~TJlvxSession() = default;

bool TJlvxSession::Fail(const QString& Text) {
    FLastError = Text;
    return false;
}

bool TJlvxSession::Damaged(const QString& Reason) {
    const QString fileName = FFileName;
    Close();
    return Fail(QStringLiteral("\"%1\" is damaged: %2").arg(fileName, Reason));
}

void TJlvxSession::Close() {
    FSource = QByteArray();
    FSourceWidth = FSourceHeight = 0;
    FSourceBlockWidth = FSourceBlockHeight = 8;
    FSourceGray = false;
    FDataChecked = false;
    FFileName.clear();
    FMap = TMap();
    FWidth = FHeight = 0;
    FHasRegion = false;
    FRegion = TQelRect();
    FOpen = false;
}

bool TJlvxSession::Open(const QString& FileName) {
    Close();
    FLastError.clear();
    TQelFileContents file = QelReadRegularFile(FileName, MaxFileSize);
    switch (file.Fault) {
    case TQelReadFault::None: break;
    case TQelReadFault::NotFound:
    case TQelReadFault::NotRegular: return Fail(QStringLiteral("\"%1\" is not a file.").arg(FileName));
    case TQelReadFault::TooLarge: return Fail(QStringLiteral("\"%1\" is too large for a JPEG file.").arg(FileName));
    case TQelReadFault::OutOfMemory: return Fail(QStringLiteral("Out of memory while reading \"%1\".").arg(FileName));
    case TQelReadFault::CannotRead:
        return Fail(QStringLiteral("Cannot read \"%1\": %2").arg(FileName, file.SystemError));
    default: return Fail(QStringLiteral("Cannot open \"%1\": %2").arg(FileName, file.SystemError));
    }
    if (file.Bytes.isEmpty()) return Fail(QStringLiteral("\"%1\" is empty.").arg(FileName));
    QByteArray data = std::move(file.Bytes);

    int width = 0, height = 0, subsamp = -1, colorspace = -1;
    {
        TTurboHandle h(tjInitDecompress());
        if (!h.Handle) return Fail(h.Error());
        if (tjDecompressHeader3(h.Handle, reinterpret_cast<const unsigned char*>(data.constData()),
                                static_cast<unsigned long>(data.size()), &width, &height, &subsamp, &colorspace) != 0)
            return Fail(QStringLiteral("\"%1\" is not a readable JPEG file: %2").arg(FileName, h.Error()));
    }
    if (colorspace != TJCS_YCbCr && colorspace != TJCS_GRAY && colorspace != TJCS_RGB)
        return Fail(QStringLiteral("\"%1\" is a CMYK JPEG file.").arg(FileName));
    if (subsamp < 0 || subsamp >= TJ_NUMSAMP) return Fail(QStringLiteral("\"%1\" has an unknown sampling.").arg(FileName));
    if (width <= 0 || height <= 0 || width > MaxJpegDimension || height > MaxJpegDimension)
        return Fail(QStringLiteral("\"%1\" has no valid image size.").arg(FileName));
    if (int64_t(width) * height > MaxPixels)
        return Fail(QStringLiteral("The image in \"%1\" is too large (%2 x %3 pixels).").arg(FileName).arg(width).arg(height));

    {
        QString error;
        if (!HeaderTablesEncodable(data, error))
            return Fail(QStringLiteral("\"%1\" cannot be kept as it is: %2").arg(FileName, error));
    }

    // The entropy-coded data is left to the first Decode, which reads all of
    // it anyway: reading it here as well would nearly double the time a photo
    // takes to open. Until it has been read cleanly, no save relies on it.
    FSource = std::move(data);
    FFileName = FileName;
    FDataChecked = false;
    FSourceWidth = width;
    FSourceHeight = height;
    FSourceBlockWidth = tjMCUWidth[subsamp];
    FSourceBlockHeight = tjMCUHeight[subsamp];
    FSourceGray = colorspace == TJCS_GRAY;
    FWidth = width;
    FHeight = height;
    FOpen = true;
    return true;
}

int32_t TJlvxSession::GetBlockWidth() const {
    if (!FOpen) return 0;
    return Transposed() ? FSourceBlockHeight : FSourceBlockWidth;
}

int32_t TJlvxSession::GetBlockHeight() const {
    if (!FOpen) return 0;
    return Transposed() ? FSourceBlockWidth : FSourceBlockHeight;
}

uint32_t TJlvxSession::GetBlockSizes() const {
    return (uint32_t(GetBlockWidth()) & 0xFFFF) | ((uint32_t(GetBlockHeight()) & 0xFFFF) << 16);
}

void TJlvxSession::Apply(const TMap& P, int32_t NewWidth, int32_t NewHeight) {
    const TMap& M = FMap;
    TMap r;
    r.Ax = M.Ax * P.Ax + M.Bx * P.Ay;
    r.Bx = M.Ax * P.Bx + M.Bx * P.By;
    r.Ay = M.Ay * P.Ax + M.By * P.Ay;
    r.By = M.Ay * P.Bx + M.By * P.By;
    r.Cx = M.Ax * P.Cx + M.Bx * P.Cy + M.Cx;
    r.Cy = M.Ay * P.Cx + M.By * P.Cy + M.Cy;
    FMap = r;
    FWidth = NewWidth;
    FHeight = NewHeight;
}

void TJlvxSession::CommitRegion() {
    if (!FHasRegion) return;
    FHasRegion = false;
    TMap shift;
    shift.Cx = FRegion.Left;
    shift.Cy = FRegion.Top;
    Apply(shift, FRegion.Width(), FRegion.Height());
}

bool TJlvxSession::SetRegion(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom) {
    if (!FOpen) return false;
    constexpr int32_t Limit = 1 << 24;
    if (Left >= Right || Top >= Bottom || Left < -Limit || Top < -Limit || Right > Limit || Bottom > Limit)
        return false;
    CommitRegion();
    FRegion = TQelRect(Left, Top, Right, Bottom);
    FHasRegion = true;
    return true;
}

bool TJlvxSession::FlipHorizontal() {
    if (!FOpen) return false;
    CommitRegion();
    TMap p;
    p.Ax = -1;
    p.Cx = FWidth - 1;
    Apply(p, FWidth, FHeight);
    return true;
}

bool TJlvxSession::FlipVertical() {
    if (!FOpen) return false;
    CommitRegion();
    TMap p;
    p.By = -1;
    p.Cy = FHeight - 1;
    Apply(p, FWidth, FHeight);
    return true;
}

bool TJlvxSession::RotateRight() {
    if (!FOpen) return false;
    CommitRegion();
    // The new (x, y) was the old (y, H - 1 - x).
    TMap p;
    p.Ax = 0;
    p.Bx = 1;
    p.Ay = -1;
    p.By = 0;
    p.Cy = FHeight - 1;
    Apply(p, FHeight, FWidth);
    return true;
}

bool TJlvxSession::RotateLeft() {
    if (!FOpen) return false;
    CommitRegion();
    // The new (x, y) was the old (W - 1 - y, x).
    TMap p;
    p.Ax = 0;
    p.Bx = -1;
    p.Ay = 1;
    p.By = 0;
    p.Cx = FWidth - 1;
    Apply(p, FHeight, FWidth);
    return true;
}

bool TJlvxSession::DecodeFile(uint8_t* Rows, int32_t Stride) {
    QString error;
    if (DecodeJpeg(FSource, Rows, FSourceWidth, Stride, FSourceHeight, error)) {
        FDataChecked = true;
        return true;
    }
    // Data that decoded cleanly once fails later only for want of memory.
    if (FDataChecked) return Fail(QStringLiteral("Cannot decode the JPEG data: %1").arg(error));
    return Damaged(error);
}

bool TJlvxSession::DecodeSource(std::unique_ptr<uint8_t[]>& Rows) {
    // Left uninitialised: the decoder writes every byte, and zeroing a whole
    // photo first would cost a pass over it for nothing.
    Rows.reset(new uint8_t[size_t(FSourceWidth) * size_t(FSourceHeight) * 3]);
    return DecodeFile(Rows.get(), FSourceWidth * 3);
}

bool TJlvxSession::Decode(uint8_t* Pixels, int32_t Stride, int32_t /*Flags*/) {
    FLastError.clear();
    if (!FOpen) return Fail(QStringLiteral("No JPEG file is open."));
    if (!Pixels || Stride < int64_t(FWidth) * 3) return Fail(QStringLiteral("The pixel rows are too small."));
    try {
        const bool identity = FMap.Ax == 1 && FMap.By == 1 && FMap.Cx == 0 && FMap.Cy == 0;
        if (identity && FWidth == FSourceWidth && FHeight == FSourceHeight) return DecodeFile(Pixels, Stride);
        std::unique_ptr<uint8_t[]> source;
        if (!DecodeSource(source)) return false;
        for (int32_t y = 0; y < FHeight; ++y) {
            uint8_t* row = Pixels + ptrdiff_t(y) * Stride;
            int64_t sx = FMap.Bx * int64_t(y) + FMap.Cx, sy = FMap.By * int64_t(y) + FMap.Cy;
            for (int32_t x = 0; x < FWidth; ++x, sx += FMap.Ax, sy += FMap.Ay) {
                uint8_t* p = row + ptrdiff_t(x) * 3;
                if (sx < 0 || sy < 0 || sx >= FSourceWidth || sy >= FSourceHeight) {
                    p[0] = p[1] = p[2] = 0;
                    continue;
                }
                std::memcpy(p, source.get() + (size_t(sy) * size_t(FSourceWidth) + size_t(sx)) * 3, 3);
            }
        }
        return true;
    } catch (const std::bad_alloc&) {
        return Fail(QStringLiteral("Out of memory while decoding the JPEG data."));
    }
}

bool TJlvxSession::Save(const QString& FileName, const TJlvxSaveOptions& Options) {
    FLastError.clear();
    if (!FOpen) return Fail(QStringLiteral("No JPEG file is open."));
    // The region belongs to this save; it never becomes a crop afterwards.
    const TQelRect region = FHasRegion ? FRegion : TQelRect(0, 0, FWidth, FHeight);
    FHasRegion = false;
    if (region.Width() > MaxJpegDimension || region.Height() > MaxJpegDimension)
        return Fail(QStringLiteral("The image is too large for a JPEG file."));
    if (!Options.Pixels || Options.Stride < int64_t(region.Width()) * 3)
        return Fail(QStringLiteral("No pixels were given to save."));

    QByteArray output;
    try {
        // A file whose data no decode has read yet is read now, before
        // anything is written: a damaged one is refused, the target kept.
        if (!FDataChecked) {
            QString error;
            if (!CheckEntropyData(FSource, error)) return Damaged(error);
            FDataChecked = true;
        }
        if (!Encode(region, Options, output)) return false;
    } catch (const std::bad_alloc&) {
        return Fail(QStringLiteral("Out of memory while writing the JPEG file."));
    }

    // The old file stays whole until the new one is complete.
    QString error;
    return QelWriteFileAtomically(FileName, output, error) ? true : Fail(error);
}

bool TJlvxSession::Encode(const TQelRect& R, const TJlvxSaveOptions& Options, QByteArray& Output) {
    const int32_t W = R.Width(), H = R.Height();
    const TPixelRows pixels{Options.Pixels, Options.Stride};
    auto pixelAt = [&](int32_t x, int32_t y) { return pixels.Row(y) + ptrdiff_t(x) * 3; };

    // A grayscale file whose pixels were coloured must become a colour file.
    bool color = false;
    if (FSourceGray) {
        for (int32_t y = 0; y < H && !color; ++y)
            for (int32_t x = 0; x < W; ++x) {
                const uint8_t* p = pixelAt(x, y);
                if (p[0] != p[1] || p[1] != p[2]) {
                    color = true;
                    break;
                }
            }
    }

    // The orientation that TurboJPEG gives the file to match the document,
    // and where the saved region's top-left lies in that oriented image.
    const TOrientation* orientation = nullptr;
    for (const TOrientation& o : Orientations)
        if (o.Ax == FMap.Ax && o.Bx == FMap.Bx && o.Ay == FMap.Ay && o.By == FMap.By) orientation = &o;
    if (!orientation) return Fail(QStringLiteral("The session's orientation is invalid."));
    const int64_t tx = (orientation->Ax < 0 || orientation->Bx < 0) ? FSourceWidth - 1 : 0;
    const int64_t ty = (orientation->Ay < 0 || orientation->By < 0) ? FSourceHeight - 1 : 0;
    const int64_t dx = FMap.Cx - tx, dy = FMap.Cy - ty;
    const int64_t ox = orientation->Ax * dx + orientation->Ay * dy + R.Left;
    const int64_t oy = orientation->Bx * dx + orientation->By * dy + R.Top;

    const int32_t bw = GetBlockWidth(), bh = GetBlockHeight();
    const int32_t cols = (W + bw - 1) / bw, rows = (H + bh - 1) / bh;
    const bool aligned = !color && IsPerfect(orientation->Op, FSourceWidth, FSourceHeight, FSourceBlockWidth,
                                             FSourceBlockHeight) &&
                         ox % bw == 0 && oy % bh == 0;

    std::vector<uint8_t> changed(size_t(cols) * size_t(rows), 1);
    int32_t encoded = cols * rows;
    if (aligned) {
        // Compare with the file's pixels as the document decoded them, mapped
        // exactly: a decode of the rotated coefficients would differ by
        // upsampling and rounding.
        std::unique_ptr<uint8_t[]> reference;
        if (!DecodeSource(reference)) return false;
        auto same = [&](int32_t i, int32_t j) {
            const int32_t xEnd = std::min((i + 1) * bw, W), yEnd = std::min((j + 1) * bh, H);
            for (int32_t y = j * bh; y < yEnd; ++y) {
                const int64_t X = int64_t(R.Left) + i * bw, Y = int64_t(R.Top) + y;
                int64_t sx = FMap.Ax * X + FMap.Bx * Y + FMap.Cx, sy = FMap.Ay * X + FMap.By * Y + FMap.Cy;
                for (int32_t x = i * bw; x < xEnd; ++x, sx += FMap.Ax, sy += FMap.Ay) {
                    if (sx < 0 || sy < 0 || sx >= FSourceWidth || sy >= FSourceHeight) return false;
                    const uint8_t* r = reference.get() + (size_t(sy) * size_t(FSourceWidth) + size_t(sx)) * 3;
                    if (std::memcmp(r, pixelAt(x, y), 3) != 0) return false;
                }
            }
            return true;
        };
        encoded = 0;
        for (int32_t j = 0; j < rows; ++j)
            for (int32_t i = 0; i < cols; ++i) {
                const bool differs = !same(i, j);
                changed[size_t(j) * size_t(cols) + size_t(i)] = differs;
                encoded += differs;
            }
    }

    TCompress out;
    QString error;
    bool ok = false;
    if (encoded < cols * rows) {
        QByteArray oriented = FSource;
        ok = orientation->Op == TJXOP_NONE || TransformJpeg(FSource, orientation->Op, oriented, error);
        if (ok)
            ok = MergeBlocks(oriented, pixels, W, H, bw, bh, int32_t(ox / bw), int32_t(oy / bh), changed, cols, rows,
                             out, error);
        // Should TurboJPEG refuse what we took for a perfect transform, the
        // pixels still make a correct file.
        if (!ok) encoded = cols * rows;
    }
    if (!ok) {
        TCompress fresh;
        if (!EncodePixels(FSource, pixels, W, H, Transposed(), color, fresh, error))
            return Fail(QStringLiteral("Cannot encode the JPEG data: %1").arg(error));
        Output = QByteArray(reinterpret_cast<const char*>(fresh.Dest.Data), qsizetype(fresh.Dest.Size));
    } else {
        Output = QByteArray(reinterpret_cast<const char*>(out.Dest.Data), qsizetype(out.Dest.Size));
    }
    FLastEncodedMCUs = encoded;
    FLastTotalMCUs = cols * rows;
    return true;
}
