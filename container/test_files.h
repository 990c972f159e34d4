// Files for the tests: a private temporary folder and small real BMP pictures.
#pragma once

#include <cstdint>
#include <string>

// A fresh folder under the system's temporary folder, removed with all it holds.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path(const std::string& name) const { return root_ + "/" + name; }

private:
    std::string root_;
};

void WriteFile(const std::string& path, const std::string& bytes);
// The whole file, or "<missing>" when it cannot be opened.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// A real 24-bit BMP of the given size, its pixels a pattern drawn from `seed`,
// whose bfSize equals its length.
std::string MakeBmp(int width, int height, int seed);

// `bytes` with its bfSize field (offset 2) replaced by `size`.
std::string WithSizeField(std::string bytes, std::uint32_t size);

// `prefix` followed by a picture of `length` bytes that stays sparse past its
// signature and bfSize, so that a test can hold a huge piece without the disk space.
void WriteSparsePicture(const std::string& path, const std::string& prefix, std::uint32_t length);

// Caps the address space of the calling process, so that a buffer for a piece the
// input really holds cannot be had. Meant for a child process of a death test.
void CapAddressSpace(std::uint64_t bytes);
