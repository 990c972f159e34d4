// The holiday lights BMP file: two BMP pictures stored back to back.
//
//   offset 0   the first picture, S1 bytes, a complete BMP whose bfSize is S1
//   offset S1  the second picture, S2 bytes, "BM" at S1 and its own bfSize at S1 + 2
//
// Of a picture only the signature "BM" at offset 0 and the 32-bit little-endian
// bfSize at offset 2 are read; neither header is ever altered. The second picture
// is found only by following the first picture's bfSize.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>

enum BmpKind {
    NotBmp = 0,         // the file does not begin with "BM"
    Regular = 1,        // "BM" at 0, none at the offset that bfSize names
    HolidayLights = 2,  // "BM" at 0 and again at the offset that bfSize names
};

// The outcome of a copy. Whenever it is not Saved, the output path was neither
// created nor emptied, except for OutputUnwritable, where the output may hold
// part of what was to be written.
enum class CopyResult {
    Saved,
    InputUnopenable,    // an input path can no longer be opened
    InputDamaged,       // a size field is cut short, under 6, or beyond the input's end
    TooLargeForMemory,  // the input holds the piece, but no buffer for it can be had
    OutputUnwritable,   // the output cannot be created, or a write to it failed
};

// Seeks to `offset` and reads the 4 bytes there as a signed little-endian size.
// Returns nothing when fewer than 4 bytes could be read; the stream is then failed.
std::optional<std::int32_t> ReadSizeField(std::istream& input, std::int64_t offset);

// Sorts a file into the three kinds by reading at most 8 bytes. Trusts bfSize as
// the format requires: a size of 0 points back at the file's own signature and so
// makes the file HolidayLights. The stream's position is moved, and it may be left
// failed unless the result is HolidayLights.
BmpKind ClassifyBmp(std::istream& input);

// Writes the first S1 bytes of `firstPath` followed by the first S2 bytes of
// `secondPath` to `outputPath`. Both pieces are read whole before the output is
// created, so the output may be one of the inputs.
CopyResult CombinePictures(const char* firstPath, const char* secondPath, const char* outputPath);

// Writes the second picture of a HolidayLights `input`, exactly as its own bfSize
// delimits it, to `outputPath`. The piece is read whole before the output is
// created, so the output may be the input's own file. `input` is left open.
CopyResult ExtractSecondPicture(std::istream& input, const char* outputPath);
