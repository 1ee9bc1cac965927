// Merging a save: the MCUs whose pixels changed are encoded from the pixels
// with the file's tables and sampling, and their blocks take the place of
// the file's in the blocks kept; every other MCU keeps the file's blocks
// bit for bit.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

#include "JlvxJpeg.h"
#include "JlvxRead.h"
#include "JlvxTransform.h"

// Writes W x H pixels as MCUs of the file turned by O: MCU (i, j) whose
// Changed flag is clear takes the blocks of the oriented file's MCU (i + Oi,
// j + Oj) as they are; the flagged MCUs are encoded from the pixels with the
// file's tables and sampling. Encoded is the number of flagged MCUs; when
// every MCU is flagged nothing is written (false with AllChanged set: a
// whole encode is the file for that).
bool JlvxMergeBlocks(TJlvxFileBlocks& File, const TJlvxOrientation& O, const TJlvxPixelRows& Pixels, int32_t W,
                     int32_t H, int32_t Bw, int32_t Bh, int32_t Oi, int32_t Oj, std::vector<uint8_t>& Changed,
                     int32_t Cols, int32_t Rows, size_t SizeHint, int32_t& Encoded, bool& AllChanged,
                     TJlvxCompress& Out, QString& Error);
