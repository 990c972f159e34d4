// Runs one copy through the core on real files, for run_bench.py to time:
//   copy_bench combine FIRST SECOND OUTPUT
//   copy_bench get2nd INPUT OUTPUT
// Exits 0 only when the copy was saved.
#include <cstdio>
#include <cstring>
#include <fstream>

#include "container/holiday_lights.h"

namespace {

// Classifies first, as the run flow does, and extracts from the same open stream.
CopyResult GetSecond(const char* inputPath, const char* outputPath) {
    std::ifstream input(inputPath, std::ios::binary);
    if (!input.is_open())
        return CopyResult::InputUnopenable;
    if (ClassifyBmp(input) != HolidayLights)
        return CopyResult::InputDamaged;
    return ExtractSecondPicture(input, outputPath);
}

}  // namespace

int main(int argc, char** argv) {
    CopyResult result;
    if (argc == 5 && std::strcmp(argv[1], "combine") == 0) {
        result = CombinePictures(argv[2], argv[3], argv[4]);
    } else if (argc == 4 && std::strcmp(argv[1], "get2nd") == 0) {
        result = GetSecond(argv[2], argv[3]);
    } else {
        std::fprintf(stderr,
                     "usage: copy_bench combine FIRST SECOND OUTPUT | get2nd INPUT OUTPUT\n");
        return 2;
    }
    if (result == CopyResult::Saved)
        return 0;
    std::fprintf(stderr, "copy_bench: copy failed (result %d)\n", static_cast<int>(result));
    return 1;
}
