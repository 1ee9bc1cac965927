#include "QelHelpers.h"

#include <cerrno>
#include <iconv.h>

// Rectangle arithmetic on 32-bit fields wraps like the platform's (through
// QelWrapInt32) instead of overflowing into undefined behaviour.

uint32_t MakeLocaleId(uint16_t langId, uint16_t sortId) { return (uint32_t(sortId) << 16) | langId; }

std::string QelCodePageName(uint16_t codePage) {
    switch (codePage) {
    case 0: return std::string();
    case 10000: return "MACINTOSH";
    case 10007: return "MAC-CYRILLIC";
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 20932: return "EUC-JP";
    case 51949: return "EUC-KR";
    case 54936: return "GB18030";
    case 28603: return "ISO-8859-13";
    case 28605: return "ISO-8859-15";
    case 65001: return "UTF-8";
    default: break;
    }
    if (codePage >= 28591 && codePage <= 28599) return "ISO-8859-" + std::to_string(codePage - 28590);
    // The Windows and OEM code pages carry the same numbers in iconv.
    return "CP" + std::to_string(codePage);
}

bool AnsiToWideCodePage(std::string_view text, uint16_t codePage, std::u16string& wide) {
    wide.clear();
    const std::string name = QelCodePageName(codePage);
    if (name.empty()) return false;
    iconv_t cd = iconv_open("UTF-16LE", name.c_str());
    if (cd == iconv_t(-1)) return false;
    if (text.empty()) {
        iconv_close(cd);
        return true;
    }

    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char buffer[4096];
    auto flushBuffer = [&](const char* end) {
        for (const char* p = buffer; p + 1 < end; p += 2)
            wide.push_back(char16_t(uint8_t(p[0]) | (uint16_t(uint8_t(p[1])) << 8)));
    };
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof(buffer);
        size_t r = iconv(cd, &in, &inLeft, &out, &outLeft);
        flushBuffer(out);
        if (r != size_t(-1)) continue;
        if (errno == E2BIG) continue;
        // An undefined or truncated byte sequence: one replacement character
        // per skipped byte, then go on with the rest.
        wide.push_back(u'\uFFFD');
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* out = buffer;
    size_t outLeft = sizeof(buffer);
    iconv(cd, nullptr, nullptr, &out, &outLeft);
    flushBuffer(out);
    iconv_close(cd);
    return true;
}

std::u16string ExtractFileTitle(std::u16string_view fileName) {
    size_t slash = fileName.rfind(u'/');
    std::u16string_view name = slash == std::u16string_view::npos ? fileName : fileName.substr(slash + 1);
    size_t dot = name.rfind(u'.');
    if (dot != std::u16string_view::npos) name = name.substr(0, dot);
    return std::u16string(name);
}

void SetPointXY(int32_t x, int32_t y, TQelPoint& point) {
    point.X = x;
    point.Y = y;
}

int RectRelation(const TQelRect& a, const TQelRect& b) {
    TQelRect common;
    if (!QelIntersectRect(common, a, b)) return 0;
    return common == a ? 2 : 1;
}

void InflateRectCopy(const TQelRect& r, int32_t dx, int32_t dy, TQelRect& result) {
    result = TQelRect(QelWrapInt32(int64_t(r.Left) - dx), QelWrapInt32(int64_t(r.Top) - dy), QelWrapInt32(int64_t(r.Right) + dx),
                      QelWrapInt32(int64_t(r.Bottom) + dy));
}

int32_t MulDivFloor(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return 0;
    const int64_t product = QelWrapInt32(int64_t(a) * int64_t(b));
    const int64_t q = product / c;
    const int64_t result = (q < 0 && product % c != 0) ? q - 1 : q;
    return QelWrapInt32(result);
}

void FitRectProportional(const TQelRect& source, const TQelRect& target, TQelRect& result) {
    int32_t sw = QelWrapInt32(int64_t(source.Right) - source.Left);
    int32_t sh = QelWrapInt32(int64_t(source.Bottom) - source.Top);
    if (sw == 0) sw = 1;
    if (sh == 0) sh = 1;
    const int32_t tw = QelWrapInt32(int64_t(target.Right) - target.Left);
    const int32_t th = QelWrapInt32(int64_t(target.Bottom) - target.Top);
    if (double(th) / double(sh) > double(tw) / double(sw)) {
        const int32_t h = MulDivFloor(sh, tw, sw);
        const int32_t top = QelWrapInt32(target.Top + (int64_t(th) - h) / 2);
        result = TQelRect(target.Left, top, target.Right, QelWrapInt32(int64_t(top) + h));
    } else {
        const int32_t w = MulDivFloor(sw, th, sh);
        const int32_t left = QelWrapInt32(target.Left + (int64_t(tw) - w) / 2);
        result = TQelRect(left, target.Top, QelWrapInt32(int64_t(left) + w), target.Bottom);
    }
}

void CenterRectIn(const TQelRect& r, const TQelRect& target, TQelRect& result) {
    const int32_t left = QelWrapInt32((int64_t(target.Left) + target.Right) / 2 - (int64_t(r.Left) + r.Right) / 2);
    const int32_t top = QelWrapInt32((int64_t(target.Top) + target.Bottom) / 2 - (int64_t(r.Top) + r.Bottom) / 2);
    result = TQelRect(left, top, QelWrapInt32(int64_t(left) + (int64_t(r.Right) - r.Left)),
                      QelWrapInt32(int64_t(top) + (int64_t(r.Bottom) - r.Top)));
}
