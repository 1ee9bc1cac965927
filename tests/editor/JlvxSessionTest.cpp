#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <turbojpeg.h>

#include "ChildProcess.h"
#include "ImageFileSamples.h"
#include "JlvxSession.h"
#include "Jolvex.h"
#include "QelBitmap.h"
#include "QelImageCodec.h"
#include "QelImageMetadata.h"
#include "SmallFileSystem.h"
#include "WatchedFifo.h"

namespace {

// --- Pictures ---------------------------------------------------------------

using namespace samples;
constexpr auto ReadAll = ReadFile;
constexpr auto WriteAll = WriteFile;

TQelPixelBuffer Transformed(const TQelPixelBuffer& in, int32_t w, int32_t h,
                            const std::function<std::pair<int32_t, int32_t>(int32_t, int32_t)>& from) {
    TQelPixelBuffer out;
    out.Allocate(QelFormatBGR24, TQelRect(0, 0, w, h));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const auto [sx, sy] = from(x, y);
            std::memcpy(out.PixelAddress(x, y), in.PixelAddress(sx, sy), 3);
        }
    return out;
}

TQelPixelBuffer RotatedRight(const TQelPixelBuffer& in) {
    const int32_t H = in.Height;
    return Transformed(in, in.Height, in.Width, [H](int32_t x, int32_t y) { return std::pair(y, H - 1 - x); });
}
TQelPixelBuffer RotatedLeft(const TQelPixelBuffer& in) {
    const int32_t W = in.Width;
    return Transformed(in, in.Height, in.Width, [W](int32_t x, int32_t y) { return std::pair(W - 1 - y, x); });
}
TQelPixelBuffer FlippedHorizontally(const TQelPixelBuffer& in) {
    const int32_t W = in.Width;
    return Transformed(in, in.Width, in.Height, [W](int32_t x, int32_t y) { return std::pair(W - 1 - x, y); });
}
TQelPixelBuffer FlippedVertically(const TQelPixelBuffer& in) {
    const int32_t H = in.Height;
    return Transformed(in, in.Width, in.Height, [H](int32_t x, int32_t y) { return std::pair(x, H - 1 - y); });
}
TQelPixelBuffer Cropped(const TQelPixelBuffer& in, const TQelRect& r) {
    return Transformed(in, r.Width(), r.Height(), [r](int32_t x, int32_t y) { return std::pair(x + r.Left, y + r.Top); });
}

void Fill(TQelPixelBuffer& b, const TQelRect& r, uint8_t blue, uint8_t green, uint8_t red) {
    for (int32_t y = r.Top; y < r.Bottom; ++y)
        for (int32_t x = r.Left; x < r.Right; ++x) {
            uint8_t* p = b.PixelAddress(x, y);
            p[0] = blue;
            p[1] = green;
            p[2] = red;
        }
}

// --- Files --------------------------------------------------------------------

QByteArray Compress(const TQelPixelBuffer& b, int subsamp, int quality = 90) {
    return samples::Jpeg(b, quality, 0, subsamp);
}

// The quantised blocks of every component, without the MCU padding.
struct TCoefficients {
    struct TComponent {
        int H = 0, V = 0, WidthInBlocks = 0, HeightInBlocks = 0;
        std::array<uint16_t, 64> Quant{};
        std::vector<JCOEF> Blocks;
        const JCOEF* Block(int bx, int by) const { return Blocks.data() + (size_t(by) * WidthInBlocks + bx) * 64; }
    };
    int Width = 0, Height = 0;
    std::vector<TComponent> Components;
    bool Valid = false;
};

using TTestError = samples::TJpegWriteError;
constexpr auto TestErrorExit = samples::JpegWriteErrorExit;

template <class F>
bool TestGuarded(TTestError& e, F&& body) {
    if (setjmp(e.Jump)) return false;
    body();
    return true;
}

TCoefficients ReadCoefficients(const QByteArray& data) {
    TCoefficients result;
    TTestError e;
    jpeg_decompress_struct info{};
    info.err = jpeg_std_error(&e.Base);
    e.Base.error_exit = TestErrorExit;
    jpeg_create_decompress(&info);
    std::vector<TCoefficients::TComponent> components;
    int width = 0, height = 0;
    const bool ok = TestGuarded(e, [&] {
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()), static_cast<unsigned long>(data.size()));
        jpeg_read_header(&info, TRUE);
        jvirt_barray_ptr* arrays = jpeg_read_coefficients(&info);
        width = int(info.image_width);
        height = int(info.image_height);
        components.resize(size_t(info.num_components));
        for (int k = 0; k < info.num_components; ++k) {
            const jpeg_component_info& ci = info.comp_info[k];
            TCoefficients::TComponent& c = components[size_t(k)];
            c.H = info.num_components == 1 ? 1 : ci.h_samp_factor;
            c.V = info.num_components == 1 ? 1 : ci.v_samp_factor;
            c.WidthInBlocks = int(ci.width_in_blocks);
            c.HeightInBlocks = int(ci.height_in_blocks);
            for (int i = 0; i < 64; ++i) c.Quant[size_t(i)] = ci.quant_table->quantval[i];
            c.Blocks.resize(size_t(c.WidthInBlocks) * size_t(c.HeightInBlocks) * 64);
            for (int by = 0; by < c.HeightInBlocks; ++by) {
                JBLOCKROW row = (*info.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&info), arrays[k],
                                                               JDIMENSION(by), 1, FALSE)[0];
                std::memcpy(c.Blocks.data() + size_t(by) * size_t(c.WidthInBlocks) * 64, row,
                            sizeof(JBLOCK) * size_t(c.WidthInBlocks));
            }
        }
    });
    jpeg_destroy_decompress(&info);
    if (!ok) return result;
    result.Width = width;
    result.Height = height;
    result.Components = std::move(components);
    result.Valid = true;
    return result;
}

void ExpectSameCoefficients(const TCoefficients& a, const TCoefficients& b, const std::string& what) {
    ASSERT_TRUE(a.Valid && b.Valid) << what;
    ASSERT_EQ(a.Width, b.Width) << what;
    ASSERT_EQ(a.Height, b.Height) << what;
    ASSERT_EQ(a.Components.size(), b.Components.size()) << what;
    for (size_t k = 0; k < a.Components.size(); ++k) {
        EXPECT_EQ(a.Components[k].Quant, b.Components[k].Quant) << what << " component " << k;
        EXPECT_EQ(a.Components[k].H, b.Components[k].H) << what << " component " << k;
        EXPECT_EQ(a.Components[k].V, b.Components[k].V) << what << " component " << k;
        EXPECT_TRUE(a.Components[k].Blocks == b.Components[k].Blocks) << what << " component " << k;
    }
}

bool HaveJpegtran() { return !QStandardPaths::findExecutable(QStringLiteral("jpegtran")).isEmpty(); }

QByteArray Jpegtran(const QStringList& args, const QString& input, const QString& output) {
    TChildProcess p;
    if (!p.Start(QStringLiteral("jpegtran"), args + QStringList{QStringLiteral("-outfile"), output, input}) ||
        !p.WaitForFinished(30000) || !p.Succeeded())
        return QByteArray();
    return ReadAll(output);
}

// --- The document's side ------------------------------------------------------

// What the document does: it opens a file through a session, decodes it,
// changes its own pixels and tells the session, then saves its work rectangle.
struct TDocument {
    TJlvxSession Session;
    TQelPixelBuffer Image;

    bool Open(const QString& path) {
        if (!Session.Open(path)) return false;
        Image.Allocate(QelFormatBGR24, TQelRect(0, 0, Session.GetWidth(), Session.GetHeight()));
        return Session.Decode(Image.Bits, Image.Stride, 0);
    }
    void RotateRight() { Image = RotatedRight(Image); Session.RotateRight(); }
    void RotateLeft() { Image = RotatedLeft(Image); Session.RotateLeft(); }
    void FlipHorizontal() { Image = FlippedHorizontally(Image); Session.FlipHorizontal(); }
    void FlipVertical() { Image = FlippedVertically(Image); Session.FlipVertical(); }
    // The origin the session gets is rounded down to whole blocks.
    void Crop(const TQelRect& r) {
        Image = Cropped(Image, r);
        const int32_t bw = Session.GetBlockWidth(), bh = Session.GetBlockHeight();
        const int32_t x0 = (r.Left / bw) * bw, y0 = (r.Top / bh) * bh;
        Session.SetRegion(x0, y0, x0 + r.Width(), y0 + r.Height());
    }
    bool Save(const QString& path, const TQelRect& r) {
        Session.SetRegion(r.Left, r.Top, r.Right, r.Bottom);
        TJlvxSaveOptions o;
        const uint32_t sizes = Session.GetBlockSizes();
        o.BlockSize = int32_t(std::max(sizes & 0xFFFF, sizes >> 16));
        o.Pixels = Image.PixelAddress(r.Left, r.Top);
        o.Stride = Image.Stride;
        return Session.Save(path, o);
    }
    bool Save(const QString& path) { return Save(path, TQelRect(0, 0, Image.Width, Image.Height)); }
};

struct TSubsampling {
    int Subsamp;
    const char* Name;
};
constexpr TSubsampling Samplings[] = {{TJSAMP_420, "4:2:0"}, {TJSAMP_422, "4:2:2"}, {TJSAMP_444, "4:4:4"},
                                      {TJSAMP_GRAY, "gray"},  {TJSAMP_440, "4:4:0"}, {TJSAMP_411, "4:1:1"}};

struct TOperation {
    const char* Name;
    QStringList JpegtranArgs;
    std::function<void(TDocument&)> Apply;
};

std::vector<TOperation> Operations() {
    return {
        {"rotate right", {"-rotate", "90"}, [](TDocument& d) { d.RotateRight(); }},
        {"rotate left", {"-rotate", "270"}, [](TDocument& d) { d.RotateLeft(); }},
        {"flip horizontal", {"-flip", "horizontal"}, [](TDocument& d) { d.FlipHorizontal(); }},
        {"flip vertical", {"-flip", "vertical"}, [](TDocument& d) { d.FlipVertical(); }},
        {"half turn", {"-rotate", "180"}, [](TDocument& d) { d.RotateRight(); d.RotateRight(); }},
        {"flip then rotate right", {"-transverse"}, [](TDocument& d) { d.FlipHorizontal(); d.RotateRight(); }},
        {"rotate left then flip vertical", {"-transpose"}, [](TDocument& d) { d.RotateLeft(); d.FlipVertical(); }},
        {"four flips", {}, [](TDocument& d) { d.FlipHorizontal(); d.FlipVertical(); d.FlipVertical(); d.FlipHorizontal(); }},
    };
}

class JlvxSessionTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    QString Path(const QString& name) const { return Dir.filePath(name); }
    QString Make(const QString& name, int32_t w, int32_t h, int subsamp, int quality = 90) {
        const QString path = Path(name);
        EXPECT_TRUE(WriteAll(path, Compress(Picture(w, h), subsamp, quality)));
        return path;
    }
};

}  // namespace

// --- Lossless rotation, flipping and cropping ---------------------------------

TEST_F(JlvxSessionTest, RotationsAndFlipsOfWholeMCUsKeepEveryCoefficient) {
    if (!HaveJpegtran()) GTEST_SKIP() << "jpegtran is not installed";
    for (const TSubsampling& s : Samplings) {
        const QString source = Make(QStringLiteral("source.jpg"), 64, 48, s.Subsamp);
        for (const TOperation& op : Operations()) {
            const std::string what = std::string(s.Name) + ", " + op.Name;
            TDocument doc;
            ASSERT_TRUE(doc.Open(source)) << what << ": " << doc.Session.LastError().toStdString();
            op.Apply(doc);
            EXPECT_EQ(doc.Session.GetWidth(), doc.Image.Width) << what;
            EXPECT_EQ(doc.Session.GetHeight(), doc.Image.Height) << what;

            // The session's own decode follows the document's turns exactly.
            TQelPixelBuffer decoded;
            decoded.Allocate(QelFormatBGR24, TQelRect(0, 0, doc.Image.Width, doc.Image.Height));
            ASSERT_TRUE(doc.Session.Decode(decoded.Bits, decoded.Stride, 0)) << what;
            EXPECT_EQ(MeanDifference(decoded, doc.Image), 0.0) << what;

            ASSERT_TRUE(doc.Save(Path("saved.jpg"))) << what << ": " << doc.Session.LastError().toStdString();
            EXPECT_EQ(doc.Session.LastEncodedMCUs(), 0) << what;
            const QByteArray expected = Jpegtran(op.JpegtranArgs + QStringList{"-perfect"}, source, Path("expected.jpg"));
            ASSERT_FALSE(expected.isEmpty()) << what;
            ExpectSameCoefficients(ReadCoefficients(ReadAll(Path("saved.jpg"))), ReadCoefficients(expected), what);
        }
    }
}

TEST_F(JlvxSessionTest, PerfectTurnOfAPartialMCUSizeKeepsEveryCoefficient) {
    if (!HaveJpegtran()) GTEST_SKIP() << "jpegtran is not installed";
    // The width is no MCU multiple, but turning right moves its partial
    // column to the bottom, where it may stay partial.
    const QString source = Make(QStringLiteral("source.jpg"), 61, 48, TJSAMP_420);
    TDocument doc;
    ASSERT_TRUE(doc.Open(source));
    doc.RotateRight();
    ASSERT_TRUE(doc.Save(Path("saved.jpg")));
    EXPECT_EQ(doc.Session.LastEncodedMCUs(), 0);
    ExpectSameCoefficients(ReadCoefficients(ReadAll(Path("saved.jpg"))),
                           ReadCoefficients(Jpegtran({"-rotate", "90", "-perfect"}, source, Path("expected.jpg"))),
                           "61 x 48 rotate right");
}

TEST_F(JlvxSessionTest, TurnedSavesAreTheTransformedFileRewrittenByteForByte) {
    if (!HaveJpegtran()) GTEST_SKIP() << "jpegtran is not installed";
    // A turn states the new EXIF size as LONG values, writes libjpeg's JFIF
    // marker ahead of a leading EXIF one (where jpegtran keeps the EXIF
    // first) and drops a grey component's claimed sampling.
    const std::vector<std::tuple<std::string, QByteArray, QByteArray>> sources = {
        {"4:2:2 behind EXIF", Compress(Picture(64, 48), TJSAMP_422),
         ExifSegment({{274, 3, Short(6)}}, {{40962, 3, Short(64)}, {40963, 3, Short(48)}})},
        {"4:2:0", Compress(Picture(48, 32), TJSAMP_420), {}},
        {"grey 2 x 2", LibjpegFile(Picture(64, 48), [](jpeg_compress_struct& c) {
             jpeg_set_colorspace(&c, JCS_GRAYSCALE);
             c.comp_info[0].h_samp_factor = c.comp_info[0].v_samp_factor = 2;
         }), {}}};
    for (const auto& [name, plain, exif] : sources) {
        ASSERT_TRUE(WriteAll(Path("source.jpg"), WithSegment(plain, exif))) << name;
        for (const TOperation& op : Operations()) {
            if (op.JpegtranArgs.isEmpty()) continue;  // unchanged: the file's own bytes
            const std::string what = name + ", " + op.Name;
            TDocument doc;
            ASSERT_TRUE(doc.Open(Path("source.jpg"))) << what;
            const int32_t width = doc.Image.Width;
            op.Apply(doc);
            ASSERT_TRUE(doc.Save(Path("saved.jpg"))) << what;
            EXPECT_EQ(doc.Session.LastEncodedMCUs(), 0) << what;
            QByteArray expected = Jpegtran(op.JpegtranArgs + QStringList{"-perfect", "-copy", "all", "-optimize"},
                                           Path("source.jpg"), Path("expected.jpg"));
            ASSERT_FALSE(expected.isEmpty()) << what;
            const QByteArray leading = expected.mid(2, exif.size());
            expected.remove(2, exif.size()).insert(2 + 18, leading);
            QelResetJpegOrientation(expected);
            if (doc.Image.Width != width) QelSwapJpegResolution(expected);
            QelSetJpegExifDimensions(expected, doc.Image.Width, doc.Image.Height);
            QelRemoveJpegThumbnail(expected);
            EXPECT_TRUE(ReadAll(Path("saved.jpg")) == expected) << what;
        }
    }
}

TEST_F(JlvxSessionTest, ShiftedGridsAreReencodedNeverShiftedOrCut) {
    const QString source = Make(QStringLiteral("source.jpg"), 61, 45, TJSAMP_420, 95);
    for (const TOperation& op : Operations()) {
        TDocument doc;
        ASSERT_TRUE(doc.Open(source));
        op.Apply(doc);
        ASSERT_TRUE(doc.Save(Path("saved.jpg"))) << op.Name;
        const TQelPixelBuffer saved = Decompress(ReadAll(Path("saved.jpg")));
        ASSERT_EQ(saved.Width, doc.Image.Width) << op.Name;
        ASSERT_EQ(saved.Height, doc.Image.Height) << op.Name;
        EXPECT_LT(MeanDifference(saved, doc.Image), ReencodingLoss(doc.Image, TJSAMP_420, 95)) << op.Name;
        // A transpose and the identity keep the top-left corner, so the grid.
        const std::string name = op.Name;
        if (name == "four flips" || name == "rotate left then flip vertical") {
            EXPECT_EQ(doc.Session.LastEncodedMCUs(), 0) << op.Name;
        } else {
            EXPECT_EQ(doc.Session.LastEncodedMCUs(), doc.Session.LastTotalMCUs()) << op.Name;
        }
    }
    // A one-pixel shift of this picture is far beyond that loss.
    TDocument doc;
    ASSERT_TRUE(doc.Open(source));
    EXPECT_GT(MeanDifference(Cropped(doc.Image, TQelRect(1, 0, 61, 45)), Cropped(doc.Image, TQelRect(0, 0, 60, 45))),
              3 * ReencodingLoss(doc.Image, TJSAMP_420, 95));
}

TEST_F(JlvxSessionTest, CropsOnTheGridKeepBlocksAndCropsOffItAreNotShifted) {
    if (!HaveJpegtran()) GTEST_SKIP() << "jpegtran is not installed";
    const QString source = Make(QStringLiteral("source.jpg"), 128, 96, TJSAMP_420);
    {
        // On the grid: the same blocks as a lossless crop, also for a
        // selection saved from the cropped document.
        TDocument doc;
        ASSERT_TRUE(doc.Open(source));
        doc.Crop(TQelRect(32, 16, 102, 66));
        ASSERT_TRUE(doc.Save(Path("crop.jpg")));
        EXPECT_EQ(doc.Session.LastEncodedMCUs(), 0);
        ExpectSameCoefficients(ReadCoefficients(ReadAll(Path("crop.jpg"))),
                               ReadCoefficients(Jpegtran({"-crop", "70x50+32+16"}, source, Path("e1.jpg"))), "crop");
        ASSERT_TRUE(doc.Save(Path("selection.jpg"), TQelRect(16, 0, 56, 30)));
        EXPECT_EQ(doc.Session.LastEncodedMCUs(), 0);
        ExpectSameCoefficients(ReadCoefficients(ReadAll(Path("selection.jpg"))),
                               ReadCoefficients(Jpegtran({"-crop", "40x30+48+16"}, source, Path("e2.jpg"))),
                               "selection after crop");
    }
    {
        // Turned, then cropped on the turned grid.
        TDocument doc;
        ASSERT_TRUE(doc.Open(source));
        doc.RotateLeft();
        doc.Crop(TQelRect(16, 32, 80, 100));
        ASSERT_TRUE(doc.Save(Path("turned.jpg")));
        EXPECT_EQ(doc.Session.LastEncodedMCUs(), 0);
        ExpectSameCoefficients(ReadCoefficients(ReadAll(Path("turned.jpg"))),
                               ReadCoefficients(Jpegtran({"-rotate", "270", "-crop", "64x68+16+32"}, source, Path("e3.jpg"))),
                               "turned crop");
    }
    {
        // Off the grid: the session only hears the rounded origin, yet the
        // file shows exactly the document's pixels.
        TDocument doc;
        ASSERT_TRUE(doc.Open(source));
        doc.Crop(TQelRect(37, 21, 101, 80));
        ASSERT_TRUE(doc.Save(Path("offgrid.jpg")));
        const TQelPixelBuffer saved = Decompress(ReadAll(Path("offgrid.jpg")));
        ASSERT_EQ(saved.Width, 64);
        ASSERT_EQ(saved.Height, 59);
        EXPECT_LT(MeanDifference(saved, doc.Image), ReencodingLoss(doc.Image, TJSAMP_420, 90));
        EXPECT_EQ(doc.Session.LastEncodedMCUs(), doc.Session.LastTotalMCUs());
    }
}

TEST_F(JlvxSessionTest, AResizedDocumentIsEncodedFromItsPixels) {
    const QString source = Make(QStringLiteral("source.jpg"), 48, 32, TJSAMP_420);
    TDocument doc;
    ASSERT_TRUE(doc.Open(source));
    // Twice the size, each pixel doubled: the region reaches past the file.
    const TQelPixelBuffer old = std::move(doc.Image);
    doc.Image = Transformed(old, 96, 64, [](int32_t x, int32_t y) { return std::pair(x / 2, y / 2); });
    ASSERT_TRUE(doc.Session.SetRegion(0, 0, 96, 64));
    ASSERT_TRUE(doc.Save(Path("resized.jpg")));
    EXPECT_EQ(doc.Session.LastEncodedMCUs(), doc.Session.LastTotalMCUs());
    const TQelPixelBuffer saved = Decompress(ReadAll(Path("resized.jpg")));
    ASSERT_EQ(saved.Width, 96);
    ASSERT_EQ(saved.Height, 64);
    EXPECT_LT(MeanDifference(saved, doc.Image), ReencodingLoss(doc.Image, TJSAMP_420, 90));
}

// --- Edited pixels -------------------------------------------------------------

namespace {

// The MCUs that a rectangle touches, as a flag per MCU.
std::vector<bool> TouchedMCUs(const std::vector<TQelRect>& rects, int cols, int rows, int bw, int bh) {
    std::vector<bool> touched(size_t(cols) * size_t(rows), false);
    for (const TQelRect& r : rects)
        for (int j = r.Top / bh; j <= (r.Bottom - 1) / bh; ++j)
            for (int i = r.Left / bw; i <= (r.Right - 1) / bw; ++i) touched[size_t(j) * size_t(cols) + size_t(i)] = true;
    return touched;
}

// Every block outside the touched MCUs equals the expected file's; in every
// touched MCU some block differs.
void ExpectOnlyTouchedMCUsDiffer(const TCoefficients& saved, const TCoefficients& expected,
                                 const std::vector<bool>& touched, int cols, const std::string& what) {
    ASSERT_TRUE(saved.Valid && expected.Valid) << what;
    ASSERT_EQ(saved.Components.size(), expected.Components.size()) << what;
    std::vector<bool> differs(touched.size(), false);
    for (size_t k = 0; k < saved.Components.size(); ++k) {
        const auto& a = saved.Components[k];
        const auto& b = expected.Components[k];
        ASSERT_EQ(a.Quant, b.Quant) << what;
        ASSERT_EQ(a.WidthInBlocks, b.WidthInBlocks) << what;
        ASSERT_EQ(a.HeightInBlocks, b.HeightInBlocks) << what;
        for (int by = 0; by < a.HeightInBlocks; ++by)
            for (int bx = 0; bx < a.WidthInBlocks; ++bx) {
                const size_t mcu = size_t(by / a.V) * size_t(cols) + size_t(bx / a.H);
                const bool same = std::memcmp(a.Block(bx, by), b.Block(bx, by), 64 * sizeof(JCOEF)) == 0;
                if (!same) differs[mcu] = true;
                if (!touched[mcu]) {
                    EXPECT_TRUE(same) << what << ": component " << k << " block " << bx << "," << by;
                }
            }
    }
    for (size_t m = 0; m < touched.size(); ++m)
        if (touched[m]) {
            EXPECT_TRUE(differs[m]) << what << ": MCU " << m << " should have changed";
        }
}

}  // namespace

TEST_F(JlvxSessionTest, EditingReencodesOnlyTheTouchedMCUs) {
    const QString source = Make(QStringLiteral("source.jpg"), 128, 96, TJSAMP_420, 85);
    // One rectangle inside one MCU, one across four MCUs, one at the corner.
    const std::vector<TQelRect> edits = {TQelRect(37, 21, 42, 27), TQelRect(60, 40, 70, 50), TQelRect(120, 90, 128, 96)};
    TDocument doc;
    ASSERT_TRUE(doc.Open(source));
    for (const TQelRect& r : edits) Fill(doc.Image, r, 20, 200, 240);
    ASSERT_TRUE(doc.Save(Path("edited.jpg")));
    EXPECT_EQ(doc.Session.LastEncodedMCUs(), 6);
    EXPECT_EQ(doc.Session.LastTotalMCUs(), 8 * 6);
    ExpectOnlyTouchedMCUsDiffer(ReadCoefficients(ReadAll(Path("edited.jpg"))), ReadCoefficients(ReadAll(source)),
                                TouchedMCUs(edits, 8, 6, 16, 16), 8, "4:2:0 edit");

    // The edit itself is in the file.
    const TQelPixelBuffer saved = Decompress(ReadAll(Path("edited.jpg")));
    ASSERT_EQ(saved.Width, 128);
    EXPECT_LT(MeanDifference(Cropped(saved, TQelRect(60, 40, 70, 50)), Cropped(doc.Image, TQelRect(60, 40, 70, 50))), 12.0);
}

TEST_F(JlvxSessionTest, EditingAfterATurnAndACropKeepsTheTurnedBlocks) {
    if (!HaveJpegtran()) GTEST_SKIP() << "jpegtran is not installed";
    // 4:2:2 turns into 16 x 8 wide, 8 x 16 high MCUs.
    const QString source = Make(QStringLiteral("source.jpg"), 64, 48, TJSAMP_422);
    TDocument doc;
    ASSERT_TRUE(doc.Open(source));
    doc.RotateRight();
    ASSERT_EQ(doc.Session.GetBlockWidth(), 8);
    ASSERT_EQ(doc.Session.GetBlockHeight(), 16);
    doc.Crop(TQelRect(8, 16, 48, 64));
    const std::vector<TQelRect> edits = {TQelRect(9, 3, 12, 5), TQelRect(30, 30, 40, 33)};
    for (const TQelRect& r : edits) Fill(doc.Image, r, 255, 0, 0);
    ASSERT_TRUE(doc.Save(Path("edited.jpg")));
    const QByteArray expected = Jpegtran({"-rotate", "90", "-crop", "40x48+8+16"}, source, Path("expected.jpg"));
    ExpectOnlyTouchedMCUsDiffer(ReadCoefficients(ReadAll(Path("edited.jpg"))), ReadCoefficients(expected),
                                TouchedMCUs(edits, 5, 3, 8, 16), 5, "turned 4:2:2 edit");
}

TEST_F(JlvxSessionTest, ColouringAGrayFileKeepsTheColour) {
    const QString source = Make(QStringLiteral("gray.jpg"), 40, 32, TJSAMP_GRAY);
    TDocument doc;
    ASSERT_TRUE(doc.Open(source));
    Fill(doc.Image, TQelRect(8, 8, 24, 24), 0, 0, 255);
    ASSERT_TRUE(doc.Save(Path("coloured.jpg")));
    const TCoefficients c = ReadCoefficients(ReadAll(Path("coloured.jpg")));
    ASSERT_TRUE(c.Valid);
    EXPECT_EQ(c.Components.size(), 3u);
    const TQelPixelBuffer saved = Decompress(ReadAll(Path("coloured.jpg")));
    ASSERT_EQ(saved.Width, 40);
    const uint8_t* p = saved.PixelAddress(16, 16);
    EXPECT_GT(int(p[2]), 200);
    EXPECT_LT(int(p[0]), 60);
}

TEST_F(JlvxSessionTest, UnchangedRealPhotoKeepsItsCoefficientsAndMarkers) {
    const QString photo = QStringLiteral(VISARA_SOURCE_DIR "/data/Images/astronaut.jpg");
    TDocument doc;
    ASSERT_TRUE(doc.Open(photo)) << doc.Session.LastError().toStdString();
    ASSERT_TRUE(doc.Save(Path("copy.jpg")));
    EXPECT_EQ(doc.Session.LastEncodedMCUs(), 0);
    const QByteArray copy = ReadAll(Path("copy.jpg"));
    ExpectSameCoefficients(ReadCoefficients(copy), ReadCoefficients(ReadAll(photo)), "astronaut");
    EXPECT_TRUE(copy.contains("Photoshop")) << "the comment marker went missing";
}

// --- Saving only what changed ----------------------------------------------------

namespace {

// One way a document came to its pixels: the rectangles it lists as
// changed, and what it did to the pixels inside them.
struct TEditCase {
    std::string Name;
    std::vector<TQelRect> Listed;
    std::function<void(TDocument&)> Apply;
};

// Edits of a 4:2:0 (16 x 16 MCUs) picture, in its own coordinates. Listed
// areas where nothing changed must keep their blocks, so a reference that
// differs from the file's own decode anywhere shows.
std::vector<TEditCase> EditCases(int32_t w, int32_t h) {
    auto fill = [](TQelRect r, uint8_t v) { return [r, v](TDocument& d) { Fill(d.Image, r, v, uint8_t(255 - v), v); }; };
    return {
        {"unchanged", {}, [](TDocument&) {}},
        {"listed but untouched", {TQelRect(0, 0, w, h / 3), TQelRect(5, 5, 40, 40)}, [](TDocument&) {}},
        {"one pixel", {TQelRect(17, 9, 18, 10)}, fill(TQelRect(17, 9, 18, 10), 250)},
        {"inside a larger listed area", {TQelRect(8, 4, w - 4, h - 4)}, fill(TQelRect(30, 21, 42, 33), 10)},
        {"across MCUs and at the corner", {TQelRect(30, 14, 36, 20), TQelRect(w - 5, h - 3, w, h)},
         [=](TDocument& d) {
             Fill(d.Image, TQelRect(30, 14, 36, 20), 90, 20, 200);
             Fill(d.Image, TQelRect(w - 5, h - 3, w, h), 0, 0, 0);
         }},
        {"changed and changed back", {TQelRect(20, 20, 30, 30)},
         [](TDocument& d) {
             const TQelPixelBuffer before = Cropped(d.Image, TQelRect(20, 20, 30, 30));
             Fill(d.Image, TQelRect(20, 20, 30, 30), 1, 2, 3);
             for (int32_t y = 0; y < 10; ++y) std::memcpy(d.Image.PixelAddress(20, 20 + y), before.PixelAddress(0, y), 30);
         }},
    };
}

}  // namespace

TEST_F(JlvxSessionTest, SavingOnlyTheChangedBlocksWritesTheFileThatComparingAllWrites) {
    // Sizes on and off the grid, every sampling; turned and cropped as well.
    struct TSource {
        int32_t W, H;
        int Subsamp;
        const char* Name;
    };
    const std::vector<TSource> sources = {{96, 64, TJSAMP_420, "4:2:0"}, {93, 61, TJSAMP_420, "4:2:0 partial"},
                                          {96, 64, TJSAMP_422, "4:2:2"}, {88, 56, TJSAMP_444, "4:4:4"},
                                          {90, 60, TJSAMP_GRAY, "gray"},  {96, 64, TJSAMP_440, "4:4:0"},
                                          {96, 64, TJSAMP_411, "4:1:1"}};
    const std::vector<std::pair<std::string, std::function<void(TDocument&)>>> geometry = {
        {"as opened", [](TDocument&) {}},
        {"turned right", [](TDocument& d) { d.RotateRight(); }},
        {"flipped and cropped", [](TDocument& d) {
             d.FlipVertical();
             d.Crop(TQelRect(32, 16, d.Image.Width - 3, d.Image.Height - 2));
         }}};
    int compared = 0, kept = 0;
    for (const TSource& source : sources) {
        const QString path = Make(QStringLiteral("source.jpg"), source.W, source.H, source.Subsamp, 85);
        for (const auto& [turn, shape] : geometry) {
            // The turned picture is saved through a selection.
            const bool selection = turn == "turned right";
            TDocument probe;
            ASSERT_TRUE(probe.Open(path));
            shape(probe);
            for (const TEditCase& edit : EditCases(probe.Image.Width, probe.Image.Height)) {
                const std::string what = std::string(source.Name) + ", " + turn + ", " + edit.Name +
                                         (selection ? ", selection" : "");
                const TQelRect region = selection ? TQelRect(16, 0, probe.Image.Width, probe.Image.Height - 3)
                                                  : TQelRect(0, 0, probe.Image.Width, probe.Image.Height);
                QByteArray files[2];
                int32_t encoded[2] = {-1, -1};
                for (int full = 0; full < 2; ++full) {
                    TDocument doc;
                    ASSERT_TRUE(doc.Open(path));
                    shape(doc);
                    edit.Apply(doc);
                    doc.Session.SetRegion(region.Left, region.Top, region.Right, region.Bottom);
                    TJlvxSaveOptions o;
                    o.Pixels = doc.Image.PixelAddress(region.Left, region.Top);
                    o.Stride = doc.Image.Stride;
                    o.Changed = full ? nullptr : &edit.Listed;
                    ASSERT_TRUE(doc.Session.Save(Path("saved.jpg"), o)) << what << doc.Session.LastError().toStdString();
                    files[full] = ReadAll(Path("saved.jpg"));
                    encoded[full] = doc.Session.LastEncodedMCUs();
                    if (!full) kept += doc.Session.LastTotalMCUs() - encoded[full];
                }
                EXPECT_EQ(encoded[0], encoded[1]) << what;
                EXPECT_TRUE(files[0] == files[1]) << what;
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 7 * 3 * 6);
    EXPECT_GT(kept, 0);

    // Unchanged, the file is the file itself, however it was coded; turned,
    // it is libjpeg's own optimised transform of the blocks and markers,
    // byte for byte.
    if (HaveJpegtran()) {
        const QString plain = Make(QStringLiteral("plain.jpg"), 93, 61, TJSAMP_420, 85);
        for (const QStringList& coding : {QStringList{}, QStringList{"-progressive"}, QStringList{"-restart", "1"}}) {
            const QByteArray source = Jpegtran(coding + QStringList{"-copy", "all"}, plain, Path("coded.jpg"));
            ASSERT_FALSE(source.isEmpty());
            TDocument doc;
            ASSERT_TRUE(doc.Open(Path("coded.jpg")));
            ASSERT_TRUE(doc.Save(Path("saved.jpg")));
            EXPECT_TRUE(ReadAll(Path("saved.jpg")) == source) << coding.join(' ').toStdString();
            doc.RotateLeft();
            doc.FlipVertical();
            ASSERT_TRUE(doc.Save(Path("saved.jpg")));
            EXPECT_EQ(doc.Session.LastEncodedMCUs(), 0);
            EXPECT_TRUE(ReadAll(Path("saved.jpg")) ==
                        Jpegtran({"-transpose", "-copy", "all", "-optimize"}, Path("coded.jpg"), Path("expected.jpg")))
                << coding.join(' ').toStdString();
            // And edited, compared in part and in whole.
            const std::vector<TQelRect> listed = {TQelRect(20, 10, 60, 40)};
            QByteArray files[2];
            for (int full = 0; full < 2; ++full) {
                TDocument edited;
                ASSERT_TRUE(edited.Open(Path("coded.jpg")));
                Fill(edited.Image, TQelRect(33, 17, 35, 19), 0, 255, 0);
                TJlvxSaveOptions o;
                o.Pixels = edited.Image.Bits;
                o.Stride = edited.Image.Stride;
                o.Changed = full ? nullptr : &listed;
                ASSERT_TRUE(edited.Session.Save(Path("edited.jpg"), o));
                EXPECT_EQ(edited.Session.LastEncodedMCUs(), 1);
                files[full] = ReadAll(Path("edited.jpg"));
            }
            EXPECT_TRUE(files[0] == files[1]) << coding.join(' ').toStdString();
        }
    }

    // A real photo, edited here and there.
    const QString photo = QStringLiteral(VISARA_SOURCE_DIR "/data/Images/astronaut.jpg");
    const std::vector<TQelRect> listed = {TQelRect(100, 120, 180, 170), TQelRect(300, 10, 301, 11)};
    QByteArray files[2];
    for (int full = 0; full < 2; ++full) {
        TDocument doc;
        ASSERT_TRUE(doc.Open(photo));
        Fill(doc.Image, TQelRect(110, 130, 150, 160), 30, 60, 90);
        Fill(doc.Image, listed[1], 0, 0, 0);
        TJlvxSaveOptions o;
        o.Pixels = doc.Image.Bits;
        o.Stride = doc.Image.Stride;
        o.Changed = full ? nullptr : &listed;
        ASSERT_TRUE(doc.Session.Save(Path("photo.jpg"), o));
        files[full] = ReadAll(Path("photo.jpg"));
    }
    EXPECT_TRUE(files[0] == files[1]);
}

// --- Damaged files and failed saves -------------------------------------------

namespace {

// Offset of the first byte after the SOS segment; -1 when absent.
qsizetype ScanDataOffset(const QByteArray& jpeg) {
    const qsizetype sos = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    if (sos < 0 || sos + 4 > jpeg.size()) return -1;
    return sos + 2 + ((uchar(jpeg[sos + 2]) << 8) | uchar(jpeg[sos + 3]));
}

// Sets the frame header's height and width.
QByteArray WithFrameSize(QByteArray jpeg, int width, int height) {
    const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    if (sof < 0) return QByteArray();
    jpeg[sof + 5] = char(height >> 8);
    jpeg[sof + 6] = char(height & 0xFF);
    jpeg[sof + 7] = char(width >> 8);
    jpeg[sof + 8] = char(width & 0xFF);
    return jpeg;
}

// The file with its scan data overwritten early on by runs of one bits,
// which are no valid Huffman code; its headers stay sound.
QByteArray WithCorruptScan(QByteArray jpeg) {
    const qsizetype scan = ScanDataOffset(jpeg);
    if (scan < 0 || scan + 40 > jpeg.size()) return QByteArray();
    for (qsizetype i = scan + 8; i < scan + 40; i += 2) {
        jpeg[i] = char(0xFF);
        jpeg[i + 1] = char(0x00);
    }
    return jpeg;
}

TJlvxSaveOptions SaveOptionsFor(const TQelPixelBuffer& pixels) {
    TJlvxSaveOptions o;
    o.BlockSize = 16;
    o.Pixels = pixels.Bits;
    o.Stride = pixels.Stride;
    return o;
}

}  // namespace

TEST_F(JlvxSessionTest, DamagedFilesAreRefusedWithAReason) {
    const QByteArray good = Compress(Picture(64, 48), TJSAMP_420);
    const qsizetype scan = ScanDataOffset(good);
    ASSERT_GT(scan, 0);
    QByteArray noEnd = good;
    noEnd.chop(2);

    // Damaged headers are refused by Open; damaged image data by the decode
    // that follows it, which closes the file.
    struct TCase {
        const char* Name;
        QByteArray Data;
        bool HeadersDamaged;
    };
    const std::vector<TCase> cases = {
        {"empty", QByteArray(), true},
        {"not a JPEG", QByteArray("GIF89a and nothing else"), true},
        {"zero width", WithFrameSize(good, 0, 48), true},
        {"zero height", WithFrameSize(good, 64, 0), true},
        {"absurd size", WithFrameSize(good, 65000, 65000), true},
        {"header only", good.left(scan), false},
        {"truncated scan", good.left(scan + (good.size() - scan) / 2), false},
        {"missing end marker", noEnd, false},
        {"corrupt Huffman data", WithCorruptScan(good), false},
        {"size beyond the data", WithFrameSize(good, 4000, 3000), false},
    };
    for (const TCase& c : cases) {
        const QString path = Path(QStringLiteral("damaged.jpg"));
        ASSERT_TRUE(WriteAll(path, c.Data)) << c.Name;
        TJlvxSession session;
        const bool opened = session.Open(path);
        EXPECT_EQ(opened, !c.HeadersDamaged) << c.Name;
        if (opened) {
            TQelPixelBuffer image;
            image.Allocate(QelFormatBGR24, TQelRect(0, 0, session.GetWidth(), session.GetHeight()));
            EXPECT_FALSE(session.Decode(image.Bits, image.Stride, 0)) << c.Name;
            EXPECT_TRUE(session.LastError().contains(QStringLiteral("damaged"))) << c.Name;
        }
        EXPECT_FALSE(session.IsOpen()) << c.Name;
        EXPECT_FALSE(session.LastError().isEmpty()) << c.Name;
        EXPECT_EQ(session.GetWidth(), 0) << c.Name;
        uint8_t pixel[4] = {};
        EXPECT_FALSE(session.Decode(pixel, 4, 0)) << c.Name;
    }

    TJlvxSession session;
    EXPECT_FALSE(session.Open(Path(QStringLiteral("missing.jpg"))));
    EXPECT_FALSE(session.LastError().isEmpty());
    TWatchedFifo fifo(Path(QStringLiteral("pipe.jpg")));
    ASSERT_TRUE(fifo.Made);
    EXPECT_FALSE(session.Open(Path(QStringLiteral("pipe.jpg"))));
    EXPECT_FALSE(session.Open(QStringLiteral("/dev/zero")));
    EXPECT_FALSE(fifo.ReaderBlocked());
    EXPECT_FALSE(session.RotateRight());
    EXPECT_FALSE(session.SetRegion(0, 0, 1, 1));
    EXPECT_EQ(session.GetBlockSizes(), 0u);
}

TEST_F(JlvxSessionTest, AFailedSaveLeavesTheTargetAsItWas) {
    const QString source = Make(QStringLiteral("source.jpg"), 32, 32, TJSAMP_420);
    const QString target = Path(QStringLiteral("target.jpg"));
    ASSERT_TRUE(WriteAll(target, "old contents"));

    TDocument doc;
    ASSERT_TRUE(doc.Open(source));
    TJlvxSaveOptions none;
    EXPECT_FALSE(doc.Session.Save(target, none));
    EXPECT_FALSE(doc.Session.LastError().isEmpty());
    EXPECT_FALSE(doc.Save(Path(QStringLiteral("no/such/folder/x.jpg"))));
    EXPECT_FALSE(doc.Session.LastError().isEmpty());
    // A region too large for a JPEG file is refused before anything is written.
    EXPECT_TRUE(doc.Session.SetRegion(0, 0, 70000, 10));
    TJlvxSaveOptions huge;
    huge.Pixels = doc.Image.Bits;
    huge.Stride = 70000 * 3;
    EXPECT_FALSE(doc.Session.Save(target, huge));
    EXPECT_EQ(ReadAll(target), QByteArray("old contents"));

    // Saving over the opened file itself works: the session holds its data.
    ASSERT_TRUE(doc.Save(source));
    ASSERT_TRUE(doc.Save(target));
    EXPECT_EQ(ReadAll(target), ReadAll(source));
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2) << "a temporary file was left behind";
}

TEST_F(JlvxSessionTest, AFullDiskFailsTheSaveAndKeepsTheOldFile) {
    if (!QelOnSmallFileSystem(Dir.path())) return;
    const QString source = Make(QStringLiteral("source.jpg"), 32, 32, TJSAMP_420);
    const QString target = Path(QStringLiteral("target.jpg"));
    ASSERT_TRUE(WriteAll(target, "old contents"));
    TDocument doc;
    ASSERT_TRUE(doc.Open(source));
    QelFillFileSystem(Dir.path());
    EXPECT_FALSE(doc.Save(target));
    EXPECT_TRUE(doc.Session.LastError().contains(QStringLiteral("target.jpg"))) << doc.Session.LastError().toStdString();
    // The encoders' saves, of a few hundred bytes and more.
    for (const TQelImageFileType type : {TQelImageFileType::Bmp, TQelImageFileType::Png, TQelImageFileType::Jpeg}) {
        QString error;
        EXPECT_FALSE(QelSaveImage(target, type, doc.Image.Bits, 8, 6, doc.Image.Stride, 90, {}, error));
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_EQ(ReadAll(target), QByteArray("old contents"));
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3) << "a temporary file was left behind";
}

TEST_F(JlvxSessionTest, DataDamageFoundAtSaveWritesNothing) {
    const TQelPixelBuffer picture = Picture(64, 48);
    const QByteArray damaged = WithCorruptScan(Compress(picture, TJSAMP_420));
    ASSERT_FALSE(damaged.isEmpty());
    const QString source = Path(QStringLiteral("damaged.jpg"));
    const QString target = Path(QStringLiteral("target.jpg"));
    ASSERT_TRUE(WriteAll(source, damaged));
    ASSERT_TRUE(WriteAll(target, "old contents"));
    const TJlvxSaveOptions options = SaveOptionsFor(picture);

    {
        // No decode came first: the save reads the data before it writes.
        TJlvxSession session;
        ASSERT_TRUE(session.Open(source));
        EXPECT_FALSE(session.Save(target, options));
        EXPECT_TRUE(session.LastError().contains(QStringLiteral("damaged")));
        EXPECT_FALSE(session.IsOpen());
    }
    {
        // Likewise after a turn and a crop, which keep no blocks, and over
        // the damaged file itself.
        TJlvxSession session;
        ASSERT_TRUE(session.Open(source));
        session.RotateRight();
        session.SetRegion(3, 5, 40, 45);
        EXPECT_FALSE(session.Save(source, options));
        EXPECT_FALSE(session.IsOpen());
    }
    {
        // A turned decode reads the data as well.
        TJlvxSession session;
        ASSERT_TRUE(session.Open(source));
        session.FlipVertical();
        TQelPixelBuffer image;
        image.Allocate(QelFormatBGR24, TQelRect(0, 0, 64, 48));
        EXPECT_FALSE(session.Decode(image.Bits, image.Stride, 0));
        EXPECT_FALSE(session.IsOpen());
        EXPECT_FALSE(session.Save(target, options));
    }
    EXPECT_EQ(ReadAll(target), QByteArray("old contents"));
    EXPECT_EQ(ReadAll(source), damaged);
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2) << "a temporary file was left behind";
}

TEST_F(JlvxSessionTest, ASaveWithoutADecodeStillKeepsTheBlocks) {
    const QString source = Make(QStringLiteral("source.jpg"), 64, 48, TJSAMP_420);
    const TQelPixelBuffer pixels = Decompress(ReadAll(source));
    ASSERT_EQ(pixels.Width, 64);
    TJlvxSession session;
    ASSERT_TRUE(session.Open(source));
    ASSERT_TRUE(session.Save(Path("copy.jpg"), SaveOptionsFor(pixels))) << session.LastError().toStdString();
    EXPECT_EQ(session.LastEncodedMCUs(), 0);
    ExpectSameCoefficients(ReadCoefficients(ReadAll(Path("copy.jpg"))), ReadCoefficients(ReadAll(source)), "copy");
}

// --- Quantisation tables that no encoder can take ------------------------------

namespace {

// Three scans, one per component, with the chroma table defined only just
// before the second scan and holding a 0: a read of the headers does not
// see it.
QByteArray WithLateZeroChromaTable(const TQelPixelBuffer& picture) {
    static jpeg_scan_info scans[3] = {{1, {0}, 0, 63, 0, 0}, {1, {1}, 0, 63, 0, 0}, {1, {2}, 0, 63, 0, 0}};
    QByteArray jpeg = LibjpegFile(picture, [](jpeg_compress_struct& c) {
        c.scan_info = scans;
        c.num_scans = 3;
    });
    const qsizetype chroma = jpeg.indexOf(QByteArray("\xFF\xDB", 2), jpeg.indexOf(QByteArray("\xFF\xDB", 2)) + 2);
    if (chroma < 0) return QByteArray();
    QByteArray table = jpeg.mid(chroma, 2 + ((uchar(jpeg[chroma + 2]) << 8) | uchar(jpeg[chroma + 3])));
    if (table.size() != 69 || table[4] != 1) return QByteArray();
    table[5 + 10] = 0;
    jpeg.remove(chroma, table.size());
    const qsizetype second = jpeg.indexOf(QByteArray("\xFF\xDA", 2), jpeg.indexOf(QByteArray("\xFF\xDA", 2)) + 2);
    if (second < 0) return QByteArray();
    return jpeg.insert(second, table);
}

}  // namespace

TEST_F(JlvxSessionTest, QuantisationTablesThatNoEncoderTakesAreNeverEncodedWith) {
    // A 0 in a table of the headers: the file is left to the plain decoder
    // and encoder.
    QByteArray zero = Compress(Picture(32, 32), TJSAMP_420);
    const qsizetype dqt = zero.indexOf(QByteArray("\xFF\xDB", 2));
    ASSERT_GT(dqt, 0);
    zero[dqt + 5 + 10] = 0;
    ASSERT_TRUE(WriteAll(Path("zero.jpg"), zero));
    TJlvxSession session;
    EXPECT_FALSE(session.Open(Path("zero.jpg")));
    EXPECT_TRUE(session.LastError().contains(QStringLiteral("quantisation"))) << session.LastError().toStdString();

    // One defined between scans opens, and its blocks are kept; edited
    // pixels, which would need the table, are refused with the reason.
    const QByteArray late = WithLateZeroChromaTable(Picture(48, 32));
    ASSERT_FALSE(late.isEmpty());
    ASSERT_TRUE(WriteAll(Path("late.jpg"), late));
    TDocument doc;
    ASSERT_TRUE(doc.Open(Path("late.jpg"))) << doc.Session.LastError().toStdString();
    ASSERT_TRUE(doc.Save(Path("kept.jpg")));
    EXPECT_EQ(doc.Session.LastEncodedMCUs(), 0);
    Fill(doc.Image, TQelRect(3, 3, 6, 6), 0, 0, 255);
    EXPECT_FALSE(doc.Save(Path("edited.jpg")));
    EXPECT_TRUE(doc.Session.LastError().contains(QStringLiteral("quantisation"))) << doc.Session.LastError().toStdString();
    EXPECT_FALSE(QFileInfo::exists(Path("edited.jpg")));
    EXPECT_TRUE(doc.Session.IsOpen());
}

// --- Sampling factors that tell the MCU size another way ------------------------

TEST_F(JlvxSessionTest, MCUsOfUnusualSamplingFactorsAreTheGridOfEverySave) {
    // 2 x 2 luma with 1 x 2 (or 2 x 1) chroma samples like 4:2:2 (4:4:0),
    // yet its MCUs are 16 x 16 pixels.
    for (const auto& [h, v] : {std::pair(1, 2), std::pair(2, 1)}) {
        const std::string what = std::to_string(h) + "x" + std::to_string(v);
        const QByteArray file = LibjpegFile(Picture(72, 56), [h, v](jpeg_compress_struct& c) {
            c.comp_info[0].h_samp_factor = c.comp_info[0].v_samp_factor = 2;
            for (int k = 1; k < 3; ++k) c.comp_info[k].h_samp_factor = h, c.comp_info[k].v_samp_factor = v;
        });
        ASSERT_TRUE(WriteAll(Path("odd.jpg"), file));
        TDocument doc;
        ASSERT_TRUE(doc.Open(Path("odd.jpg"))) << what;
        EXPECT_EQ(doc.Session.GetBlockSizes(), 16u | (16u << 16)) << what;
        ASSERT_TRUE(doc.Save(Path("kept.jpg"))) << what;
        EXPECT_EQ(doc.Session.LastEncodedMCUs(), 0) << what;
        ExpectSameCoefficients(ReadCoefficients(ReadAll(Path("kept.jpg"))), ReadCoefficients(file), what);
        // An edit lands where it was made, in one MCU, also after a crop.
        Fill(doc.Image, TQelRect(36, 36, 40, 40), 0, 0, 255);
        doc.Crop(TQelRect(16, 16, 72, 56));
        ASSERT_TRUE(doc.Save(Path("edited.jpg"))) << what;
        EXPECT_EQ(doc.Session.LastEncodedMCUs(), 1) << what;
        EXPECT_LT(MeanDifference(Decompress(ReadAll(Path("edited.jpg"))), doc.Image), 2.0) << what;
    }
}

// --- The binding ---------------------------------------------------------------

TEST(JolvexTest, WithoutAFactoryThereIsNoSessionAndWithOneThereIs) {
    qputenv("VISARA_NO_LOSSLESS_JPEG", "1");
    InitJolvex();
    std::shared_ptr<IJLVX> session = std::make_shared<TJlvxSession>();
    EXPECT_EQ(CreateJolvexObject(session), JLVX_E_FAIL);
    EXPECT_EQ(uint32_t(JLVX_E_FAIL), 0x80004005u);
    EXPECT_EQ(session, nullptr);

    qputenv("VISARA_NO_LOSSLESS_JPEG", "0");
    InitJolvex();
    EXPECT_EQ(CreateJolvexObject(session), JLVX_S_OK);
    ASSERT_NE(session, nullptr);
    EXPECT_FALSE(session->IsOpen());
    qunsetenv("VISARA_NO_LOSSLESS_JPEG");

    // An injected factory is used as it is, its failure passed on.
    int calls = 0;
    const TJolvexFactory previous = SetJolvexFactory([&calls](std::shared_ptr<IJLVX>&) {
        ++calls;
        return int32_t(0x80070057u);
    });
    EXPECT_EQ(CreateJolvexObject(session), int32_t(0x80070057u));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(session, nullptr);
    SetJolvexFactory(previous);

    FinalizeJolvex();
    EXPECT_EQ(CreateJolvexObject(session), JLVX_E_FAIL);
    InitJolvex();
}
