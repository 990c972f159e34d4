#include "container/holiday_lights.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "container/test_files.h"

namespace {

using namespace std::string_literals;

const std::string kA = MakeBmp(3, 2, 1);  // 3*3 bytes padded to 12 per row: 78 bytes
const std::string kB = MakeBmp(5, 3, 2);

// Classifies `bytes` through a real file stream, as the program does: unlike a string
// stream, it accepts a seek past the end and fails only at the read that follows.
BmpKind Classify(const std::string& bytes) {
    const TempDir dir;
    WriteFile(dir.Path("file.bmp"), bytes);
    std::ifstream input(dir.Path("file.bmp"), std::ios::binary);
    return ClassifyBmp(input);
}

TEST(ReadSizeField, ReadsSignedLittleEndianAtAnyOffset) {
    std::istringstream input("xxBM\x01\x02\x03\x04\xff\xff\xff\xff"s);
    EXPECT_EQ(ReadSizeField(input, 4), 0x04030201);
    EXPECT_EQ(ReadSizeField(input, 8), -1);
    EXPECT_EQ(ReadSizeField(input, 9), std::nullopt);
}

TEST(ClassifyBmp, SortsEveryShapeOfFile) {
    const struct {
        const char* name;
        std::string bytes;
        BmpKind kind;
    } cases[] = {
        {"empty", "", NotBmp},
        {"one byte B", "B", NotBmp},
        {"lower case", "bm" + kA.substr(2), NotBmp},
        {"reversed", "MB" + kA.substr(2), NotBmp},
        {"B then not M", "BX" + kA.substr(2), NotBmp},
        {"signature alone", "BM", Regular},
        {"size field cut short", "BM\0\0"s, Regular},
        {"five bytes", "BM\0\0\0"s, Regular},
        {"bfSize equals length", kA, Regular},
        {"bfSize 0 points at its own signature", WithSizeField(kA, 0), HolidayLights},
        {"bfSize 1 reads M and a size byte", WithSizeField(kA, 1), Regular},
        {"bfSize negative", WithSizeField(kA, 0x80000000), Regular},
        {"bfSize 0xFFFFFFFF", WithSizeField(kA, 0xFFFFFFFF), Regular},
        {"bfSize past the end", WithSizeField(kA, 5000), Regular},
        {"one byte B at bfSize", kA + "B", Regular},
        {"BM appended", kA + "BM", HolidayLights},
        {"two pictures", kA + kB, HolidayLights},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Classify(c.bytes), c.kind);
    }
}

TEST(ClassifyBmp, LeavesAHolidayLightsStreamGood) {
    std::istringstream input(kA + kB);
    ASSERT_EQ(ClassifyBmp(input), HolidayLights);
    EXPECT_TRUE(input.good());
}

class CopyTest : public ::testing::Test {
protected:
    std::string Put(const std::string& name, const std::string& bytes) {
        WriteFile(dir.Path(name), bytes);
        return dir.Path(name);
    }
    CopyResult Extract(const std::string& inputPath, const std::string& outputPath) {
        std::ifstream input(inputPath, std::ios::binary);
        EXPECT_EQ(ClassifyBmp(input), HolidayLights);
        return ExtractSecondPicture(input, outputPath.c_str());
    }
    CopyResult Combine(const std::string& first, const std::string& second,
                       const std::string& output) {
        return CombinePictures(first.c_str(), second.c_str(), output.c_str());
    }

    TempDir dir;
};

TEST_F(CopyTest, CombineThenExtractRoundTrips) {
    const std::string out = dir.Path("out.bmp");
    ASSERT_EQ(Combine(Put("a.bmp", kA), Put("b.bmp", kB), out), CopyResult::Saved);
    EXPECT_EQ(ReadFile(out), kA + kB);

    const std::string second = dir.Path("second.bmp");
    ASSERT_EQ(Extract(out, second), CopyResult::Saved);
    EXPECT_EQ(ReadFile(second), kB);
}

TEST_F(CopyTest, BytesPastADeclaredEndAreDropped) {
    const std::string out = dir.Path("out.bmp");
    ASSERT_EQ(Combine(Put("a.bmp", kA + "trailing"), Put("b.bmp", kB + "BMtrailing"), out),
              CopyResult::Saved);
    EXPECT_EQ(ReadFile(out), kA + kB);

    const std::string second = dir.Path("second.bmp");
    ASSERT_EQ(Extract(Put("pair.bmp", kA + kB + "BM more"), second), CopyResult::Saved);
    EXPECT_EQ(ReadFile(second), kB);
}

TEST_F(CopyTest, CombinesAPictureWithItself) {
    const std::string a = Put("a.bmp", kA);
    ASSERT_EQ(Combine(a, a, dir.Path("out.bmp")), CopyResult::Saved);
    EXPECT_EQ(ReadFile(dir.Path("out.bmp")), kA + kA);
}

TEST_F(CopyTest, OutputMayBeAnInput) {
    for (int target : {0, 1}) {
        SCOPED_TRACE(target);
        const std::string a = Put("a.bmp", kA);
        const std::string b = Put("b.bmp", kB);
        ASSERT_EQ(Combine(a, b, target == 0 ? a : b), CopyResult::Saved);
        EXPECT_EQ(ReadFile(target == 0 ? a : b), kA + kB);
    }

    const std::string pair = Put("pair.bmp", kA + kB);
    ASSERT_EQ(Extract(pair, pair), CopyResult::Saved);
    EXPECT_EQ(ReadFile(pair), kB);
}

// Pictures that cannot be cut honestly. Each leaves an existing output as it was
// and creates no new one.
TEST_F(CopyTest, DamagedInputsWriteNothing) {
    const std::string kExisting = "existing output bytes";
    // Regular files that Combine must refuse when it copies them.
    const struct {
        const char* name;
        std::string bytes;
    } combineCases[] = {
        {"size field cut short", "BM\x10\0"s},
        {"five bytes", "BM\x10\0\0"s},
        {"negative size", WithSizeField(kA, 0x80000000)},
        {"size under 6", "BM\x05\0\0\0\0\0"s},
        {"size past the end", WithSizeField(kA, 5000)},
        {"100 bytes declaring 2 GiB", WithSizeField("BM" + std::string(98, 'x'), 0x7FFFFFFF)},
    };
    for (const auto& c : combineCases) {
        for (bool damagedFirst : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (damagedFirst ? " first" : " second"));
            ASSERT_EQ(Classify(c.bytes), Regular);
            const std::string damaged = Put("damaged.bmp", c.bytes);
            const std::string good = Put("good.bmp", kA);
            const std::string existing = Put("existing.bmp", kExisting);
            const std::string fresh = dir.Path("fresh.bmp");
            const auto& [first, second] =
                damagedFirst ? std::pair(damaged, good) : std::pair(good, damaged);
            EXPECT_EQ(Combine(first, second, existing), CopyResult::InputDamaged);
            EXPECT_EQ(ReadFile(existing), kExisting);
            EXPECT_EQ(Combine(first, second, fresh), CopyResult::InputDamaged);
            EXPECT_FALSE(FileExists(fresh));
        }
    }

    // Holiday lights files that Get 2nd must refuse.
    const struct {
        const char* name;
        std::string bytes;
    } extractCases[] = {
        {"first size 0 points at its own signature", WithSizeField(kA + kB, 0)},
        {"second size field cut short", kA + "BM\x10\0"s},
        {"second size under 6", kA + "BM\x04\0\0\0"s},
        {"second size negative", kA + WithSizeField(kB, 0xFFFFFFF0)},
        {"second picture cut short", kA + kB.substr(0, kB.size() - 1)},
        {"second size near 2 GiB", kA + WithSizeField(kB, 0x7FFFFFFF)},
    };
    for (const auto& c : extractCases) {
        SCOPED_TRACE(c.name);
        const std::string input = Put("pair.bmp", c.bytes);
        const std::string existing = Put("existing.bmp", kExisting);
        const std::string fresh = dir.Path("fresh.bmp");
        EXPECT_EQ(Extract(input, existing), CopyResult::InputDamaged);
        EXPECT_EQ(ReadFile(existing), kExisting);
        EXPECT_EQ(Extract(input, fresh), CopyResult::InputDamaged);
        EXPECT_FALSE(FileExists(fresh));
        EXPECT_EQ(Extract(input, input), CopyResult::InputDamaged);
        EXPECT_EQ(ReadFile(input), c.bytes);
    }
}

// The first picture ends just short of 2 GiB, so the second picture's size field
// stands past 0x7FFFFFFF: an offset computed in 32 bits would wrap there.
TEST_F(CopyTest, ExtractsASecondPictureBeyond2GiB) {
    const std::string far = dir.Path("far.bmp");
    WriteSparsePicture(far, "", 0x7FFFFFFE);
    std::ofstream(far, std::ios::binary | std::ios::app) << "BM\x06\0\0\0"s;
    const std::string out = dir.Path("out.bmp");
    ASSERT_EQ(Extract(far, out), CopyResult::Saved);
    EXPECT_EQ(ReadFile(out), "BM\x06\0\0\0"s);
}

// A file that shrinks between being measured and being read: a seek to its end
// finds all of `bytes`, but no read gets past the first `readable` of them.
class ShrinkingFile : public std::stringbuf {
public:
    ShrinkingFile(const std::string& bytes, std::streamsize readable)
        : std::stringbuf(bytes, std::ios::in), readable_(readable) {}

protected:
    std::streamsize xsgetn(char* out, std::streamsize count) override {
        const std::streamsize left = std::max<std::streamsize>(0, readable_ - (gptr() - eback()));
        return std::stringbuf::xsgetn(out, std::min(count, left));
    }

private:
    std::streamsize readable_;
};

TEST_F(CopyTest, InputThatShrinksWhileReadWritesNothing) {
    const std::string pair = kA + kB;
    ShrinkingFile file(pair, std::ssize(pair) - 10);
    std::istream input(&file);
    ASSERT_EQ(ClassifyBmp(input), HolidayLights);
    const std::string out = dir.Path("out.bmp");
    EXPECT_EQ(ExtractSecondPicture(input, out.c_str()), CopyResult::InputDamaged);
    EXPECT_FALSE(FileExists(out));
}

TEST_F(CopyTest, VanishedInputWritesNothing) {
    const std::string out = dir.Path("out.bmp");
    EXPECT_EQ(Combine(Put("a.bmp", kA), dir.Path("gone.bmp"), out), CopyResult::InputUnopenable);
    EXPECT_EQ(Combine(dir.Path("gone.bmp"), Put("b.bmp", kB), out), CopyResult::InputUnopenable);
    EXPECT_FALSE(FileExists(out));
}

TEST_F(CopyTest, FailedWritesAreReported) {
    const std::string full = dir.Path("full.bmp");
    std::filesystem::create_symlink("/dev/full", full);
    const std::string inVanishedFolder = dir.Path("vanished/out.bmp");
    const std::string a = Put("a.bmp", kA);
    const std::string pair = Put("pair.bmp", kA + kB);
    for (const std::string& out : {full, inVanishedFolder}) {
        SCOPED_TRACE(out);
        EXPECT_EQ(Combine(a, a, out), CopyResult::OutputUnwritable);
        EXPECT_EQ(Extract(pair, out), CopyResult::OutputUnwritable);
    }
}

// Runs `copy` in a child process whose address space is capped at 512 MiB, far
// below the 1.5 GiB pieces these tests' inputs hold, and expects `result` from it.
template <typename Copy>
void ExpectInSmallAddressSpace(Copy copy, CopyResult result) {
    EXPECT_EXIT(
        {
            CapAddressSpace(512u << 20);
            _exit(static_cast<int>(copy()));
        },
        ::testing::ExitedWithCode(static_cast<int>(result)), "");
}

TEST_F(CopyTest, PieceBeyondMemoryWritesNothing) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer reserves more address space than the cap allows";
#endif
    constexpr std::uint32_t kBig = 1536u << 20;
    const std::string big = dir.Path("big.bmp");
    WriteSparsePicture(big, "", kBig);
    const std::string pair = dir.Path("pair.bmp");
    WriteSparsePicture(pair, kA, kBig);
    const std::string a = Put("a.bmp", kA);
    const std::string existing = Put("existing.bmp", "existing");

    ExpectInSmallAddressSpace([&] { return Combine(a, big, existing); },
                              CopyResult::TooLargeForMemory);
    ExpectInSmallAddressSpace([&] { return Extract(pair, existing); },
                              CopyResult::TooLargeForMemory);
    EXPECT_EQ(ReadFile(existing), "existing");

    // A header that claims more than the file holds is found out before any buffer
    // is taken, so it is damage, not a lack of memory.
    const std::string liar = Put("liar.bmp", WithSizeField(kA, kBig));
    ExpectInSmallAddressSpace([&] { return Combine(a, liar, existing); }, CopyResult::InputDamaged);
}

}  // namespace
