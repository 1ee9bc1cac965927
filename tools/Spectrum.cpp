#include "Spectrum.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "QelError.h"
#include "QelParallel.h"
#include "Progress.h"

TQelSpectrum Spectrum;

namespace {

// The window reaches this many rows (columns) before the pixel and one more
// after it.
constexpr int32_t Before = 8;
constexpr int32_t After = 9;

// The least rows, and pixels, a thread of its own is worth.
constexpr int32_t MinBandRows = 12;
constexpr int64_t MinBandPixels = 64 * 1024;
// A thread's share up to this many rows is one piece; the least piece when
// a share is cut into several.
constexpr int32_t FullBandRows = 64;
constexpr int32_t GuidedRows = 16;

// The mean S / n is the single-precision division, exact-rounded. It equals
// the float nearest to S times the double-precision 1 / n: S has 24 bits,
// so S / n is never closer to a halfway point between floats than 2^-25 / n
// of itself, far more than the product errs (2^-52 of itself). The same
// holds for a running sum along a row (a float) over 18: a float times
// 2^k over 18 is never within 2^-24 / 18 of a halfway point. So the
// divisions of the row loops are such products, which are far cheaper.

// What one thread works with: the running column sums of the band's row,
// the column means of two rows and the running sums along them, three
// channels per pixel.
struct TWorkspace {
    // Rows of Width pixels; false when there is no room for them. Every
    // value is written before it is read, so nothing is cleared.
    bool Fit(int32_t Width) {
        const size_t n = size_t(Width) * 3;
        if (n <= Size) return true;
        Size = 0;
        Sums.reset(new (std::nothrow) int32_t[n]);
        for (std::unique_ptr<float[]>* v : {&Means, &Means2, &Along, &Along2}) v->reset(new (std::nothrow) float[n]);
        if (!Sums || !Means || !Means2 || !Along || !Along2) return false;
        Size = n;
        return true;
    }

    size_t Size = 0;
    std::unique_ptr<int32_t[]> Sums;
    std::unique_ptr<float[]> Means, Means2;
    std::unique_ptr<float[]> Along, Along2;
};

// Each thread keeps its workspace from one build to the next: taking it
// afresh, and faulting its pages in, costs more than a small edit's rows.
TWorkspace& ThreadWorkspace() {
    thread_local TWorkspace work;
    return work;
}

template <int Bpp>
void AddRow(int32_t* Sums, const uint8_t* Row, int32_t Width) {
    if constexpr (Bpp == 3) {
        for (int32_t i = 0; i < Width * 3; ++i) Sums[i] += Row[i];
    } else {
        for (int32_t x = 0; x < Width; ++x, Row += Bpp, Sums += 3) {
            Sums[0] += Row[0];
            Sums[1] += Row[1];
            Sums[2] += Row[2];
        }
    }
}

template <int Bpp>
void ShiftRow(int32_t* Sums, const uint8_t* Out, const uint8_t* In, int32_t Width) {
    if constexpr (Bpp == 3) {
        for (int32_t i = 0; i < Width * 3; ++i) Sums[i] += int32_t(In[i]) - int32_t(Out[i]);
    } else {
        for (int32_t x = 0; x < Width; ++x, In += Bpp, Out += Bpp, Sums += 3) {
            Sums[0] += int32_t(In[0]) - int32_t(Out[0]);
            Sums[1] += int32_t(In[1]) - int32_t(Out[1]);
            Sums[2] += int32_t(In[2]) - int32_t(Out[2]);
        }
    }
}

// The two loops of divisions, as products with the reciprocal (see above),
// also built for wider vector units where the processor has them; every
// unit rounds the same, so the values are the same. Not under
// ThreadSanitizer, whose instrumented resolver would run before its runtime
// is set up.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define QEL_DIVISION_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define QEL_DIVISION_CLONES
#endif

QEL_DIVISION_CLONES void ColumnMeans(const int32_t* Sums, float* Means, int32_t Count, int32_t N) {
    const double r = 1.0 / N;
    for (int32_t i = 0; i < Count; ++i) Means[i] = float(double(Sums[i]) * r);
}

QEL_DIVISION_CLONES void PixelsLessMeans(const uint8_t* Pixels, const float* Along, float* Detail, int32_t Count) {
    constexpr double r = 1.0 / (Before + After + 1);
    for (int32_t i = 0; i < Count; ++i) Detail[i] = float(Pixels[i]) - float(double(Along[i]) * r);
}

// Detail of R rows (1 or 2) from their column means: the running sum along
// each row, which starts afresh at x = 0. Two rows go side by side, so that
// their chains of additions overlap; each row's sums are the same sequence
// of operations either way. Only columns X0 on are written: the sums run
// from the left edge all the same, so the values are those of a whole row.
template <int Bpp, int R>
void DetailRows(const float* const* Means, const uint8_t* const* Pixels, float* const* Detail, float* const* Along,
                int32_t Width, int32_t X0) {
    float s[R][3] = {};
    int32_t n[R];
    const int32_t first = std::min(After, Width - 1);
    for (int r = 0; r < R; ++r) {
        for (int32_t x = 0; x <= first; ++x)
            for (int c = 0; c < 3; ++c) s[r][c] += Means[r][3 * x + c];
        n[r] = first + 1;
    }
    auto put = [&](int r, int32_t x) {
        if (x < X0) return;
        const float d = float(n[r]);
        const uint8_t* p = Pixels[r] + ptrdiff_t(x) * Bpp;
        for (int c = 0; c < 3; ++c) Detail[r][3 * x + c] = float(p[c]) - s[r][c] / d;
    };
    auto step = [&](int r, int32_t x) {
        if (x - After >= 0) {
            const float* m = Means[r] + 3 * (x - After);
            for (int c = 0; c < 3; ++c) s[r][c] -= m[c];
            --n[r];
        }
        if (x + After < Width) {
            const float* m = Means[r] + 3 * (x + After);
            for (int c = 0; c < 3; ++c) s[r][c] += m[c];
            ++n[r];
        }
    };
    for (int r = 0; r < R; ++r) put(r, 0);
    // Where the window lies wholly inside the row both ends move and the
    // count stays 18; this is where the time goes.
    const int32_t inner0 = std::max(1, After);
    const int32_t inner1 = Width - After;
    int32_t x = 1;
    for (; x < std::min(inner0, Width); ++x)
        for (int r = 0; r < R; ++r) {
            step(r, x);
            put(r, x);
        }
    if (x < inner1) {
        // The running sums first, a chain of additions; then the divisions,
        // which no longer wait for the chain and go several at a time. The
        // values are the same either way.
        const int32_t from = std::max(x, std::min(X0, inner1));
        for (; x < inner1; ++x)
            for (int r = 0; r < R; ++r) {
                const float* out = Means[r] + 3 * (x - After);
                const float* in = Means[r] + 3 * (x + After);
                for (int c = 0; c < 3; ++c) {
                    s[r][c] = (s[r][c] - out[c]) + in[c];
                    Along[r][3 * x + c] = s[r][c];
                }
            }
        const float d = float(Before + After + 1);
        for (int r = 0; r < R; ++r) {
            const float* along = Along[r];
            const uint8_t* pixels = Pixels[r];
            float* detail = Detail[r];
            if constexpr (Bpp == 3) {
                PixelsLessMeans(pixels + 3 * from, along + 3 * from, detail + 3 * from, 3 * (inner1 - from));
            } else {
                for (int32_t i = from; i < inner1; ++i)
                    for (int c = 0; c < 3; ++c)
                        detail[3 * i + c] = float(pixels[ptrdiff_t(i) * Bpp + c]) - along[3 * i + c] / d;
            }
            n[r] = Before + After + 1;
        }
    }
    for (; x < Width; ++x)
        for (int r = 0; r < R; ++r) {
            step(r, x);
            put(r, x);
        }
}

template <int Bpp>
void SubtractRow(int32_t* Sums, const uint8_t* Row, int32_t Width) {
    for (int32_t x = 0; x < Width; ++x, Row += Bpp, Sums += 3) {
        Sums[0] -= Row[0];
        Sums[1] -= Row[1];
        Sums[2] -= Row[2];
    }
}

// The running sums down the columns, row by row from Y0 on: the means of
// each row's window, for the sums along it.
template <int Bpp>
class TColumnSums {
public:
    TColumnSums(const TQelPixels& Pixels, int32_t* Sums, int32_t Y0)
        : FPixels(Pixels), FSums(Sums), FY0(Y0), FWidth(Pixels.Width) {
        std::fill(FSums, FSums + 3 * FWidth, 0);
        const int32_t top = std::max(0, Y0 - Before), bottom = std::min(Pixels.Height - 1, Y0 + After);
        for (int32_t y = top; y <= bottom; ++y) AddRow<Bpp>(FSums, Row(y), FWidth);
    }

    // Moves the sums from row Y - 1 to row Y (rows come in order) and
    // writes row Y's means to Means.
    void Advance(int32_t Y, float* Means) {
        const int32_t h = FPixels.Height;
        if (Y > FY0) {
            const bool out = Y - After >= 0, in = Y + After < h;
            if (out && in)
                ShiftRow<Bpp>(FSums, Row(Y - After), Row(Y + After), FWidth);
            else if (in)
                AddRow<Bpp>(FSums, Row(Y + After), FWidth);
            else if (out)
                SubtractRow<Bpp>(FSums, Row(Y - After), FWidth);
        }
        ColumnMeans(FSums, Means, FWidth * 3, std::min(h - 1, Y + After) - std::max(0, Y - Before) + 1);
    }

private:
    const uint8_t* Row(int32_t Y) const { return FPixels.Bits + ptrdiff_t(Y) * FPixels.Stride; }

    const TQelPixels& FPixels;
    int32_t* FSums;
    int32_t FY0, FWidth;
};

// Detail rows Y and, when Two, Y + 1 from their means.
template <int Bpp>
void DetailOfRows(const TQelPixels& Pixels, float* Detail, int32_t Y, bool Two, const float* Means0,
                  const float* Means1, TWorkspace& Work, int32_t X0) {
    const int32_t w = Pixels.Width;
    auto row = [&](int32_t y) { return Pixels.Bits + ptrdiff_t(y) * Pixels.Stride; };
    float* out0 = Detail + ptrdiff_t(Y) * w * 3;
    if (Two) {
        const float* means[2] = {Means0, Means1};
        const uint8_t* pixels[2] = {row(Y), row(Y + 1)};
        float* detail[2] = {out0, out0 + ptrdiff_t(w) * 3};
        float* along[2] = {Work.Along.get(), Work.Along2.get()};
        DetailRows<Bpp, 2>(means, pixels, detail, along, w, X0);
    } else {
        const float* means[1] = {Means0};
        const uint8_t* pixels[1] = {row(Y)};
        float* detail[1] = {out0};
        float* along[1] = {Work.Along.get()};
        DetailRows<Bpp, 1>(means, pixels, detail, along, w, X0);
    }
}

// Rows Y0 .. Y1 - 1 of the layer, from column X0 on.
template <int Bpp>
void BuildBand(const TQelPixels& Pixels, float* Detail, int32_t Y0, int32_t Y1, int32_t X0, TWorkspace& Work) {
    TColumnSums<Bpp> sums(Pixels, Work.Sums.get(), Y0);
    int32_t y = Y0;
    for (; y + 1 < Y1; y += 2) {
        sums.Advance(y, Work.Means.get());
        sums.Advance(y + 1, Work.Means2.get());
        DetailOfRows<Bpp>(Pixels, Detail, y, true, Work.Means.get(), Work.Means2.get(), Work, X0);
    }
    if (y < Y1) {
        sums.Advance(y, Work.Means.get());
        DetailOfRows<Bpp>(Pixels, Detail, y, false, Work.Means.get(), nullptr, Work, X0);
    }
}

}  // namespace

bool TQelDetailLayer::Fits(const TQelPixels& Pixels) const {
    return FDetail && Pixels.Width == FWidth && Pixels.Height == FHeight;
}

void TQelDetailLayer::Free() {
    FDetail.reset();
    FWidth = 0;
    FHeight = 0;
}

void TQelDetailLayer::Compute(const TQelPixels& Pixels, int32_t Y0, int32_t Y1, int32_t X0, int32_t Threads,
                              const TProgress& Progress) {
    const int32_t rows = Y1 - Y0;
    if (rows <= 0) return;
    // As many threads as the rows justify. A band reads the rows above it
    // again to start its sums, which costs about a fifth of its own rows'
    // time when it is MinBandRows high; a smaller edit is done sooner by
    // one thread.
    const int32_t threads =
        QelParallelThreads(std::min<int64_t>(rows / MinBandRows, int64_t(rows) * Pixels.Width / MinBandPixels), Threads);
    // A thread's share in one piece when it is small. Otherwise pieces that
    // shrink as the rows run out (a share of what is left), so that the
    // threads finish together and none holds up the end, and the progress
    // meter moves.
    std::vector<int32_t> starts;
    const int32_t share = (rows + threads - 1) / threads;
    try {
        for (int32_t y = Y0; y < Y1;) {
            starts.push_back(y);
            y += share <= FullBandRows ? share : std::max(GuidedRows, (Y1 - y) / (3 * threads));
        }
        starts.push_back(Y1);
    } catch (const std::bad_alloc&) {
        throw EQelOutOfMemory("Not enough memory to build the detail layer");
    }
    const auto bands = int64_t(starts.size()) - 1;

    float* detail = FDetail.get();
    std::atomic<int32_t> rowsDone{0};
    std::atomic<bool> noRoom{false};
    auto piece = [&](int64_t b, int32_t slot) {
        TWorkspace& mine = ThreadWorkspace();
        if (!mine.Fit(Pixels.Width)) {
            noRoom = true;
            return;
        }
        const int32_t y0 = starts[size_t(b)], y1 = std::min(Y1, starts[size_t(b) + 1]);
        if (Pixels.BytesPerPixel == 3)
            BuildBand<3>(Pixels, detail, y0, y1, X0, mine);
        else
            BuildBand<4>(Pixels, detail, y0, y1, X0, mine);
        const int32_t done = rowsDone.fetch_add(y1 - y0) + (y1 - y0);
        if (slot == 0 && Progress) Progress(done, rows);
    };
    // The progress meter moves on this thread only, also while the others
    // finish their last pieces.
    std::function<void()> idle;
    if (Progress) idle = [&] { Progress(rowsDone.load(), rows); };
    QelParallelFor(bands, threads, piece, idle);
    if (noRoom) throw EQelOutOfMemory("Not enough memory to build the detail layer");
    if (Progress) Progress(rows, rows);
}

void TQelDetailLayer::Build(const TQelPixels& Pixels, int32_t Threads, const TProgress& Progress) {
    const int32_t w = Pixels.Width, h = Pixels.Height;
    if (!Pixels.Bits || (Pixels.BytesPerPixel != 3 && Pixels.BytesPerPixel != 4) || w <= 0 || h <= 0) {
        Free();
        return;
    }
    auto noMemory = [&] {
        Free();
        throw EQelOutOfMemory("Not enough memory for the detail layer of a " + std::to_string(w) + " x " +
                              std::to_string(h) + " image");
    };
    const uint64_t count = uint64_t(w) * uint64_t(h) * 3;
    if (count > uint64_t(PTRDIFF_MAX) / sizeof(float) || count > MemoryLimit / sizeof(float)) noMemory();
    // A layer of the same size is overwritten in place.
    if (!Fits(Pixels)) {
        Free();
        FDetail = QelAllocateLargeArray<float>(size_t(count));
        if (!FDetail) noMemory();
        FWidth = w;
        FHeight = h;
    }

    try {
        Compute(Pixels, 0, h, 0, Threads, Progress);
    } catch (...) {
        Free();
        throw;
    }
    ++BuildCount;
}

void TQelDetailLayer::Rebuild(const TQelPixels& Pixels, const TQelRect& Changed, int32_t Threads,
                              const TProgress& Progress) {
    if (!Fits(Pixels) || !Pixels.Bits) {
        Build(Pixels, Threads, Progress);
        return;
    }
    // A changed pixel reaches the details of the pixels whose window holds
    // it: the rows below and above it, and along a row every column from
    // the window's width before it to the end, where the sum along the row
    // carries the change's rounding.
    const auto y0 = int32_t(std::clamp<int64_t>(int64_t(Changed.Top) - After, 0, FHeight));
    const auto y1 = int32_t(std::clamp<int64_t>(int64_t(Changed.Bottom) + Before, 0, FHeight));
    const auto x0 = int32_t(std::clamp<int64_t>(int64_t(Changed.Left) - After, 0, FWidth));
    try {
        Compute(Pixels, y0, y1, x0, Threads, Progress);
    } catch (...) {
        Free();
        throw;
    }
    ++BuildCount;
}

void TQelSpectrum::NoteChange(const TQelRect& Rect) {
    if (Rect.IsEmpty()) return;
    QelUnionRect(Dirty, Dirty, Rect);
}

void TQelSpectrum::NoteWholeChange() { WholeChanged = true; }

void TQelSpectrum::ClearChanges() {
    WholeChanged = false;
    Dirty = TQelRect();
}

void TQelSpectrum::Free() {
    Layer.Free();
    Stale = true;
    NoteWholeChange();
    FailureReported = false;
    Document = nullptr;
}

void BuildDetailLayer(const TQelPixels& Pixels) {
    TProgressMeter* meter = ProgressMeter;
    int32_t shown = 0;
    struct TEnd {
        TProgressMeter* Meter;
        ~TEnd() {
            if (Meter) Meter->Start(0);
        }
    } end{meter};
    auto progress = [&](int32_t Done, int32_t Total) {
        if (!meter) return;
        if (shown == 0) meter->Start(std::max(Total, 1));
        for (; shown < Done; ++shown) meter->Step();
    };
    TQelSpectrum& s = Spectrum;
    if (s.WholeChanged || !s.Layer.Fits(Pixels))
        s.Layer.Build(Pixels, 0, progress);
    else if (!s.Dirty.IsEmpty())
        s.Layer.Rebuild(Pixels, s.Dirty, 0, progress);
    s.ClearChanges();
    s.Stale = false;
    Spectrum.FailureReported = false;
}
