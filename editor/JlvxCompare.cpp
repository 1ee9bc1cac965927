#include "JlvxCompare.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// Whether MCU (i, j) of the region shows exactly the file's pixels; false
// where it reaches beyond the reference.
bool SameAsFile(const TJlvxRegionGrid& g, const TJlvxReference& ref, int32_t i, int32_t j) {
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
    TJlvxJpegError e;
    JlvxInitError(e);
    TJlvxCompress encoder;
    TJlvxDecompress decoder;
    // Errors in reading the file's arrays land here too.
    jpeg_error_mgr* const fileError = file->err;
    file->err = &e.Base;
    const int components = file->num_components;
    const int32_t mcuW = components == 1 ? DCTSIZE : file->max_h_samp_factor * DCTSIZE;
    const int32_t mcuH = components == 1 ? DCTSIZE : file->max_v_samp_factor * DCTSIZE;
    const int32_t col0 = Area.Left / mcuW, row0 = Area.Top / mcuH;
    const int32_t mcuCols = (Area.Width() + mcuW - 1) / mcuW, mcuRows = (Area.Height() + mcuH - 1) / mcuH;
    const bool ok = JlvxGuarded(e, [&] {
        j_common_ptr encoderCommon = reinterpret_cast<j_common_ptr>(&encoder.Info);
        j_common_ptr fileCommon = reinterpret_cast<j_common_ptr>(file);
        if (components > MAX_COMPONENTS) JlvxFailWith(fileCommon, "The JPEG file has too many components.");
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
            JlvxFailWith(reinterpret_cast<j_common_ptr>(&decoder.Info), "The blocks decode to another size.");
        while (decoder.Info.output_scanline < decoder.Info.output_height) {
            JSAMPROW row = Rows + ptrdiff_t(decoder.Info.output_scanline) * Area.Width() * 3;
            jpeg_read_scanlines(&decoder.Info, &row, 1);
        }
        jpeg_finish_decompress(&decoder.Info);
    });
    file->err = fileError;
    if (!ok) error = JlvxErrorText(e);
    return ok;
}

}  // namespace

void JlvxCompareRange(const TJlvxRegionGrid& g, const TJlvxReference& ref, const TQelRect& range, std::vector<uint8_t>& changed) {
    for (int32_t j = range.Top; j < range.Bottom; ++j)
        for (int32_t i = range.Left; i < range.Right; ++i) {
            uint8_t& flag = changed[size_t(j) * size_t(g.Cols) + size_t(i)];
            if (flag && SameAsFile(g, ref, i, j)) flag = 0;
        }
}

std::vector<TQelRect> JlvxChangedRanges(const std::vector<TQelRect>& rects, const TQelRect& R, int32_t bw, int32_t bh,
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

bool JlvxVouchedChanges(const TJlvxSession::TMap& Map, int32_t sourceWidth, int32_t sourceHeight, const TQelRect& R,
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

bool JlvxAnyColour(const TJlvxPixelRows& pixels, const TQelRect& R, bool vouched, const std::vector<TQelRect>& changedRects) {
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

bool JlvxCompareRangesOnBlocks(j_decompress_ptr file, jvirt_barray_ptr* blocks, const TJlvxRegionGrid& grid,
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
        JlvxCompareRange(grid, TJlvxReference{decoded.get(), ptrdiff_t(area.Width()) * 3, area}, range, changed);
    }
    return true;
}

