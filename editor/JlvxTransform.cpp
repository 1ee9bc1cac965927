#include "JlvxTransform.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "QelParallel.h"

namespace {

constexpr TJlvxOrientation Orientations[] = {
    {TJlvxTurn::None, 1, 0, 0, 1},          {TJlvxTurn::FlipHorizontal, -1, 0, 0, 1},
    {TJlvxTurn::FlipVertical, 1, 0, 0, -1}, {TJlvxTurn::Transpose, 0, 1, 1, 0},
    {TJlvxTurn::Transverse, 0, -1, -1, 0},  {TJlvxTurn::Rotate90, 0, 1, -1, 0},
    {TJlvxTurn::Rotate180, -1, 0, 0, -1},   {TJlvxTurn::Rotate270, 0, -1, 1, 0},
};

// How a block's coefficients move: Out[i] = In[From[i]] * Sign[i]. A mirror
// across an axis negates the odd frequencies along it; a transpose swaps the
// two frequency axes.
struct TBlockMove {
    std::array<uint8_t, DCTSIZE2> From;
    std::array<int8_t, DCTSIZE2> Sign;
};

TBlockMove BlockMoveOf(const TJlvxOrientation& o) {
    TBlockMove move{};
    for (int p = 0; p < DCTSIZE; ++p)
        for (int q = 0; q < DCTSIZE; ++q) {
            const int i = p * DCTSIZE + q;
            // Row p is the vertical frequency of the oriented block, q the
            // horizontal one.
            bool negate;
            if (o.Transposed()) {
                move.From[size_t(i)] = uint8_t(q * DCTSIZE + p);
                negate = (o.Bx < 0 && (p & 1)) != (o.Ay < 0 && (q & 1));
            } else {
                move.From[size_t(i)] = uint8_t(i);
                negate = (o.Ax < 0 && (q & 1)) != (o.By < 0 && (p & 1));
            }
            move.Sign[size_t(i)] = negate ? -1 : 1;
        }
    return move;
}

inline void MoveBlock(const TBlockMove& move, const JCOEF* in, JCOEF* out) {
    for (int i = 0; i < DCTSIZE2; ++i) out[i] = JCOEF(in[move.From[size_t(i)]] * move.Sign[size_t(i)]);
}

// Reads a 16-bit value in the byte order of a TIFF structure.
uint32_t Get16(const JOCTET* d, bool motorola) { return motorola ? (d[0] << 8) | d[1] : (d[1] << 8) | d[0]; }

}  // namespace

const TJlvxOrientation* JlvxOrientFile(const TJlvxSession::TMap& Map, int32_t SourceWidth, int32_t SourceHeight,
                                       const TQelRect& R, int64_t& Ox, int64_t& Oy) {
    const TJlvxOrientation* orientation = nullptr;
    for (const TJlvxOrientation& o : Orientations)
        if (o.Ax == Map.Ax && o.Bx == Map.Bx && o.Ay == Map.Ay && o.By == Map.By) orientation = &o;
    if (!orientation) return nullptr;
    const int64_t tx = (orientation->Ax < 0 || orientation->Bx < 0) ? SourceWidth - 1 : 0;
    const int64_t ty = (orientation->Ay < 0 || orientation->By < 0) ? SourceHeight - 1 : 0;
    const int64_t dx = Map.Cx - tx, dy = Map.Cy - ty;
    Ox = orientation->Ax * dx + orientation->Ay * dy + R.Left;
    Oy = orientation->Bx * dx + orientation->By * dy + R.Top;
    return orientation;
}

bool JlvxIsPerfect(TJlvxTurn Turn, int32_t Width, int32_t Height, int32_t Bw, int32_t Bh) {
    const bool wholeColumns = Width % Bw == 0, wholeRows = Height % Bh == 0;
    switch (Turn) {
    case TJlvxTurn::FlipHorizontal:
    case TJlvxTurn::Rotate270: return wholeColumns;
    case TJlvxTurn::FlipVertical:
    case TJlvxTurn::Rotate90: return wholeRows;
    case TJlvxTurn::Transverse:
    case TJlvxTurn::Rotate180: return wholeColumns && wholeRows;
    default: return true;
    }
}

void JlvxTransposeParameters(j_compress_ptr C) {
    for (JQUANT_TBL* table : C->quant_tbl_ptrs) {
        if (!table) continue;
        for (int i = 0; i < DCTSIZE; ++i)
            for (int j = 0; j < i; ++j) std::swap(table->quantval[i * DCTSIZE + j], table->quantval[j * DCTSIZE + i]);
    }
    for (int k = 0; k < C->num_components; ++k)
        std::swap(C->comp_info[k].h_samp_factor, C->comp_info[k].v_samp_factor);
}

void JlvxOrientParameters(j_decompress_ptr File, const TJlvxOrientation& O, j_compress_ptr Out) {
    jpeg_copy_critical_parameters(File, Out);
    if (O.Turn == TJlvxTurn::None) return;
    // A turned single component is written with the sampling it is read
    // with: one block per MCU.
    if (Out->num_components == 1) Out->comp_info[0].h_samp_factor = Out->comp_info[0].v_samp_factor = 1;
    if (O.Transposed()) JlvxTransposeParameters(Out);
}

void JlvxKeptBlocks(TJlvxFileBlocks& File, const TJlvxOrientation& O, int32_t Oi, int32_t Oj, int32_t Cols,
                    int32_t Rows, int32_t W, int32_t H, TJlvxBlockStorage& Storage, TJlvxBlockImage& Image) {
    j_decompress_ptr file = File.Info();
    const int components = File.Components;
    Image.Components = components;
    std::vector<JBLOCKROW> source[MAX_COMPONENTS];
    for (int k = 0; k < components; ++k) {
        const jpeg_component_info& info = file->comp_info[k];
        const int32_t v = info.v_samp_factor;
        // The file's arrays hold whole MCUs of rows, as libjpeg reads them.
        const JDIMENSION rows = JDIMENSION((int64_t(info.height_in_blocks) + v - 1) / v * v);
        JlvxFileRows(file, File.Arrays[k], rows, source[k]);
    }

    if (O.Turn == TJlvxTurn::None) {
        const bool inPlace = Oi == 0 && Oj == 0;
        for (int k = 0; k < components; ++k) {
            TJlvxBlockRows& out = Image.Component[k];
            const int32_t hk = File.H[k], vk = File.V[k];
            if (inPlace) {
                out.Rows = source[k];
                out.MaxAccess = JDIMENSION(file->comp_info[k].v_samp_factor);
            } else {
                // A crop's rows start further in; they were never arrays of
                // more than the grid's rows per MCU.
                out.Rows.resize(size_t(Rows) * size_t(vk));
                for (size_t r = 0; r < out.Rows.size(); ++r)
                    out.Rows[r] = source[k][size_t(Oj) * size_t(vk) + r] + ptrdiff_t(Oi) * hk;
                out.MaxAccess = JDIMENSION(vk);
            }
        }
        return;
    }

    // Turned or flipped: a copy of the region's blocks, each moved from the
    // file's block it shows.
    const bool transposed = O.Transposed();
    int32_t hk[MAX_COMPONENTS], vk[MAX_COMPONENTS], outW[MAX_COMPONENTS], outH[MAX_COMPONENTS];
    size_t offset[MAX_COMPONENTS];
    size_t total = 0;
    int32_t maxH = 1, maxV = 1;
    for (int k = 0; k < components; ++k) {
        hk[k] = transposed ? File.V[k] : File.H[k];
        vk[k] = transposed ? File.H[k] : File.V[k];
        maxH = std::max(maxH, hk[k]);
        maxV = std::max(maxV, vk[k]);
    }
    for (int k = 0; k < components; ++k) {
        // The blocks the picture has, without the MCUs' padding.
        outW[k] = int32_t((int64_t(W) * hk[k] + maxH * DCTSIZE - 1) / (maxH * DCTSIZE));
        outH[k] = int32_t((int64_t(H) * vk[k] + maxV * DCTSIZE - 1) / (maxV * DCTSIZE));
        offset[k] = total;
        total += size_t(Cols) * size_t(hk[k]) * size_t(Rows) * size_t(vk[k]);
    }
    Storage.Blocks.reset(static_cast<JBLOCK*>(QelAllocateLargeForOverwrite(total * sizeof(JBLOCK))));
    if (!Storage.Blocks) throw std::bad_alloc();
    struct TBand {
        int Component;
        int32_t From, To;
    };
    std::vector<TBand> bands;
    for (int k = 0; k < components; ++k) {
        TJlvxBlockRows& out = Image.Component[k];
        const size_t width = size_t(Cols) * size_t(hk[k]);
        out.Rows.resize(size_t(Rows) * size_t(vk[k]));
        for (size_t r = 0; r < out.Rows.size(); ++r) out.Rows[r] = Storage.Blocks.get() + offset[k] + r * width;
        out.MaxAccess = JDIMENSION(vk[k]);
        for (int32_t r = 0; r < int32_t(out.Rows.size()); r += 16)
            bands.push_back({k, r, std::min<int32_t>(r + 16, int32_t(out.Rows.size()))});
    }
    const TBlockMove move = BlockMoveOf(O);
    QelParallelFor(int64_t(bands.size()), QelParallelThreads(int64_t(bands.size())), [&](int64_t b, int32_t) {
        const TBand& band = bands[size_t(b)];
        const int k = band.Component;
        const jpeg_component_info& info = file->comp_info[k];
        const int64_t cw = info.width_in_blocks, ch = info.height_in_blocks;
        const int64_t sourceRows = int64_t(source[k].size());
        const int64_t sourceColumns = (cw + info.h_samp_factor - 1) / info.h_samp_factor * info.h_samp_factor;
        const TJlvxBlockRows& out = Image.Component[k];
        const int32_t width = Cols * hk[k];
        for (int32_t y = band.From; y < band.To; ++y) {
            JBLOCKROW row = out.Rows[size_t(y)];
            const int64_t v = int64_t(y) + int64_t(Oj) * vk[k];
            for (int32_t x = 0; x < width; ++x) {
                JCOEF* to = row[x];
                const int64_t u = int64_t(x) + int64_t(Oi) * hk[k];
                int64_t sx, sy;
                if (transposed) {
                    sx = O.Bx < 0 ? cw - 1 - v : v;
                    sy = O.Ay < 0 ? ch - 1 - u : u;
                } else {
                    sx = O.Ax < 0 ? cw - 1 - u : u;
                    sy = O.By < 0 ? ch - 1 - v : v;
                }
                // The MCUs' padding is never written, but stays defined.
                if (x >= outW[k] || y >= outH[k] || sx < 0 || sy < 0 || sx >= sourceColumns || sy >= sourceRows) {
                    std::memset(to, 0, sizeof(JBLOCK));
                    continue;
                }
                MoveBlock(move, source[k][size_t(sy)][sx], to);
            }
        }
    });
}

void JlvxRestateTurnedExif(j_decompress_ptr File, const TJlvxOrientation& O) {
    if (O.Turn == TJlvxTurn::None) return;
    jpeg_saved_marker_ptr m = File->marker_list;
    if (!m || m->marker != JPEG_APP0 + 1 || m->data_length < 6 || std::memcmp(m->data, "Exif\0\0", 6) != 0) return;
    const uint32_t width = O.Transposed() ? File->image_height : File->image_width;
    const uint32_t height = O.Transposed() ? File->image_width : File->image_height;
    if (width == File->image_width && height == File->image_height) return;
    JOCTET* d = m->data + 6;
    const uint32_t length = m->data_length - 6;
    if (length < 12) return;
    bool motorola;
    if (d[0] == 'I' && d[1] == 'I')
        motorola = false;
    else if (d[0] == 'M' && d[1] == 'M')
        motorola = true;
    else
        return;
    if (Get16(d + 2, motorola) != 42) return;
    // Offsets beyond 16 bits are not followed.
    if (Get16(d + (motorola ? 4 : 6), motorola) != 0) return;
    uint32_t at = Get16(d + (motorola ? 6 : 4), motorola);
    if (at > length - 2) return;
    uint32_t entries = Get16(d + at, motorola);
    if (entries == 0) return;
    at += 2;
    // The EXIF directory's entry in the first directory.
    for (;;) {
        if (at > length - 12) return;
        if (Get16(d + at, motorola) == 0x8769) break;
        if (--entries == 0) return;
        at += 12;
    }
    if (Get16(d + at + (motorola ? 8 : 10), motorola) != 0) return;
    uint32_t exif = Get16(d + at + (motorola ? 10 : 8), motorola);
    if (exif > length - 2) return;
    entries = Get16(d + exif, motorola);
    if (entries < 2) return;
    exif += 2;
    do {
        if (exif > length - 12) return;
        const uint32_t tag = Get16(d + exif, motorola);
        if (tag == 0xA002 || tag == 0xA003) {
            const uint32_t value = (tag == 0xA002 ? width : height) & 0xFFFF;
            // Type LONG, one value.
            const JOCTET big[10] = {0, 4, 0, 0, 0, 1, 0, 0, JOCTET(value >> 8), JOCTET(value & 0xFF)};
            const JOCTET little[10] = {4, 0, 1, 0, 0, 0, JOCTET(value & 0xFF), JOCTET(value >> 8), 0, 0};
            std::memcpy(d + exif + 2, motorola ? big : little, 10);
        }
        exif += 12;
    } while (--entries);
}
