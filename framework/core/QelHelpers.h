// Plain routines shared by views, dialogs, thumbnails and tutorials:
// rectangles, integer scaling, file names and code-page conversion.
//
// Rectangles keep right and bottom exclusive; "div" is C++ integer division
// (truncating toward zero).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "QelGeometry.h"

// The platform's locale id: SortId in the high word, LangId in the low word.
uint32_t MakeLocaleId(uint16_t langId, uint16_t sortId);

// The iconv name of a Windows code page number ("CP1251", "KOI8-R", ...);
// empty for 0.
std::string QelCodePageName(uint16_t codePage);

// Converts 8-bit text in the given code page to UTF-16. Bytes the code page
// does not define become U+FFFD. Returns false (and an empty result) when the
// code page is unknown to the converter; an empty text gives an empty result
// and true. No normalisation happens here: the Qt side composes the result
// where precomposed characters matter.
bool AnsiToWideCodePage(std::string_view text, uint16_t codePage, std::u16string& wide);

// The file name without its directory and without the part from its last "."
// on; the whole name when it has no ".".
std::u16string ExtractFileTitle(std::u16string_view fileName);

void SetPointXY(int32_t x, int32_t y, TQelPoint& point);

// 0: A and B do not overlap (touching edges do not count); 2: A lies wholly
// inside B; 1: otherwise.
int RectRelation(const TQelRect& a, const TQelRect& b);

// R grown by DX on the left and right and by DY on the top and bottom.
void InflateRectCopy(const TQelRect& r, int32_t dx, int32_t dy, TQelRect& result);

// (A * B) div C with the product wrapped to 32 bits; a negative quotient that
// leaves a remainder is lowered by one, so a true quotient between -1 and 0
// gives 0. A zero divisor gives 0.
int32_t MulDivFloor(int32_t a, int32_t b, int32_t c);

// The largest rectangle with Source's proportions inside Target, centred. A
// source width or height of 0 counts as 1.
void FitRectProportional(const TQelRect& source, const TQelRect& target, TQelRect& result);

// A rectangle of R's size centred in Target (R normally lies at the origin).
void CenterRectIn(const TQelRect& r, const TQelRect& target, TQelRect& result);
