#include "container/test_files.h"

#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

void PutLittleEndian(std::string& bytes, std::size_t offset, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i)
        bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tinselpair-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::ssize(bytes));
}

std::string ReadFile(const std::string& path) {
    std::ifstream input(path, std::ios::binary);
    if (!input)
        return "<missing>";
    return {std::istreambuf_iterator<char>(input), {}};
}

bool FileExists(const std::string& path) {
    return std::filesystem::exists(std::filesystem::symlink_status(path));
}

std::string MakeBmp(int width, int height, int seed) {
    const std::uint32_t rowSize = (3 * width + 3) / 4 * 4;
    const std::uint32_t pixelOffset = 14 + 40;
    const std::uint32_t length = pixelOffset + rowSize * height;
    std::string bytes(length, '\0');
    bytes[0] = 'B';
    bytes[1] = 'M';
    PutLittleEndian(bytes, 2, length, 4);
    PutLittleEndian(bytes, 10, pixelOffset, 4);
    PutLittleEndian(bytes, 14, 40, 4);  // BITMAPINFOHEADER
    PutLittleEndian(bytes, 18, width, 4);
    PutLittleEndian(bytes, 22, height, 4);
    PutLittleEndian(bytes, 26, 1, 2);   // planes
    PutLittleEndian(bytes, 28, 24, 2);  // bits per pixel
    PutLittleEndian(bytes, 34, rowSize * height, 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < 3 * width; ++x) {
            bytes[pixelOffset + y * rowSize + x] = static_cast<char>(seed * 37 + x * 11 + y * 7);
        }
    }
    return bytes;
}

std::string WithSizeField(std::string bytes, std::uint32_t size) {
    PutLittleEndian(bytes, 2, size, 4);
    return bytes;
}

void WriteSparsePicture(const std::string& path, const std::string& prefix, std::uint32_t length) {
    WriteFile(path, prefix + WithSizeField(std::string("BM\0\0\0\0", 6), length));
    std::filesystem::resize_file(path, prefix.size() + length);
}

void CapAddressSpace(std::uint64_t bytes) {
    const rlimit limit{bytes, bytes};
    if (setrlimit(RLIMIT_AS, &limit) != 0)
        throw std::runtime_error("setrlimit failed");
}
