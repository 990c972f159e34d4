#include "run/run_flow.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "container/test_files.h"
#include "run/front_end.h"
#include "run/message_box.h"

namespace {

// What the scripted user answers. An empty path cancels that dialog; a dialog the
// script does not expect fails the test.
struct Script {
    int answer = IDCANCEL;
    std::vector<std::string> inputs;
    std::optional<std::string> output;
    std::function<void()> beforeOutputDialog = [] {};

    std::size_t inputDialogsShown = 0;
    int outputDialogsShown = 0;
};

Script g_script;

void SetScript(int answer, std::vector<std::string> inputs = {},
               std::optional<std::string> output = {}) {
    g_script = Script{};
    g_script.answer = answer;
    g_script.inputs = std::move(inputs);
    g_script.output = std::move(output);
}

bool Answer(PathBuffer& buffer, const std::string& path) {
    EXPECT_EQ(buffer[0], '\0') << "the buffer is emptied before its dialog";
    std::snprintf(buffer, std::size(buffer), "%s", path.c_str());
    return !path.empty();
}

}  // namespace

int AskAction(const char* text, const char* caption, unsigned type) {
    EXPECT_STREQ(text, "What would you like to do?");
    EXPECT_STREQ(caption, "o_O");
    EXPECT_EQ(type, MB_YESNOCANCEL);
    return g_script.answer;
}

bool ChooseInputFile(PathBuffer& buffer) {
    if (g_script.inputDialogsShown == g_script.inputs.size()) {
        ADD_FAILURE() << "an input dialog the script does not expect";
        return false;
    }
    return Answer(buffer, g_script.inputs[g_script.inputDialogsShown++]);
}

bool ChooseOutputFile(PathBuffer& buffer) {
    ++g_script.outputDialogsShown;
    g_script.beforeOutputDialog();
    if (!g_script.output) {
        ADD_FAILURE() << "an output dialog the script does not expect";
        return false;
    }
    return Answer(buffer, *g_script.output);
}

namespace {

constexpr const char* kCombined = "Combined Picture Successfully Saved! (Hopefully) =p";
constexpr const char* kExtracted = "Second Picture Successfully Saved! (Hopefully) =p";
constexpr const char* kNoInput = "No Input File Selected";
constexpr const char* kCannotOpen = "Could not open input file :(";
constexpr const char* kDamaged = "Input file is damaged :(";
constexpr const char* kUnwritable = "Could not write output file :(";
constexpr const char* kMissing = "<missing>";  // what ReadFile gives for an absent file

const std::string kA = MakeBmp(4, 3, 1);
const std::string kB = MakeBmp(2, 5, 2);

class RunFlowTest : public ::testing::Test {
protected:
    RunFlowTest() {
        WriteFile(a, kA);
        WriteFile(b, kB);
        WriteFile(pair, kA + kB);
        WriteFile(text, "hello, not a picture");
        WriteFile(zeroSize, WithSizeField(kA + kB, 0));
        WriteFile(cutShort, "BM\x10\0");
        std::filesystem::create_symlink("/dev/full", full);
    }

    TempDir dir;
    const std::string a = dir.Path("a.bmp");
    const std::string b = dir.Path("b.bmp");
    const std::string pair = dir.Path("pair.bmp");
    const std::string text = dir.Path("text.txt");
    const std::string zeroSize = dir.Path("zero.bmp");
    const std::string cutShort = dir.Path("short.bmp");
    const std::string full = dir.Path("full.bmp");
    const std::string missing = dir.Path("missing.bmp");
    const std::string out = dir.Path("out.bmp");
};

TEST_F(RunFlowTest, QuitEndsWithNoMessageAndNoDialog) {
    for (int answer : {IDCANCEL, 0, 1}) {
        SCOPED_TRACE(answer);
        SetScript(answer);
        EXPECT_EQ(RunFlow(), nullptr);
        EXPECT_EQ(g_script.inputDialogsShown, 0u);
        EXPECT_EQ(g_script.outputDialogsShown, 0);
    }
}

TEST_F(RunFlowTest, EveryAnswerEndsWithItsMessage) {
    const struct {
        const char* name;
        int answer;
        std::vector<std::string> inputs;
        std::optional<std::string> output;  // nullopt: no output dialog may be shown
        const char* message;
        std::optional<std::string> outputBytes;  // what `out` holds afterwards
    } cases[] = {
        {"combine", IDYES, {a, b}, out, kCombined, kA + kB},
        {"combine, trailing bytes dropped", IDYES, {pair + ".t", b}, out, kCombined, kA + kB},
        {"combine a picture with itself", IDYES, {a, a}, out, kCombined, kA + kA},
        {"combine, first dialog cancelled", IDYES, {""}, {}, kNoInput, kMissing},
        {"combine, second dialog cancelled", IDYES, {a, ""}, {}, kNoInput, kMissing},
        {"combine, output dialog cancelled",
         IDYES,
         {a, b},
         "",
         "No Output File Selected",
         kMissing},
        {"combine, first unopenable", IDYES, {missing}, {}, kCannotOpen, kMissing},
        {"combine, second unopenable", IDYES, {a, missing}, {}, kCannotOpen, kMissing},
        {"combine, first not a BMP", IDYES, {text}, {}, "Not a valid BMP file", kMissing},
        {"combine, second not a BMP", IDYES, {a, text}, {}, "Not a valid BMP file", kMissing},
        {"combine, first holiday lights",
         IDYES,
         {pair},
         {},
         "Already a valid holiday lights BMP file",
         kMissing},
        {"combine, second holiday lights",
         IDYES,
         {a, pair},
         {},
         "Already a valid holiday lights BMP file",
         kMissing},
        {"combine, size 0 is holiday lights",
         IDYES,
         {zeroSize},
         {},
         "Already a valid holiday lights BMP file",
         kMissing},
        {"combine, size field cut short", IDYES, {a, cutShort}, out, kDamaged, kMissing},
        {"combine into a full disk", IDYES, {a, b}, full, kUnwritable, std::nullopt},
        {"get 2nd", IDNO, {pair}, out, kExtracted, kB},
        {"get 2nd, dialog cancelled", IDNO, {""}, {}, kNoInput, kMissing},
        {"get 2nd, output dialog cancelled", IDNO, {pair}, "", "No Output File Selected", kMissing},
        {"get 2nd, unopenable", IDNO, {missing}, {}, kCannotOpen, kMissing},
        {"get 2nd, regular BMP", IDNO, {a}, {}, "Regular BMP file", kMissing},
        {"get 2nd, not a BMP", IDNO, {text}, {}, "Not a valid holiday lights BMP file", kMissing},
        {"get 2nd, first size 0", IDNO, {zeroSize}, out, kDamaged, kMissing},
        {"get 2nd into a full disk", IDNO, {pair}, full, kUnwritable, std::nullopt},
    };
    WriteFile(pair + ".t", kA + "tail" + kB);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(out);
        SetScript(c.answer, c.inputs, c.output);
        const char* message = RunFlow();
        EXPECT_STREQ(message, c.message);
        EXPECT_EQ(g_script.inputDialogsShown, c.inputs.size());
        EXPECT_EQ(g_script.outputDialogsShown, c.output ? 1 : 0);
        if (c.outputBytes) {
            EXPECT_EQ(ReadFile(out), *c.outputBytes);
        }
    }
}

TEST_F(RunFlowTest, OutputMayBeAnInput) {
    SetScript(IDYES, {a, b}, b);
    EXPECT_STREQ(RunFlow(), kCombined);
    EXPECT_EQ(ReadFile(b), kA + kB);

    SetScript(IDNO, {pair}, pair);
    EXPECT_STREQ(RunFlow(), kExtracted);
    EXPECT_EQ(ReadFile(pair), kB);
}

TEST_F(RunFlowTest, InputThatVanishesBeforeTheCopyWritesNothing) {
    SetScript(IDYES, {a, b}, out);
    g_script.beforeOutputDialog = [&] { std::filesystem::remove(b); };
    EXPECT_STREQ(RunFlow(), kCannotOpen);
    EXPECT_EQ(ReadFile(out), kMissing);
}

TEST_F(RunFlowTest, PictureBeyondMemoryEndsWithItsMessage) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer reserves more address space than the limit allows";
#endif
    const std::string big = dir.Path("big.bmp");
    WriteSparsePicture(big, "", 1536u << 20);
    SetScript(IDYES, {a, big}, out);
    // A child process with its address space capped below the piece it must hold.
    EXPECT_EXIT(
        {
            CapAddressSpace(512u << 20);
            std::fputs(RunFlow(), stderr);
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "^Picture too large for memory :\\($");
    EXPECT_EQ(ReadFile(out), kMissing);
}

}  // namespace
