// libjpeg under a guard, for every stage of the lossless session: an error
// manager that jumps back instead of ending the process, the decompressor
// and compressor objects that clean up after themselves, a memory
// destination the session keeps owning, and the block rows a save writes.
#pragma once

#include <QByteArray>
#include <QString>

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

// Progressive files with absurd numbers of scans take minutes to read.
constexpr int JlvxMaxScans = 500;

// libjpeg's own error handler ends the process; this one jumps back to the
// guard around the calls. Warnings count as errors too: a stream that
// libjpeg had to patch up is not one whose blocks may be kept.
struct TJlvxJpegError {
    jpeg_error_mgr Base;
    jpeg_progress_mgr Progress;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void JlvxInitError(TJlvxJpegError& E);
[[noreturn]] void JlvxFailWith(j_common_ptr C, const char* Text);
QString JlvxErrorText(const TJlvxJpegError& E);

// Runs Body and answers false when libjpeg reported an error inside it.
// Body declares nothing with a destructor: the jump would skip it. Every
// libjpeg object used inside shares the one error manager, so an error in
// any of them lands here.
template <class F>
bool JlvxGuarded(TJlvxJpegError& E, F&& Body) {
    if (setjmp(E.Jump)) return false;
    Body();
    return true;
}

// An output buffer that stays owned by us when libjpeg gives up halfway.
struct TJlvxMemoryDest {
    jpeg_destination_mgr Base;
    unsigned char* Data = nullptr;
    // Before the first write: the size to start with.
    size_t Capacity = 0;
    size_t Size = 0;
};

struct TJlvxDecompress {
    jpeg_decompress_struct Info{};
    bool Created = false;
    TJlvxDecompress() = default;
    TJlvxDecompress(const TJlvxDecompress&) = delete;
    TJlvxDecompress& operator=(const TJlvxDecompress&) = delete;
    ~TJlvxDecompress();
    void Create(TJlvxJpegError& E, const unsigned char* Data, size_t Size);
    void Create(TJlvxJpegError& E, const QByteArray& Data) {
        Create(E, reinterpret_cast<const unsigned char*>(Data.constData()), size_t(Data.size()));
    }
};

struct TJlvxCompress {
    jpeg_compress_struct Info{};
    TJlvxMemoryDest Dest{};
    bool Created = false;
    TJlvxCompress() = default;
    TJlvxCompress(const TJlvxCompress&) = delete;
    TJlvxCompress& operator=(const TJlvxCompress&) = delete;
    ~TJlvxCompress();
    void Create(TJlvxJpegError& E);
    QByteArray Bytes() const {
        return QByteArray::fromRawData(reinterpret_cast<const char*>(Dest.Data), qsizetype(Dest.Size));
    }
};

// The comments and application markers (metadata, colour profile) are kept.
void JlvxSaveMarkers(j_decompress_ptr D);

// The caller's 24-bit rows.
struct TJlvxPixelRows {
    const uint8_t* Bits;
    ptrdiff_t Stride;
    const uint8_t* Row(int32_t y) const { return Bits + ptrdiff_t(y) * Stride; }
};

// One component's block rows as a save writes them: row R of the saved
// image's blocks starts at Rows[R], wherever that lies (the file's own
// arrays, shifted by a crop, or a transformed copy). MaxAccess is the most
// rows the writer may take at once, as libjpeg's arrays limit it.
struct TJlvxBlockRows {
    std::vector<JBLOCKROW> Rows;
    JDIMENSION MaxAccess = 1;
};

// The blocks of every component, handed to the writer in place of libjpeg's
// own arrays.
struct TJlvxBlockImage {
    int Components = 0;
    TJlvxBlockRows Component[MAX_COMPONENTS];
};

// The rows of the file's array of component K, each once, for a stage
// that reads or changes them in place. Runs under the guard of File.
void JlvxFileRows(j_decompress_ptr File, jvirt_barray_ptr Array, JDIMENSION Rows, std::vector<JBLOCKROW>& Out);
