#include "container/holiday_lights.h"

#include <cstddef>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <new>

namespace {

// A piece too short to hold its own signature and size field is no picture.
constexpr std::int64_t kMinPieceSize = 6;

// The bytes of one picture, from its signature up to its declared end.
struct Piece {
    std::unique_ptr<char[]> bytes;
    std::int64_t size = 0;
};

bool IsSignature(const char bytes[2]) {
    return bytes[0] == 'B' && bytes[1] == 'M';
}

// Returns -1 when the length cannot be told.
std::int64_t InputLength(std::istream& input) {
    input.seekg(0, std::ios::end);
    return input.tellg();
}

// The declared size of the picture that starts at `start`, or nothing when the piece
// cannot be cut honestly: a size field cut short, a size under 6 (negative ones
// included), or one that runs past the end of the input. Offsets are 64-bit so that
// a size near 0x7FFFFFFF plus its start cannot wrap. Measuring the input before any
// buffer is taken means a header that lies costs no memory.
std::optional<std::int64_t> PieceSize(std::istream& input, std::int64_t start) {
    const auto declared = ReadSizeField(input, start + 2);
    if (!declared || *declared < kMinPieceSize)
        return std::nullopt;
    if (start + *declared > InputLength(input))
        return std::nullopt;
    return *declared;
}

CopyResult ReadPiece(std::istream& input, std::int64_t start, Piece& piece) {
    const auto size = PieceSize(input, start);
    if (!size)
        return CopyResult::InputDamaged;
    // Deliberately not zero-filled: the read below fills every byte that is ever
    // written, and clearing up to 2 GiB first would be a wasted pass.
    piece.bytes.reset(new (std::nothrow) char[static_cast<std::size_t>(*size)]);
    if (!piece.bytes)
        return CopyResult::TooLargeForMemory;
    piece.size = *size;
    input.seekg(start);
    input.read(piece.bytes.get(), static_cast<std::streamsize>(*size));
    // The file may have shrunk since it was measured: never write bytes not read.
    return input.gcount() == *size ? CopyResult::Saved : CopyResult::InputDamaged;
}

CopyResult ReadPieceFromFile(const char* path, Piece& piece) {
    std::ifstream input(path, std::ios::binary);
    if (!input.is_open())
        return CopyResult::InputUnopenable;
    return ReadPiece(input, 0, piece);
}

// Creates (or empties) the output only now, when every piece is already in memory.
CopyResult WritePieces(const char* outputPath, std::initializer_list<const Piece*> pieces) {
    std::ofstream output(outputPath, std::ios::binary | std::ios::trunc);
    if (!output.is_open())
        return CopyResult::OutputUnwritable;
    for (const Piece* piece : pieces) {
        output.write(piece->bytes.get(), static_cast<std::streamsize>(piece->size));
    }
    // Buffered bytes reach the file only on close, so a full disk may show only here.
    output.close();
    return output ? CopyResult::Saved : CopyResult::OutputUnwritable;
}

}  // namespace

std::optional<std::int32_t> ReadSizeField(std::istream& input, std::int64_t offset) {
    unsigned char bytes[4];
    input.seekg(offset);
    if (!input.read(reinterpret_cast<char*>(bytes), sizeof bytes))
        return std::nullopt;
    const std::uint32_t value = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
    // bfSize is taken as signed: stored values of 0x80000000 and more are negative.
    return static_cast<std::int32_t>(value);
}

BmpKind ClassifyBmp(std::istream& input) {
    char signature[2];
    input.seekg(0);
    if (!input.read(signature, sizeof signature) || !IsSignature(signature))
        return NotBmp;
    const auto size = ReadSizeField(input, 2);
    if (!size || *size < 0)
        return Regular;
    // A read that stops after one byte leaves the zero in the second.
    char next[2] = {};
    input.seekg(*size);
    input.read(next, sizeof next);
    return IsSignature(next) ? HolidayLights : Regular;
}

CopyResult CombinePictures(const char* firstPath, const char* secondPath, const char* outputPath) {
    Piece first;
    Piece second;
    CopyResult result = ReadPieceFromFile(firstPath, first);
    if (result == CopyResult::Saved)
        result = ReadPieceFromFile(secondPath, second);
    if (result != CopyResult::Saved)
        return result;
    return WritePieces(outputPath, {&first, &second});
}

CopyResult ExtractSecondPicture(std::istream& input, const char* outputPath) {
    const auto firstSize = PieceSize(input, 0);
    if (!firstSize)
        return CopyResult::InputDamaged;
    Piece second;
    const CopyResult result = ReadPiece(input, *firstSize, second);
    if (result != CopyResult::Saved)
        return result;
    return WritePieces(outputPath, {&second});
}
