#include "JlvxWrite.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "JlvxRead.h"
#include "JlvxTransform.h"
#include "QelParallel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

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

// Sets the optimal Huffman tables for writing Image as a W x H image with
// C's parameters, as optimize_coding would; false, with nothing changed,
// where libjpeg's own pass is left to do it (an unusual layout, or a
// coefficient the tables cannot code, which libjpeg reports). Runs inside
// the guard of C.
bool SetOptimalTables(j_compress_ptr c, const TJlvxBlockImage& image) {
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
        const std::vector<JBLOCKROW>& rows = image.Component[k].Rows;
        if (rows.size() < size_t(walk.HeightInBlocks[k]))
            JlvxFailWith(reinterpret_cast<j_common_ptr>(c), "The blocks do not cover the picture.");
        walk.Rows[k].assign(rows.begin(), rows.begin() + walk.HeightInBlocks[k]);
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

// The writer takes a component's rows from the block image in place of
// libjpeg's own arrays, at most as many at once as those would give.
JBLOCKARRAY AccessImageRows(j_common_ptr c, jvirt_barray_ptr array, JDIMENSION start, JDIMENSION count, boolean) {
    TJlvxBlockRows& rows = *reinterpret_cast<TJlvxBlockRows*>(array);
    if (count > rows.MaxAccess || size_t(start) + count > rows.Rows.size())
        JlvxFailWith(c, "The blocks do not cover the picture.");
    return rows.Rows.data() + start;
}

}  // namespace

void JlvxCopyMarkers(j_decompress_ptr From, j_compress_ptr To, bool Color) {
    const bool profile = !Color || RgbProfile(From);
    for (jpeg_saved_marker_ptr m = From->marker_list; m; m = m->next) {
        if (To->write_JFIF_header && m->marker == JPEG_APP0 && MarkerStartsWith(m, "JFIF", 5)) continue;
        if (To->write_Adobe_marker && m->marker == JPEG_APP0 + 14 && MarkerStartsWith(m, "Adobe", 5)) continue;
        if (!profile && IsProfileMarker(m)) continue;
        jpeg_write_marker(To, m->marker, m->data, m->data_length);
    }
}

void JlvxCheckEncoderTables(j_compress_ptr C) {
    for (int k = 0; k < C->num_components; ++k) {
        const int slot = C->comp_info[k].quant_tbl_no;
        if (slot < 0 || slot >= NUM_QUANT_TBLS || !JlvxEncoderCanUse(C->quant_tbl_ptrs[slot]))
            JlvxFailWith(reinterpret_cast<j_common_ptr>(C),
                     "The JPEG file's quantisation tables cannot be used to encode pixels.");
    }
}

void JlvxWriteRows(j_compress_ptr C, const TJlvxPixelRows& Pixels, int32_t X0, int32_t Y0) {
    while (C->next_scanline < C->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(Pixels.Row(Y0 + int32_t(C->next_scanline)) + ptrdiff_t(X0) * 3);
        jpeg_write_scanlines(C, &row, 1);
    }
}

void JlvxStartPixelInput(j_compress_ptr C, JDIMENSION Width, JDIMENSION Height) {
    C->image_width = Width;
    C->image_height = Height;
    C->in_color_space = JCS_EXT_BGR;
    C->input_components = 3;
    C->optimize_coding = TRUE;
}

bool JlvxEncodePixels(const QByteArray& Source, const TJlvxPixelRows& Pixels, int32_t W, int32_t H, bool Transposed,
                      bool Color, TJlvxCompress& Out, QString& Error) {
    TJlvxJpegError e;
    JlvxInitError(e);
    TJlvxDecompress file;
    TJlvxCompress& out = Out;
    const bool color = Color;
    const bool ok = JlvxGuarded(e, [&] {
        file.Create(e, Source);
        JlvxSaveMarkers(&file.Info);
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
        if (Transposed) JlvxTransposeParameters(&out.Info);
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
        JlvxStartPixelInput(&out.Info, JDIMENSION(W), JDIMENSION(H));
        JlvxCheckEncoderTables(&out.Info);
        jpeg_start_compress(&out.Info, TRUE);
        JlvxCopyMarkers(&file.Info, &out.Info, color);
        JlvxWriteRows(&out.Info, Pixels, 0, 0);
        jpeg_finish_compress(&out.Info);
    });
    if (!ok) Error = JlvxErrorText(e);
    return ok;
}

void JlvxWriteBlocks(j_decompress_ptr File, TJlvxBlockImage& Image, int32_t W, int32_t H, size_t SizeHint,
                     TJlvxCompress& Out) {
    // About the file's size: no growing and copying on the way.
    Out.Dest.Capacity = SizeHint + SizeHint / 8;
    Out.Info.image_width = JDIMENSION(W);
    Out.Info.image_height = JDIMENSION(H);
    // The blocks are the image's rows, never arrays of libjpeg's own: the
    // writer reaches them only through this call.
    Out.Info.mem->access_virt_barray = AccessImageRows;
    jvirt_barray_ptr arrays[MAX_COMPONENTS];
    for (int k = 0; k < Image.Components; ++k) arrays[k] = reinterpret_cast<jvirt_barray_ptr>(&Image.Component[k]);
    Out.Info.optimize_coding = !SetOptimalTables(&Out.Info, Image);
    jpeg_write_coefficients(&Out.Info, arrays);
    JlvxCopyMarkers(File, &Out.Info);
    jpeg_finish_compress(&Out.Info);
}
