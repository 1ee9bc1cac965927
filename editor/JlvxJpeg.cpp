#include "JlvxJpeg.h"

#include <algorithm>
#include <cstdlib>

namespace {

TJlvxJpegError* ErrorOf(j_common_ptr c) { return reinterpret_cast<TJlvxJpegError*>(c->err); }

[[noreturn]] void ErrorExit(j_common_ptr c) {
    TJlvxJpegError* e = ErrorOf(c);
    (*c->err->format_message)(c, e->Message);
    std::longjmp(e->Jump, 1);
}

void EmitMessage(j_common_ptr c, int level) {
    if (level < 0) ErrorExit(c);
}

void OutputMessage(j_common_ptr) {}

void LimitScans(j_common_ptr c) {
    if (c->is_decompressor && reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > JlvxMaxScans)
        JlvxFailWith(c, "The JPEG file has too many scans.");
}

void InitDest(j_compress_ptr c) {
    TJlvxMemoryDest* d = reinterpret_cast<TJlvxMemoryDest*>(c->dest);
    if (!d->Data) {
        const size_t capacity = std::max<size_t>(65536, d->Capacity);
        d->Data = static_cast<unsigned char*>(std::malloc(capacity));
        if (!d->Data) JlvxFailWith(reinterpret_cast<j_common_ptr>(c), "Out of memory while writing the JPEG file.");
        d->Capacity = capacity;
    }
    d->Size = 0;
    d->Base.next_output_byte = d->Data;
    d->Base.free_in_buffer = d->Capacity;
}

boolean GrowDest(j_compress_ptr c) {
    TJlvxMemoryDest* d = reinterpret_cast<TJlvxMemoryDest*>(c->dest);
    const size_t used = d->Capacity;  // called only when the buffer is full
    unsigned char* grown = static_cast<unsigned char*>(std::realloc(d->Data, d->Capacity * 2));
    if (!grown) JlvxFailWith(reinterpret_cast<j_common_ptr>(c), "Out of memory while writing the JPEG file.");
    d->Data = grown;
    d->Capacity *= 2;
    d->Base.next_output_byte = d->Data + used;
    d->Base.free_in_buffer = d->Capacity - used;
    return TRUE;
}

void TermDest(j_compress_ptr c) {
    TJlvxMemoryDest* d = reinterpret_cast<TJlvxMemoryDest*>(c->dest);
    d->Size = d->Capacity - d->Base.free_in_buffer;
}

}  // namespace

void JlvxInitError(TJlvxJpegError& E) {
    jpeg_std_error(&E.Base);
    E.Base.error_exit = ErrorExit;
    E.Base.emit_message = EmitMessage;
    E.Base.output_message = OutputMessage;
    E.Progress = jpeg_progress_mgr();
    E.Progress.progress_monitor = LimitScans;
    E.Message[0] = '\0';
}

void JlvxFailWith(j_common_ptr C, const char* Text) {
    TJlvxJpegError* e = ErrorOf(C);
    std::snprintf(e->Message, sizeof e->Message, "%s", Text);
    std::longjmp(e->Jump, 1);
}

QString JlvxErrorText(const TJlvxJpegError& E) { return QString::fromUtf8(E.Message); }

TJlvxDecompress::~TJlvxDecompress() {
    if (Created) jpeg_destroy_decompress(&Info);
}

void TJlvxDecompress::Create(TJlvxJpegError& E, const unsigned char* Data, size_t Size) {
    Info.err = &E.Base;
    jpeg_create_decompress(&Info);
    Created = true;
    Info.progress = &E.Progress;
    jpeg_mem_src(&Info, Data, static_cast<unsigned long>(Size));
}

TJlvxCompress::~TJlvxCompress() {
    if (Created) jpeg_destroy_compress(&Info);
    std::free(Dest.Data);
}

void TJlvxCompress::Create(TJlvxJpegError& E) {
    Info.err = &E.Base;
    jpeg_create_compress(&Info);
    Created = true;
    Dest.Base.init_destination = InitDest;
    Dest.Base.empty_output_buffer = GrowDest;
    Dest.Base.term_destination = TermDest;
    Info.dest = &Dest.Base;
}

void JlvxSaveMarkers(j_decompress_ptr D) {
    jpeg_save_markers(D, JPEG_COM, 0xFFFF);
    for (int i = 0; i < 16; ++i) jpeg_save_markers(D, JPEG_APP0 + i, 0xFFFF);
}

void JlvxFileRows(j_decompress_ptr File, jvirt_barray_ptr Array, JDIMENSION Rows, std::vector<JBLOCKROW>& Out) {
    j_common_ptr common = reinterpret_cast<j_common_ptr>(File);
    Out.resize(Rows);
    for (JDIMENSION r = 0; r < Rows; ++r) Out[r] = (*File->mem->access_virt_barray)(common, Array, r, 1, TRUE)[0];
}
