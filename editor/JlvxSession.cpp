#include "JlvxSession.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "QelAtomicWrite.h"
#include "QelImageMetadata.h"
#include "QelParallel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    // Before the first write: the size to start with.
    size_t Capacity = 0;
    size_t Size = 0;
};

void InitDest(j_compress_ptr c) {
    TMemoryDest* d = reinterpret_cast<TMemoryDest*>(c->dest);
    if (!d->Data) {
        const size_t capacity = std::max<size_t>(65536, d->Capacity);
        d->Data = static_cast<unsigned char*>(std::malloc(capacity));
        if (!d->Data) FailWith(reinterpret_cast<j_common_ptr>(c), "Out of memory while writing the JPEG file.");
        d->Capacity = capacity;
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

bool IsProfileMarker(jpeg_saved_marker_ptr m) { return m->marker == JPEG_APP0 + 2 && MarkerStartsWith(m, "ICC_PROFILE", 12); }

// Whether the colour profile the markers carry is one for RGB: its first
// piece (a signature, the piece's number and count, then the profile)
// names the colour space 16 bytes into the profile.
bool RgbProfile(j_decompress_ptr from) {
    for (jpeg_saved_marker_ptr m = from->marker_list; m; m = m->next)
        if (IsProfileMarker(m) && m->data_length >= 14 + 20 && m->data[12] == 1)
            return std::memcmp(m->data + 14 + 16, "RGB ", 4) == 0;
    return false;
}

// The file's comments and application markers (metadata, colour profile)
// go along; the JFIF and Adobe markers are written by libjpeg itself. For
// pixels written as colour, a profile for other inks (a grey one) stays
// behind: viewers would turn the colour back into its inks.
void CopyMarkers(j_decompress_ptr from, j_compress_ptr to, bool color = false) {
    const bool profile = !color || RgbProfile(from);
    for (jpeg_saved_marker_ptr m = from->marker_list; m; m = m->next) {
        if (to->write_JFIF_header && m->marker == JPEG_APP0 && MarkerStartsWith(m, "JFIF", 5)) continue;
        if (to->write_Adobe_marker && m->marker == JPEG_APP0 + 14 && MarkerStartsWith(m, "Adobe", 5)) continue;
        if (!profile && IsProfileMarker(m)) continue;
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
        CopyMarkers(&file.Info, &out.Info, color);
        WriteRows(&out.Info, pixels, 0, 0);
        jpeg_finish_compress(&out.Info);
    });
    if (!ok) error = QString::fromUtf8(e.Message);
    return ok;
}

// --- Optimal Huffman tables ---------------------------------------------------
//
// libjpeg finds the optimal tables of a file in a first pass over all of its
// blocks, and that pass costs more than the rest of a lossless save. The
// counts it gathers are taken here instead, on several threads, and handed
// to libjpeg's own table builder: the tables, and so the file, are the same
// bit for bit.

extern "C" void jpeg_gen_optimal_table(j_compress_ptr cinfo, JHUFF_TBL* htbl, long freq[]);

// Coefficient positions in the order the entropy coder visits them.
constexpr uint8_t ZigZag[DCTSIZE2] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                      12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                      35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                      58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
// The largest coefficient magnitude an 8-bit baseline file codes, in bits.
constexpr int MaxCoefficientBits = 10;

struct THuffmanCounts {
    long Dc[NUM_HUFF_TBLS][257] = {};
    long Ac[NUM_HUFF_TBLS][257] = {};
    bool Codable = true;
};

int BitLength(int value) { return value ? 32 - __builtin_clz(unsigned(value)) : 0; }

// Where each coefficient position comes in that order.
constexpr std::array<uint8_t, DCTSIZE2> ZigZagIndexes() {
    std::array<uint8_t, DCTSIZE2> index{};
    for (int k = 0; k < DCTSIZE2; ++k) index[ZigZag[k]] = uint8_t(k);
    return index;
}
constexpr std::array<uint8_t, DCTSIZE2> ZigZagIndex = ZigZagIndexes();

// What the entropy coder's statistics pass counts for one block: the DC
// difference's size, then for each non-zero AC coefficient the run of zeros
// before it (in sixteens, then the rest) with its size, and an end of block
// after the last one unless it is the last coefficient.
inline void CountBlock(const JCOEF* block, int lastDc, long* dc, long* ac, bool& codable) {
    const int dcBits = BitLength(std::abs(int(block[0]) - lastDc));
    if (dcBits > MaxCoefficientBits + 1) codable = false;
    ++dc[std::min(dcBits, 16)];
    uint64_t natural = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (int q = 0; q < 4; ++q) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + q * 16));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + q * 16 + 8));
        const int zeros = _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero)));
        natural |= uint64_t(~unsigned(zeros) & 0xFFFFu) << (q * 16);
    }
    natural &= ~uint64_t(1);
#else
    for (int i = 1; i < DCTSIZE2; ++i) natural |= uint64_t(block[i] != 0) << i;
#endif
    uint64_t coded = 0;
    for (; natural; natural &= natural - 1) coded |= uint64_t(1) << ZigZagIndex[size_t(__builtin_ctzll(natural))];
    int last = 0;
    for (; coded; coded &= coded - 1) {
        const int k = __builtin_ctzll(coded);
        int run = k - last - 1;
        last = k;
        for (; run > 15; run -= 16) ++ac[0xF0];
        const int bits = BitLength(std::abs(int(block[ZigZag[k]])));
        if (bits > MaxCoefficientBits) codable = false;
        ++ac[(run << 4) + std::min(bits, 15)];
    }
    if (last < DCTSIZE2 - 1) ++ac[0];
}

// The blocks of one single scan over all components, as the transcoder
// walks them: MCU by MCU, each component's blocks row by row, with zero
// blocks taking the DC of the block before them where an MCU reaches past
// the image.
struct TScanWalk {
    int Components = 0;
    int H[MAX_COMPS_IN_SCAN] = {}, V[MAX_COMPS_IN_SCAN] = {};
    int WidthInBlocks[MAX_COMPS_IN_SCAN] = {}, HeightInBlocks[MAX_COMPS_IN_SCAN] = {};
    int DcTable[MAX_COMPS_IN_SCAN] = {}, AcTable[MAX_COMPS_IN_SCAN] = {};
    int McuColumns = 0, McuRows = 0;
    std::vector<JBLOCKROW> Rows[MAX_COMPS_IN_SCAN];

    // Walks MCU rows [From, To), from MCU column FirstColumn of the first;
    // LastDc holds each component's last DC before them and after. Counts,
    // when given, takes what the statistics pass counts.
    void Walk(int From, int To, int FirstColumn, int* lastDc, THuffmanCounts* counts) const {
        const bool single = Components == 1;
        long ignored[257];
        for (int j = From; j < To; ++j)
            for (int i = j == From ? FirstColumn : 0; i < McuColumns; ++i) {
                int previous = 0;
                for (int k = 0; k < Components; ++k) {
                    long* dc = counts ? counts->Dc[DcTable[k]] : ignored;
                    long* ac = counts ? counts->Ac[AcTable[k]] : ignored;
                    bool codable = true;
                    const int h = single ? 1 : H[k], v = single ? 1 : V[k];
                    for (int y = 0; y < v; ++y) {
                        const int row = j * v + y;
                        for (int x = 0; x < h; ++x) {
                            const int column = i * h + x;
                            if (row < HeightInBlocks[k] && column < WidthInBlocks[k]) {
                                const JCOEF* block = Rows[k][size_t(row)][column];
                                if (counts) CountBlock(block, lastDc[k], dc, ac, codable);
                                previous = lastDc[k] = block[0];
                            } else {
                                if (counts) {
                                    const int dcBits = BitLength(std::abs(previous - lastDc[k]));
                                    if (dcBits > MaxCoefficientBits + 1) codable = false;
                                    ++dc[std::min(dcBits, 16)];
                                    ++ac[0];
                                }
                                lastDc[k] = previous;
                            }
                        }
                    }
                    if (counts && !codable) counts->Codable = false;
                }
            }
    }
};

// Sets the optimal Huffman tables for writing Arrays (owned by Owner) as a
// W x H image with C's parameters, as optimize_coding would; false, with
// nothing changed, where libjpeg's own pass is left to do it (an unusual
// layout, or a coefficient the tables cannot code, which libjpeg reports).
// Runs inside the guard of C and Owner.
bool SetOptimalTables(j_compress_ptr c, j_common_ptr owner, jvirt_barray_ptr* arrays) {
    TScanWalk walk;
    walk.Components = c->num_components;
    if (walk.Components < 1 || walk.Components > MAX_COMPS_IN_SCAN || c->restart_interval || c->restart_in_rows ||
        c->scan_info || c->arith_code || c->progressive_mode || c->data_precision != 8)
        return false;
    int maxH = 1, maxV = 1;
    for (int k = 0; k < walk.Components; ++k) {
        const jpeg_component_info& info = c->comp_info[k];
        if (info.h_samp_factor < 1 || info.h_samp_factor > MAX_SAMP_FACTOR || info.v_samp_factor < 1 ||
            info.v_samp_factor > MAX_SAMP_FACTOR || info.dc_tbl_no < 0 || info.dc_tbl_no >= NUM_HUFF_TBLS ||
            info.ac_tbl_no < 0 || info.ac_tbl_no >= NUM_HUFF_TBLS)
            return false;
        maxH = std::max(maxH, info.h_samp_factor);
        maxV = std::max(maxV, info.v_samp_factor);
    }
    const int64_t W = c->image_width, H = c->image_height;
    for (int k = 0; k < walk.Components; ++k) {
        const jpeg_component_info& info = c->comp_info[k];
        walk.H[k] = info.h_samp_factor;
        walk.V[k] = info.v_samp_factor;
        walk.WidthInBlocks[k] = int((W * info.h_samp_factor + maxH * DCTSIZE - 1) / (maxH * DCTSIZE));
        walk.HeightInBlocks[k] = int((H * info.v_samp_factor + maxV * DCTSIZE - 1) / (maxV * DCTSIZE));
        walk.DcTable[k] = info.dc_tbl_no;
        walk.AcTable[k] = info.ac_tbl_no;
        walk.Rows[k].resize(size_t(walk.HeightInBlocks[k]));
        for (int r = 0; r < walk.HeightInBlocks[k]; ++r)
            walk.Rows[k][size_t(r)] = (*owner->mem->access_virt_barray)(owner, arrays[k], JDIMENSION(r), 1, FALSE)[0];
    }
    if (walk.Components == 1) {
        walk.McuColumns = walk.WidthInBlocks[0];
        walk.McuRows = walk.HeightInBlocks[0];
    } else {
        walk.McuColumns = int((W + maxH * DCTSIZE - 1) / (maxH * DCTSIZE));
        walk.McuRows = int((H + maxV * DCTSIZE - 1) / (maxV * DCTSIZE));
    }

    // MCU rows in bands, one thread a band; each band starts from the DCs
    // the MCU before it leaves.
    // The counts are sums, so the bands' split cannot change them.
    const int bands = QelParallelThreads(std::min(8, walk.McuRows));
    std::vector<THuffmanCounts> counts(static_cast<size_t>(bands));
    QelParallelFor(bands, bands, [&](int64_t b, int32_t) {
        const int from = int(int64_t(walk.McuRows) * b / bands), to = int(int64_t(walk.McuRows) * (b + 1) / bands);
        int lastDc[MAX_COMPS_IN_SCAN] = {};
        // The MCU before the band leaves its last DCs.
        if (from > 0) walk.Walk(from - 1, from, walk.McuColumns - 1, lastDc, nullptr);
        walk.Walk(from, to, 0, lastDc, &counts[size_t(b)]);
    });

    THuffmanCounts total;
    for (const THuffmanCounts& part : counts) {
        total.Codable = total.Codable && part.Codable;
        for (int t = 0; t < NUM_HUFF_TBLS; ++t)
            for (int s = 0; s < 257; ++s) {
                total.Dc[t][s] += part.Dc[t][s];
                total.Ac[t][s] += part.Ac[t][s];
            }
    }
    if (!total.Codable) return false;
    bool doneDc[NUM_HUFF_TBLS] = {}, doneAc[NUM_HUFF_TBLS] = {};
    for (int k = 0; k < walk.Components; ++k) {
        const int dc = walk.DcTable[k], ac = walk.AcTable[k];
        if (!doneDc[dc]) {
            if (!c->dc_huff_tbl_ptrs[dc]) c->dc_huff_tbl_ptrs[dc] = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(c));
            jpeg_gen_optimal_table(c, c->dc_huff_tbl_ptrs[dc], total.Dc[dc]);
            doneDc[dc] = true;
        }
        if (!doneAc[ac]) {
            if (!c->ac_huff_tbl_ptrs[ac]) c->ac_huff_tbl_ptrs[ac] = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(c));
            jpeg_gen_optimal_table(c, c->ac_huff_tbl_ptrs[ac], total.Ac[ac]);
            doneAc[ac] = true;
        }
    }
    return true;
}

// Compares MCUs with the file once its coefficients are read: clears the
// flags of those that show the file's own pixels. False, with the reason,
// when it cannot.
using TBlockComparer = std::function<bool(j_decompress_ptr File, jvirt_barray_ptr* Blocks, QString& Error)>;

// The MCU grid of a merge: each component's blocks per MCU, the MCUs'
// Changed flags, and the changed MCUs' bounding box (right and bottom
// exclusive).
struct TMergeGrid {
    int Components;
    const int32_t* Hk;
    const int32_t* Vk;
    const std::vector<uint8_t>& Changed;
    int32_t Cols, Rows, Mx0, Mx1, My0, My1;
};

// Reads the oriented file's header and coefficients into File and fills in
// each component's blocks per MCU. Unless InPlace, the arrays of the merged
// blocks are requested in OutBlocks first. Runs under Guarded.
jvirt_barray_ptr* ReadFileBlocks(TDecompress& file, TJpegError& e, const QByteArray& oriented, bool inPlace,
                                 int32_t cols, int32_t rows, int& components, int32_t* hk, int32_t* vk,
                                 jvirt_barray_ptr* outBlocks) {
    j_common_ptr fileCommon = reinterpret_cast<j_common_ptr>(&file.Info);
    file.Create(e, reinterpret_cast<const unsigned char*>(oriented.constData()), size_t(oriented.size()));
    SaveMarkers(&file.Info);
    jpeg_read_header(&file.Info, TRUE);
    components = file.Info.num_components;
    if (components > MAX_COMPONENTS) FailWith(fileCommon, "The JPEG file has too many components.");
    // A single-component image has one block per MCU whatever its
    // sampling factors say.
    for (int k = 0; k < components; ++k) {
        hk[k] = components == 1 ? 1 : file.Info.comp_info[k].h_samp_factor;
        vk[k] = components == 1 ? 1 : file.Info.comp_info[k].v_samp_factor;
        // Requested before the file's blocks are read, so that libjpeg
        // makes room for both at once.
        if (!inPlace)
            outBlocks[k] = (*file.Info.mem->request_virt_barray)(fileCommon, JPOOL_IMAGE, TRUE,
                                                                 JDIMENSION(cols * hk[k]),
                                                                 JDIMENSION(rows * vk[k]), JDIMENSION(vk[k]));
    }
    return jpeg_read_coefficients(&file.Info);
}

// Whether the merge of a Cols x Rows grid of Bw x Bh MCUs stays inside the
// file's block arrays, which hold its own whole MCUs: the file's MCU must be
// Bw x Bh, an in-place merge's grid must fit in the file's, and each MCU
// kept must be one of the file's (the others are flagged for encoding).
bool BlocksInFile(j_decompress_ptr file, int32_t bw, int32_t bh, int32_t oi, int32_t oj, bool inPlace,
                  std::vector<uint8_t>& changed, int32_t cols, int32_t rows) {
    const bool single = file->num_components == 1;
    const int32_t mcuW = single ? DCTSIZE : file->max_h_samp_factor * DCTSIZE;
    const int32_t mcuH = single ? DCTSIZE : file->max_v_samp_factor * DCTSIZE;
    if (mcuW != bw || mcuH != bh) return false;
    const int64_t fileCols = (int64_t(file->image_width) + mcuW - 1) / mcuW;
    const int64_t fileRows = (int64_t(file->image_height) + mcuH - 1) / mcuH;
    if (inPlace && (cols > fileCols || rows > fileRows)) return false;
    for (int32_t j = 0; j < rows; ++j)
        for (int32_t i = 0; i < cols; ++i) {
            const int64_t fi = int64_t(i) + oi, fj = int64_t(j) + oj;
            if (fi < 0 || fj < 0 || fi >= fileCols || fj >= fileRows) changed[size_t(j) * size_t(cols) + size_t(i)] = 1;
        }
    return true;
}

// The number of flagged MCUs; their bounding box in Mx0..Mx1, My0..My1.
int32_t ChangedBox(const std::vector<uint8_t>& changed, int32_t cols, int32_t rows, int32_t& mx0, int32_t& mx1,
                   int32_t& my0, int32_t& my1) {
    mx0 = cols;
    mx1 = 0;
    my0 = rows;
    my1 = 0;
    int32_t count = 0;
    for (int32_t j = 0; j < rows; ++j)
        for (int32_t i = 0; i < cols; ++i)
            if (changed[size_t(j) * size_t(cols) + size_t(i)]) {
                ++count;
                mx0 = std::min(mx0, i);
                mx1 = std::max(mx1, i + 1);
                my0 = std::min(my0, j);
                my1 = std::max(my1, j + 1);
            }
    return count;
}

// Pixels X0..X1 x Y0..Y1 encoded with File's tables and sampling, and read
// back as coefficients through Patch. Runs under Guarded.
jvirt_barray_ptr* EncodePatch(TJpegError& e, j_decompress_ptr file, const TPixelRows& pixels, int32_t x0, int32_t y0,
                              int32_t x1, int32_t y1, TCompress& patchOut, TDecompress& patch) {
    patchOut.Create(e);
    jpeg_copy_critical_parameters(file, &patchOut.Info);
    StartPixelInput(&patchOut.Info, JDIMENSION(x1 - x0), JDIMENSION(y1 - y0));
    CheckEncoderTables(&patchOut.Info);
    jpeg_start_compress(&patchOut.Info, TRUE);
    WriteRows(&patchOut.Info, pixels, x0, y0);
    jpeg_finish_compress(&patchOut.Info);

    patch.Create(e, patchOut.Dest.Data, patchOut.Dest.Size);
    jpeg_read_header(&patch.Info, TRUE);
    return jpeg_read_coefficients(&patch.Info);
}

// The saved image's grid lies on the file's: only the changed MCUs' blocks
// of the file are touched, each replaced by the patch's.
void CopyChangedInPlace(const TMergeGrid& g, j_decompress_ptr file, jvirt_barray_ptr* fileBlocks,
                        j_decompress_ptr patch, jvirt_barray_ptr* patchBlocks) {
    j_common_ptr fileCommon = reinterpret_cast<j_common_ptr>(file);
    j_common_ptr patchCommon = reinterpret_cast<j_common_ptr>(patch);
    const int32_t* hk = g.Hk;
    const int32_t* vk = g.Vk;
    for (int k = 0; k < g.Components; ++k)
        for (int32_t j = g.My0; j < g.My1; ++j)
            for (int32_t r = 0; r < vk[k]; ++r) {
                JBLOCKROW to = nullptr;
                JBLOCKROW encoded = nullptr;
                for (int32_t i = g.Mx0; i < g.Mx1; ++i) {
                    if (!g.Changed[size_t(j) * size_t(g.Cols) + size_t(i)]) continue;
                    if (!to) {
                        to = (*file->mem->access_virt_barray)(fileCommon, fileBlocks[k], JDIMENSION(j * vk[k] + r), 1,
                                                              TRUE)[0];
                        encoded = (*patch->mem->access_virt_barray)(patchCommon, patchBlocks[k],
                                                                    JDIMENSION((j - g.My0) * vk[k] + r), 1, FALSE)[0];
                    }
                    std::memcpy(to[i * hk[k]], encoded[(i - g.Mx0) * hk[k]], sizeof(JBLOCK) * size_t(hk[k]));
                }
            }
}

// Every MCU (i, j) into OutBlocks: the patch's blocks where it is changed,
// else the file's MCU (i + Oi, j + Oj).
void CopyShifted(const TMergeGrid& g, j_decompress_ptr file, jvirt_barray_ptr* fileBlocks, jvirt_barray_ptr* outBlocks,
                 j_decompress_ptr patch, jvirt_barray_ptr* patchBlocks, int32_t oi, int32_t oj) {
    j_common_ptr fileCommon = reinterpret_cast<j_common_ptr>(file);
    j_common_ptr patchCommon = reinterpret_cast<j_common_ptr>(patch);
    const int32_t* hk = g.Hk;
    const int32_t* vk = g.Vk;
    for (int k = 0; k < g.Components; ++k)
        for (int32_t j = 0; j < g.Rows; ++j)
            for (int32_t r = 0; r < vk[k]; ++r) {
                JBLOCKROW to =
                    (*file->mem->access_virt_barray)(fileCommon, outBlocks[k], JDIMENSION(j * vk[k] + r), 1, TRUE)[0];
                JBLOCKROW kept = nullptr;
                JBLOCKROW encoded = nullptr;
                for (int32_t i = 0; i < g.Cols; ++i) {
                    JBLOCKROW from;
                    int32_t column;
                    if (g.Changed[size_t(j) * size_t(g.Cols) + size_t(i)]) {
                        if (!encoded)
                            encoded = (*patch->mem->access_virt_barray)(
                                patchCommon, patchBlocks[k], JDIMENSION((j - g.My0) * vk[k] + r), 1, FALSE)[0];
                        from = encoded;
                        column = (i - g.Mx0) * hk[k];
                    } else {
                        if (!kept)
                            kept = (*file->mem->access_virt_barray)(fileCommon, fileBlocks[k],
                                                                    JDIMENSION((j + oj) * vk[k] + r), 1, FALSE)[0];
                        from = kept;
                        column = (i + oi) * hk[k];
                    }
                    std::memcpy(to[i * hk[k]], from[column], sizeof(JBLOCK) * size_t(hk[k]));
                }
            }
}

// Blocks, W x H pixels, written through Out with File's tables and markers
// and, where they can be made, optimal Huffman tables. SizeHint is about
// the file's size. Runs under Guarded.
void WriteBlocks(TJpegError& e, j_decompress_ptr file, jvirt_barray_ptr* blocks, int32_t W, int32_t H,
                 size_t sizeHint, TCompress& out) {
    out.Create(e);
    // About the file's size: no growing and copying on the way.
    out.Dest.Capacity = sizeHint + sizeHint / 8;
    jpeg_copy_critical_parameters(file, &out.Info);
    out.Info.image_width = JDIMENSION(W);
    out.Info.image_height = JDIMENSION(H);
    out.Info.optimize_coding = !SetOptimalTables(&out.Info, reinterpret_cast<j_common_ptr>(file), blocks);
    jpeg_write_coefficients(&out.Info, blocks);
    CopyMarkers(file, &out.Info);
    jpeg_finish_compress(&out.Info);
}

// Writes W x H pixels as MCUs of the oriented file: MCU (i, j) whose Changed
// flag is clear takes the coefficients of the file's MCU (i + Oi, j + Oj) as
// they are; the flagged MCUs are encoded from the pixels with the file's
// tables and sampling. Compare, when given, settles the flags first, on the
// blocks as read; Encoded is then the number of flagged MCUs, and when every
// MCU is flagged nothing is written (false with AllChanged set: a whole
// encode is the file for that). The crop is done here, block by block,
// because TurboJPEG 2.1 checks a crop origin against the untransposed MCU
// size and so refuses valid crops of turned 4:2:2 and 4:1:1 images.
bool MergeBlocks(const QByteArray& oriented, const TPixelRows& pixels, int32_t W, int32_t H, int32_t bw, int32_t bh,
                 int32_t oi, int32_t oj, std::vector<uint8_t>& changed, int32_t cols, int32_t rows,
                 const TBlockComparer* compare, int32_t& encodedCount, bool& allChanged, TCompress& out,
                 QString& error) {
    allChanged = false;
    TJpegError e;
    InitError(e);
    TDecompress file, patch;
    TCompress patchOut;
    // With the saved image's grid at the file's origin, its blocks are
    // changed where they lie; otherwise they are copied into arrays of their
    // own.
    const bool inPlace = oi == 0 && oj == 0;
    int components = 0;
    int32_t hk[MAX_COMPONENTS], vk[MAX_COMPONENTS];
    jvirt_barray_ptr outBlocks[MAX_COMPONENTS];
    jvirt_barray_ptr* fileBlocks = nullptr;
    bool ok = Guarded(e, [&] {
        fileBlocks = ReadFileBlocks(file, e, oriented, inPlace, cols, rows, components, hk, vk, outBlocks);
    });
    if (!ok) {
        error = QString::fromUtf8(e.Message);
        return false;
    }
    if (compare && !(*compare)(&file.Info, fileBlocks, error)) return false;
    if (!BlocksInFile(&file.Info, bw, bh, oi, oj, inPlace, changed, cols, rows)) {
        error = QStringLiteral("The saved region does not lie on the file's blocks.");
        return false;
    }

    int32_t mx0 = 0, mx1 = 0, my0 = 0, my1 = 0;
    encodedCount = ChangedBox(changed, cols, rows, mx0, mx1, my0, my1);
    if (encodedCount == cols * rows) {
        allChanged = true;
        return false;
    }
    // The patch covers the changed MCUs' bounding box; its edges lie on the
    // grid or on the image's own edge, so its blocks are those a whole-image
    // encode would give.
    const int32_t x0 = mx0 * bw, y0 = my0 * bh;
    const int32_t x1 = std::min(mx1 * bw, W), y1 = std::min(my1 * bh, H);
    const TMergeGrid grid{components, hk, vk, changed, cols, rows, mx0, mx1, my0, my1};

    ok = Guarded(e, [&] {
        jvirt_barray_ptr* patchBlocks = nullptr;
        if (mx1 > mx0) patchBlocks = EncodePatch(e, &file.Info, pixels, x0, y0, x1, y1, patchOut, patch);
        if (inPlace)
            CopyChangedInPlace(grid, &file.Info, fileBlocks, &patch.Info, patchBlocks);
        else
            CopyShifted(grid, &file.Info, fileBlocks, outBlocks, &patch.Info, patchBlocks, oi, oj);
        WriteBlocks(e, &file.Info, inPlace ? fileBlocks : outBlocks, W, H, size_t(oriented.size()), out);
    });
    if (!ok) error = QString::fromUtf8(e.Message);
    return ok;
}

// --- Comparing with the file ----------------------------------------------------

// Pixels of the file decoded over Area (file coordinates), Stride bytes a row.
struct TReference {
    const uint8_t* Rows = nullptr;
    ptrdiff_t Stride = 0;
    TQelRect Area;
};

// The saved region as the comparison sees it: its rows, the map from the
// document to the file, the region's origin in the document and its grid.
struct TRegionGrid {
    TPixelRows Pixels;
    TJlvxSession::TMap Map;
    int32_t Left, Top, W, H, Bw, Bh, Cols, Rows;
};

// Whether MCU (i, j) of the region shows exactly the file's pixels; false
// where it reaches beyond the reference.
bool SameAsFile(const TRegionGrid& g, const TReference& ref, int32_t i, int32_t j) {
    const TJlvxSession::TMap& m = g.Map;
    const int32_t xBegin = i * g.Bw, xEnd = std::min((i + 1) * g.Bw, g.W), yEnd = std::min((j + 1) * g.Bh, g.H);
    const TQelRect& a = ref.Area;
    for (int32_t y = j * g.Bh; y < yEnd; ++y) {
        const int64_t X = int64_t(g.Left) + xBegin, Y = int64_t(g.Top) + y;
        int64_t sx = m.Ax * X + m.Bx * Y + m.Cx, sy = m.Ay * X + m.By * Y + m.Cy;
        const uint8_t* pixel = g.Pixels.Row(y) + ptrdiff_t(xBegin) * 3;
        if (m.Ax == 1 && m.Ay == 0) {
            // Along a file row: one comparison for the MCU's row.
            if (sx < a.Left || sy < a.Top || sy >= a.Bottom || sx + (xEnd - xBegin) > a.Right) return false;
            if (std::memcmp(ref.Rows + (sy - a.Top) * ref.Stride + (sx - a.Left) * 3, pixel,
                            size_t(xEnd - xBegin) * 3) != 0)
                return false;
            continue;
        }
        for (int32_t x = xBegin; x < xEnd; ++x, sx += m.Ax, sy += m.Ay, pixel += 3) {
            if (sx < a.Left || sy < a.Top || sx >= a.Right || sy >= a.Bottom) return false;
            if (std::memcmp(ref.Rows + (sy - a.Top) * ref.Stride + (sx - a.Left) * 3, pixel, 3) != 0) return false;
        }
    }
    return true;
}

// Clears the flags of the flagged MCUs in Range (MCUs of the region) that
// show the file's pixels.
void CompareRange(const TRegionGrid& g, const TReference& ref, const TQelRect& range, std::vector<uint8_t>& changed) {
    for (int32_t j = range.Top; j < range.Bottom; ++j)
        for (int32_t i = range.Left; i < range.Right; ++i) {
            uint8_t& flag = changed[size_t(j) * size_t(g.Cols) + size_t(i)];
            if (flag && SameAsFile(g, ref, i, j)) flag = 0;
        }
}

// The file's blocks whose decode does not depend on the rest of the file:
// false for a progressive file whose scans leave coefficients unsent, which
// a decoder smooths across blocks.
bool BlocksDecodeAlone(j_decompress_ptr file) {
    if (!file->progressive_mode) return true;
    if (!file->coef_bits) return false;
    for (int k = 0; k < file->num_components; ++k)
        for (int c = 0; c < DCTSIZE2; ++c)
            if (file->coef_bits[k][c] != 0) return false;
    return true;
}

// Decodes the file's blocks over Area (file pixels; left and top on the
// file's MCU grid, right and bottom on it or at the image's edge) on their
// own, into rows of Area.Width() * 3 bytes. Upsampling reaches one sample
// across, so the pixels an MCU or more inside the area's edges, and all
// along the image's own edges, are exactly those a decode of the whole file
// gives.
bool DecodeBlocksOver(j_decompress_ptr file, jvirt_barray_ptr* blocks, const TQelRect& Area, uint8_t* Rows,
                      QString& error) {
    TJpegError e;
    InitError(e);
    TCompress encoder;
    TDecompress decoder;
    // Errors in reading the file's arrays land here too.
    jpeg_error_mgr* const fileError = file->err;
    file->err = &e.Base;
    const int components = file->num_components;
    const int32_t mcuW = components == 1 ? DCTSIZE : file->max_h_samp_factor * DCTSIZE;
    const int32_t mcuH = components == 1 ? DCTSIZE : file->max_v_samp_factor * DCTSIZE;
    const int32_t col0 = Area.Left / mcuW, row0 = Area.Top / mcuH;
    const int32_t mcuCols = (Area.Width() + mcuW - 1) / mcuW, mcuRows = (Area.Height() + mcuH - 1) / mcuH;
    const bool ok = Guarded(e, [&] {
        j_common_ptr encoderCommon = reinterpret_cast<j_common_ptr>(&encoder.Info);
        j_common_ptr fileCommon = reinterpret_cast<j_common_ptr>(file);
        if (components > MAX_COMPONENTS) FailWith(fileCommon, "The JPEG file has too many components.");
        encoder.Create(e);
        jpeg_copy_critical_parameters(file, &encoder.Info);
        encoder.Info.image_width = JDIMENSION(Area.Width());
        encoder.Info.image_height = JDIMENSION(Area.Height());
        // The area's coefficients may be ones the standard tables cannot code.
        encoder.Info.optimize_coding = TRUE;
        jvirt_barray_ptr arrays[MAX_COMPONENTS];
        int32_t hk[MAX_COMPONENTS], vk[MAX_COMPONENTS];
        for (int k = 0; k < components; ++k) {
            hk[k] = components == 1 ? 1 : file->comp_info[k].h_samp_factor;
            vk[k] = components == 1 ? 1 : file->comp_info[k].v_samp_factor;
            arrays[k] = (*encoder.Info.mem->request_virt_barray)(encoderCommon, JPOOL_IMAGE, FALSE,
                                                                 JDIMENSION(mcuCols * hk[k]),
                                                                 JDIMENSION(mcuRows * vk[k]), JDIMENSION(vk[k]));
        }
        (*encoder.Info.mem->realize_virt_arrays)(encoderCommon);
        for (int k = 0; k < components; ++k)
            for (int32_t r = 0; r < mcuRows * vk[k]; ++r) {
                JBLOCKROW to = (*encoder.Info.mem->access_virt_barray)(encoderCommon, arrays[k], JDIMENSION(r), 1,
                                                                       TRUE)[0];
                JBLOCKROW from = (*file->mem->access_virt_barray)(fileCommon, blocks[k],
                                                                  JDIMENSION(row0 * vk[k] + r), 1, FALSE)[0];
                std::memcpy(to[0], from[col0 * hk[k]], sizeof(JBLOCK) * size_t(mcuCols * hk[k]));
            }
        jpeg_write_coefficients(&encoder.Info, arrays);
        jpeg_finish_compress(&encoder.Info);

        decoder.Create(e, encoder.Dest.Data, encoder.Dest.Size);
        jpeg_read_header(&decoder.Info, TRUE);
        decoder.Info.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&decoder.Info);
        if (decoder.Info.output_width != JDIMENSION(Area.Width()) || decoder.Info.output_components != 3)
            FailWith(reinterpret_cast<j_common_ptr>(&decoder.Info), "The blocks decode to another size.");
        while (decoder.Info.output_scanline < decoder.Info.output_height) {
            JSAMPROW row = Rows + ptrdiff_t(decoder.Info.output_scanline) * Area.Width() * 3;
            jpeg_read_scanlines(&decoder.Info, &row, 1);
        }
        jpeg_finish_decompress(&decoder.Info);
    });
    file->err = fileError;
    if (!ok) error = QString::fromUtf8(e.Message);
    return ok;
}

// Reads the file's coefficients, for comparisons that are made on the file
// as it is rather than on the oriented copy that is merged.
bool CompareOnFile(const QByteArray& source, const TBlockComparer& compare, QString& error) {
    TJpegError e;
    InitError(e);
    TDecompress file;
    jvirt_barray_ptr* blocks = nullptr;
    const bool ok = Guarded(e, [&] {
        file.Create(e, reinterpret_cast<const unsigned char*>(source.constData()), size_t(source.size()));
        jpeg_read_header(&file.Info, TRUE);
        blocks = jpeg_read_coefficients(&file.Info);
    });
    if (!ok) {
        error = QString::fromUtf8(e.Message);
        return false;
    }
    return compare(&file.Info, blocks, error);
}

// The MCU ranges of the region (cols x rows MCUs of bw x bh, its origin at
// R's top-left) that the changed rectangles meet. Ranges that come within
// an MCU of each other are merged, so that each block is decoded once.
std::vector<TQelRect> ChangedRanges(const std::vector<TQelRect>& rects, const TQelRect& R, int32_t bw, int32_t bh,
                                    int32_t cols, int32_t rows) {
    std::vector<TQelRect> ranges;
    TQelRect all;
    for (const TQelRect& rect : rects) {
        TQelRect c;
        if (!QelIntersectRect(c, rect, R)) continue;
        const int64_t left = int64_t(c.Left) - R.Left, top = int64_t(c.Top) - R.Top;
        const int64_t right = int64_t(c.Right) - R.Left, bottom = int64_t(c.Bottom) - R.Top;
        const TQelRect range(int32_t(left / bw), int32_t(top / bh), int32_t(std::min<int64_t>((right + bw - 1) / bw, cols)),
                             int32_t(std::min<int64_t>((bottom + bh - 1) / bh, rows)));
        ranges.push_back(range);
        QelUnionRect(all, all, range);
    }
    // Many small rectangles (a long history) are taken together.
    if (ranges.size() > 64) return {all};
    for (bool merged = true; merged;) {
        merged = false;
        for (size_t a = 0; a < ranges.size() && !merged; ++a)
            for (size_t b = a + 1; b < ranges.size(); ++b) {
                const TQelRect& p = ranges[a];
                const TQelRect grown(p.Left - 1, p.Top - 1, p.Right + 1, p.Bottom + 1);
                TQelRect meet;
                if (!QelIntersectRect(meet, grown, ranges[b])) continue;
                QelUnionRect(ranges[a], ranges[a], ranges[b]);
                ranges.erase(ranges.begin() + ptrdiff_t(b));
                merged = true;
                break;
            }
    }
    return ranges;
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
// pixels are encoded. Gives the file's MCU in pixels as its sampling factors
// make it, which is what its block arrays follow: TurboJPEG's name for the
// sampling implies another size where the factors are written unusually
// (2 x 2 luma with 1 x 2 chroma reads as 4:2:2, yet its MCUs are 16 x 16).
bool HeaderTablesEncodable(const QByteArray& source, int32_t& mcuWidth, int32_t& mcuHeight, QString& error) {
    TJpegError e;
    InitError(e);
    TDecompress file;
    bool usable = true;
    const bool ok = Guarded(e, [&] {
        file.Create(e, reinterpret_cast<const unsigned char*>(source.constData()), size_t(source.size()));
        jpeg_read_header(&file.Info, TRUE);
        const bool single = file.Info.num_components == 1;
        mcuWidth = single ? DCTSIZE : file.Info.max_h_samp_factor * DCTSIZE;
        mcuHeight = single ? DCTSIZE : file.Info.max_v_samp_factor * DCTSIZE;
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

// The orientation that TurboJPEG gives the file to match the document (null
// when Map is none of them), and in Ox, Oy where the saved region's top-left
// lies in that oriented image.
const TOrientation* OrientFile(const TJlvxSession::TMap& Map, int32_t sourceWidth, int32_t sourceHeight,
                               const TQelRect& R, int64_t& ox, int64_t& oy) {
    const TOrientation* orientation = nullptr;
    for (const TOrientation& o : Orientations)
        if (o.Ax == Map.Ax && o.Bx == Map.Bx && o.Ay == Map.Ay && o.By == Map.By) orientation = &o;
    if (!orientation) return nullptr;
    const int64_t tx = (orientation->Ax < 0 || orientation->Bx < 0) ? sourceWidth - 1 : 0;
    const int64_t ty = (orientation->Ay < 0 || orientation->By < 0) ? sourceHeight - 1 : 0;
    const int64_t dx = Map.Cx - tx, dy = Map.Cy - ty;
    ox = orientation->Ax * dx + orientation->Ay * dy + R.Left;
    oy = orientation->Bx * dx + orientation->By * dy + R.Top;
    return orientation;
}

// The caller's changed rectangles count only where the region lies in the
// file: elsewhere there is nothing its pixels could equal. True when they
// count, with those meeting R cut to it in Rects.
bool VouchedChanges(const TJlvxSession::TMap& Map, int32_t sourceWidth, int32_t sourceHeight, const TQelRect& R,
                    const std::vector<TQelRect>* changed, std::vector<TQelRect>& rects) {
    auto inFile = [&](int64_t x, int64_t y) {
        const int64_t sx = Map.Ax * x + Map.Bx * y + Map.Cx, sy = Map.Ay * x + Map.By * y + Map.Cy;
        return sx >= 0 && sy >= 0 && sx < sourceWidth && sy < sourceHeight;
    };
    const bool vouched = changed && inFile(R.Left, R.Top) && inFile(int64_t(R.Right) - 1, int64_t(R.Bottom) - 1);
    if (vouched)
        for (const TQelRect& r : *changed) {
            TQelRect c;
            if (QelIntersectRect(c, r, R)) rects.push_back(c);
        }
    return vouched;
}

// Whether the region R's pixels hold a colour other than grey: only where
// the changed rectangles lie when they are vouched for.
bool AnyColour(const TPixelRows& pixels, const TQelRect& R, bool vouched, const std::vector<TQelRect>& changedRects) {
    auto anyColour = [&](const TQelRect& r) {
        for (int32_t y = r.Top; y < r.Bottom; ++y) {
            const uint8_t* p = pixels.Row(y - R.Top) + ptrdiff_t(r.Left - R.Left) * 3;
            for (int32_t x = r.Left; x < r.Right; ++x, p += 3)
                if (p[0] != p[1] || p[1] != p[2]) return true;
        }
        return false;
    };
    bool color = false;
    if (vouched) {
        for (const TQelRect& r : changedRects)
            if ((color = anyColour(r))) break;
    } else {
        color = anyColour(R);
    }
    return color;
}

// Clears the flags of the MCUs in Ranges that show the file's pixels, each
// range against a decode of just the file's blocks around it. False when
// the blocks cannot be decoded alone: the ranges are then for a decode of
// the whole file.
bool CompareRangesOnBlocks(j_decompress_ptr file, jvirt_barray_ptr* blocks, const TRegionGrid& grid,
                           int32_t sourceWidth, int32_t sourceHeight, const std::vector<TQelRect>& ranges,
                           std::vector<uint8_t>& changed) {
    const TJlvxSession::TMap& map = grid.Map;
    const int32_t mw = file->num_components == 1 ? DCTSIZE : file->max_h_samp_factor * DCTSIZE;
    const int32_t mh = file->num_components == 1 ? DCTSIZE : file->max_v_samp_factor * DCTSIZE;
    if (!BlocksDecodeAlone(file)) return false;
    for (const TQelRect& range : ranges) {
        // The range in file pixels, an MCU wider on every side.
        const int64_t x0 = int64_t(grid.Left) + range.Left * grid.Bw, y0 = int64_t(grid.Top) + range.Top * grid.Bh;
        const int64_t x1 = int64_t(grid.Left) + std::min(range.Right * grid.Bw, grid.W) - 1;
        const int64_t y1 = int64_t(grid.Top) + std::min(range.Bottom * grid.Bh, grid.H) - 1;
        const int64_t ax = map.Ax * x0 + map.Bx * y0 + map.Cx, ay = map.Ay * x0 + map.By * y0 + map.Cy;
        const int64_t bx = map.Ax * x1 + map.Bx * y1 + map.Cx, by = map.Ay * x1 + map.By * y1 + map.Cy;
        const int64_t left = std::max<int64_t>(0, (std::min(ax, bx) - mw) / mw * mw);
        const int64_t top = std::max<int64_t>(0, (std::min(ay, by) - mh) / mh * mh);
        const int64_t right = std::min<int64_t>(sourceWidth, (std::max(ax, bx) + 1 + mw + mw - 1) / mw * mw);
        const int64_t bottom = std::min<int64_t>(sourceHeight, (std::max(ay, by) + 1 + mh + mh - 1) / mh * mh);
        const TQelRect area{int32_t(left), int32_t(top), int32_t(right), int32_t(bottom)};
        std::unique_ptr<uint8_t[]> decoded(new uint8_t[size_t(area.Width()) * size_t(area.Height()) * 3]);
        QString why;
        // Blocks that cannot be coded alone are compared on the whole decode.
        if (!DecodeBlocksOver(file, blocks, area, decoded.get(), why)) return false;
        CompareRange(grid, TReference{decoded.get(), ptrdiff_t(area.Width()) * 3, area}, range, changed);
    }
    return true;
}

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

    int32_t mcuWidth = 0, mcuHeight = 0;
    {
        QString error;
        if (!HeaderTablesEncodable(data, mcuWidth, mcuHeight, error))
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
    FSourceBlockWidth = mcuWidth;
    FSourceBlockHeight = mcuHeight;
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

bool TJlvxSession::DecodeSource(std::unique_ptr<uint8_t[], TQelLargeDeleter>& Rows) {
    // The decoder writes every byte, so the rows a turned image left behind
    // serve as they are; zeroing them first would be a pass for nothing.
    const size_t bytes = size_t(FSourceWidth) * size_t(FSourceHeight) * 3;
    Rows.reset(static_cast<uint8_t*>(QelAllocateLargeForOverwrite(bytes)));
    if (!Rows) throw std::bad_alloc();
    return DecodeFile(Rows.get(), FSourceWidth * 3);
}

bool TJlvxSession::Decode(uint8_t* Pixels, int32_t Stride, int32_t /*Flags*/) {
    FLastError.clear();
    if (!FOpen) return Fail(QStringLiteral("No JPEG file is open."));
    if (!Pixels || Stride < int64_t(FWidth) * 3) return Fail(QStringLiteral("The pixel rows are too small."));
    try {
        const bool identity = FMap.Ax == 1 && FMap.By == 1 && FMap.Cx == 0 && FMap.Cy == 0;
        if (identity && FWidth == FSourceWidth && FHeight == FSourceHeight) return DecodeFile(Pixels, Stride);
        std::unique_ptr<uint8_t[], TQelLargeDeleter> source;
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

    try {
        // A file whose data no decode has read yet is read now, before
        // anything is written: a damaged one is refused, the target kept.
        if (!FDataChecked) {
            QString error;
            if (!CheckEntropyData(FSource, error)) return Damaged(error);
            FDataChecked = true;
        }
        // Turned or flipped pixels are written as they stand, so the file's
        // orientation tag (EXIF and XMP) must say so; an unturned file keeps
        // its tag, and every other byte of its markers either way.
        const bool turned = !(FMap.Ax == 1 && FMap.Bx == 0 && FMap.Ay == 0 && FMap.By == 1);
        const bool whole = region.Width() == FSourceWidth && region.Height() == FSourceHeight;
        // The old file stays whole until the new one is complete.
        return Encode(region, Options, [&](const QByteArray& output, bool blocksKept) {
            QString error;
            // What the EXIF states of pixels that are no longer the file's.
            const bool restate = turned || !whole || !blocksKept;
            QByteArray restated;
            if (restate) {
                restated = QByteArray(output.constData(), output.size());
                if (turned) QelResetJpegOrientation(restated);
                // A quarter turn also swaps the axes the resolution is stated for.
                if (Transposed()) QelSwapJpegResolution(restated);
                QelSetJpegExifDimensions(restated, region.Width(), region.Height());
                // The thumbnail would show the picture as it was.
                QelRemoveJpegThumbnail(restated);
            }
            return QelWriteFileAtomically(FileName, restate ? restated : output, error) ? true : Fail(error);
        });
    } catch (const std::bad_alloc&) {
        return Fail(QStringLiteral("Out of memory while writing the JPEG file."));
    }
}

bool TJlvxSession::Encode(const TQelRect& R, const TJlvxSaveOptions& Options,
                          const std::function<bool(const QByteArray&, bool)>& Store) {
    const int32_t W = R.Width(), H = R.Height();
    const TPixelRows pixels{Options.Pixels, Options.Stride};

    int64_t ox = 0, oy = 0;
    const TOrientation* orientation = OrientFile(FMap, FSourceWidth, FSourceHeight, R, ox, oy);
    if (!orientation) return Fail(QStringLiteral("The session's orientation is invalid."));
    std::vector<TQelRect> changedRects;
    const bool vouched = VouchedChanges(FMap, FSourceWidth, FSourceHeight, R, Options.Changed, changedRects);
    // A grayscale file whose pixels were coloured must become a colour file.
    const bool color = FSourceGray && AnyColour(pixels, R, vouched, changedRects);

    const int32_t bw = GetBlockWidth(), bh = GetBlockHeight();
    const int32_t cols = (W + bw - 1) / bw, rows = (H + bh - 1) / bh;
    // Blocks are kept only for a region inside the file as turned: one that
    // reaches past it (an enlarged picture) has no blocks there to keep, and
    // is encoded whole.
    const int64_t orientedWidth = Transposed() ? FSourceHeight : FSourceWidth;
    const int64_t orientedHeight = Transposed() ? FSourceWidth : FSourceHeight;
    const bool inFile = ox >= 0 && oy >= 0 && ox + W <= orientedWidth && oy + H <= orientedHeight;
    const bool aligned = inFile && !color &&
                         IsPerfect(orientation->Op, FSourceWidth, FSourceHeight, FSourceBlockWidth,
                                   FSourceBlockHeight) &&
                         ox % bw == 0 && oy % bh == 0;
    const TRegionGrid grid{pixels, FMap, R.Left, R.Top, W, H, bw, bh, cols, rows};
    const int32_t total = cols * rows;

    std::vector<uint8_t> changed(size_t(total), 1);
    int32_t encoded = total;
    // The MCU ranges to compare; what follows refers to them until the merge
    // is done.
    std::vector<TQelRect> ranges = {TQelRect(0, 0, cols, rows)};
    // A decode of the whole file pays off once the changes cover much of it.
    auto compareWholeFile = [&]() -> bool {
        std::unique_ptr<uint8_t[], TQelLargeDeleter> reference;
        if (!DecodeSource(reference)) return false;
        const TReference ref{reference.get(), ptrdiff_t(FSourceWidth) * 3, TQelRect(0, 0, FSourceWidth, FSourceHeight)};
        for (const TQelRect& range : ranges) CompareRange(grid, ref, range, changed);
        return true;
    };
    // Set when the comparison waits for the file's blocks, which the merge
    // reads anyway.
    TBlockComparer compareOnBlocks;
    if (aligned) {
        // Compare with the file's pixels as the document decoded them, mapped
        // exactly: a decode of the rotated coefficients would differ by
        // upsampling and rounding.
        if (vouched) {
            // Only MCUs that a change met can differ from the file.
            ranges = ChangedRanges(changedRects, R, bw, bh, cols, rows);
            std::fill(changed.begin(), changed.end(), uint8_t(0));
            for (const TQelRect& range : ranges)
                for (int32_t j = range.Top; j < range.Bottom; ++j)
                    std::fill_n(changed.begin() + ptrdiff_t(j) * cols + range.Left, range.Width(), uint8_t(1));
        }
        const int64_t candidates = std::count(changed.begin(), changed.end(), uint8_t(1));
        if (candidates * 4 > total) {
            if (!compareWholeFile()) return false;
        } else if (candidates > 0) {
            // Each range against a decode of just the file's blocks around it.
            compareOnBlocks = [&, this](j_decompress_ptr file, jvirt_barray_ptr* blocks, QString& error) -> bool {
                const bool whole =
                    !CompareRangesOnBlocks(file, blocks, grid, FSourceWidth, FSourceHeight, ranges, changed);
                if (whole && !compareWholeFile()) {
                    error = FLastError;
                    return false;
                }
                return true;
            };
            if (orientation->Op != TJXOP_NONE) {
                QString error;
                if (!CompareOnFile(FSource, compareOnBlocks, error))
                    return Fail(FLastError.isEmpty() ? QStringLiteral("Cannot read the JPEG data: %1").arg(error)
                                                     : FLastError);
                compareOnBlocks = nullptr;
            }
        }
        // A comparison left to the merge settles the flags there.
        encoded = compareOnBlocks ? int32_t(candidates)
                                  : int32_t(std::count(changed.begin(), changed.end(), uint8_t(1)));
    }

    TCompress out;
    QString error;
    bool ok = false;
    if (encoded < total) {
        QByteArray oriented = FSource;
        ok = orientation->Op == TJXOP_NONE || TransformJpeg(FSource, orientation->Op, oriented, error);
        bool allChanged = false;
        if (ok)
            ok = MergeBlocks(oriented, pixels, W, H, bw, bh, int32_t(ox / bw), int32_t(oy / bh), changed, cols, rows,
                             compareOnBlocks ? &compareOnBlocks : nullptr, encoded, allChanged, out, error);
        // A comparison that failed for want of memory or a damaged file
        // fails the save.
        if (!ok && !FLastError.isEmpty()) return false;
        // Should TurboJPEG refuse what we took for a perfect transform, the
        // pixels still make a correct file; so does a whole encode when every
        // MCU turned out changed.
        if (!ok) encoded = total;
    }
    if (!ok) {
        TCompress fresh;
        if (!EncodePixels(FSource, pixels, W, H, Transposed(), color, fresh, error))
            return Fail(QStringLiteral("Cannot encode the JPEG data: %1").arg(error));
        if (!Store(QByteArray::fromRawData(reinterpret_cast<const char*>(fresh.Dest.Data), qsizetype(fresh.Dest.Size)),
                   false))
            return false;
    } else if (!Store(QByteArray::fromRawData(reinterpret_cast<const char*>(out.Dest.Data), qsizetype(out.Dest.Size)),
                      encoded == 0)) {
        return false;
    }
    FLastEncodedMCUs = encoded;
    FLastTotalMCUs = total;
    return true;
}
