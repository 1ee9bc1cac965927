#include "JlvxMerge.h"

#include <algorithm>
#include <cstring>

#include "JlvxWrite.h"

namespace {

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

// Whether the merge of a Cols x Rows grid of Bw x Bh MCUs stays inside the
// oriented file's blocks, which are its own whole MCUs of McuW x McuH over
// Width x Height pixels: the file's MCU must be Bw x Bh, an in-place merge's
// grid must fit in the file's, and each MCU kept must be one of the file's
// (the others are flagged for encoding).
bool BlocksInFile(int32_t mcuW, int32_t mcuH, int64_t width, int64_t height, int32_t bw, int32_t bh, int32_t oi,
                  int32_t oj, std::vector<uint8_t>& changed, int32_t cols, int32_t rows) {
    if (mcuW != bw || mcuH != bh) return false;
    const int64_t fileCols = (width + mcuW - 1) / mcuW;
    const int64_t fileRows = (height + mcuH - 1) / mcuH;
    if (oi == 0 && oj == 0 && (cols > fileCols || rows > fileRows)) return false;
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

// Pixels X0..X1 x Y0..Y1 encoded with the oriented file's tables and
// sampling, and read back as coefficients through Patch. Runs under the
// guard of E.
jvirt_barray_ptr* EncodePatch(TJlvxJpegError& e, j_decompress_ptr file, const TJlvxOrientation& o,
                              const TJlvxPixelRows& pixels, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                              TJlvxCompress& patchOut, TJlvxDecompress& patch) {
    patchOut.Create(e);
    JlvxOrientParameters(file, o, &patchOut.Info);
    JlvxStartPixelInput(&patchOut.Info, JDIMENSION(x1 - x0), JDIMENSION(y1 - y0));
    JlvxCheckEncoderTables(&patchOut.Info);
    jpeg_start_compress(&patchOut.Info, TRUE);
    JlvxWriteRows(&patchOut.Info, pixels, x0, y0);
    jpeg_finish_compress(&patchOut.Info);

    patch.Create(e, patchOut.Dest.Data, patchOut.Dest.Size);
    jpeg_read_header(&patch.Info, TRUE);
    return jpeg_read_coefficients(&patch.Info);
}

// Only the changed MCUs' blocks of the image are touched, each replaced by
// the patch's.
void CopyChanged(const TMergeGrid& g, TJlvxBlockImage& image, j_decompress_ptr patch, jvirt_barray_ptr* patchBlocks) {
    j_common_ptr patchCommon = reinterpret_cast<j_common_ptr>(patch);
    const int32_t* hk = g.Hk;
    const int32_t* vk = g.Vk;
    for (int k = 0; k < g.Components; ++k)
        for (int32_t j = g.My0; j < g.My1; ++j)
            for (int32_t r = 0; r < vk[k]; ++r) {
                JBLOCKROW to = image.Component[k].Rows[size_t(j) * size_t(vk[k]) + size_t(r)];
                JBLOCKROW encoded = nullptr;
                for (int32_t i = g.Mx0; i < g.Mx1; ++i) {
                    if (!g.Changed[size_t(j) * size_t(g.Cols) + size_t(i)]) continue;
                    if (!encoded)
                        encoded = (*patch->mem->access_virt_barray)(patchCommon, patchBlocks[k],
                                                                    JDIMENSION((j - g.My0) * vk[k] + r), 1, FALSE)[0];
                    std::memcpy(to[i * hk[k]], encoded[(i - g.Mx0) * hk[k]], sizeof(JBLOCK) * size_t(hk[k]));
                }
            }
}

}  // namespace

bool JlvxMergeBlocks(TJlvxFileBlocks& File, const TJlvxOrientation& O, const TJlvxPixelRows& Pixels, int32_t W,
                     int32_t H, int32_t Bw, int32_t Bh, int32_t Oi, int32_t Oj, std::vector<uint8_t>& Changed,
                     int32_t Cols, int32_t Rows, size_t SizeHint, int32_t& Encoded, bool& AllChanged,
                     TJlvxCompress& Out, QString& Error) {
    AllChanged = false;
    j_decompress_ptr file = File.Info();
    const bool transposed = O.Transposed();
    const int64_t width = transposed ? file->image_height : file->image_width;
    const int64_t height = transposed ? file->image_width : file->image_height;
    const int32_t mcuW = transposed ? File.McuHeight() : File.McuWidth();
    const int32_t mcuH = transposed ? File.McuWidth() : File.McuHeight();
    if (!BlocksInFile(mcuW, mcuH, width, height, Bw, Bh, Oi, Oj, Changed, Cols, Rows)) {
        Error = QStringLiteral("The saved region does not lie on the file's blocks.");
        return false;
    }
    int32_t mx0 = 0, mx1 = 0, my0 = 0, my1 = 0;
    Encoded = ChangedBox(Changed, Cols, Rows, mx0, mx1, my0, my1);
    if (Encoded == Cols * Rows) {
        AllChanged = true;
        return false;
    }
    // The patch covers the changed MCUs' bounding box; its edges lie on the
    // grid or on the image's own edge, so its blocks are those a whole-image
    // encode would give.
    const int32_t x0 = mx0 * Bw, y0 = my0 * Bh;
    const int32_t x1 = std::min(mx1 * Bw, W), y1 = std::min(my1 * Bh, H);
    int32_t hk[MAX_COMPONENTS], vk[MAX_COMPONENTS];
    for (int k = 0; k < File.Components; ++k) {
        hk[k] = transposed ? File.V[k] : File.H[k];
        vk[k] = transposed ? File.H[k] : File.V[k];
    }
    const TMergeGrid grid{File.Components, hk, vk, Changed, Cols, Rows, mx0, mx1, my0, my1};
    TJlvxBlockStorage storage;
    TJlvxBlockImage image;
    TJlvxCompress patchOut;
    TJlvxDecompress patch;
    const bool ok = JlvxGuarded(File.Error, [&] {
        JlvxKeptBlocks(File, O, Oi, Oj, Cols, Rows, W, H, storage, image);
        if (mx1 > mx0) {
            jvirt_barray_ptr* patchBlocks = EncodePatch(File.Error, file, O, Pixels, x0, y0, x1, y1, patchOut, patch);
            CopyChanged(grid, image, &patch.Info, patchBlocks);
        }
        Out.Create(File.Error);
        JlvxOrientParameters(file, O, &Out.Info);
        JlvxWriteBlocks(file, image, W, H, SizeHint, Out);
    });
    if (!ok) Error = JlvxErrorText(File.Error);
    return ok;
}
