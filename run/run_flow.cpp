#include "run/run_flow.h"

#include <fstream>

#include "container/holiday_lights.h"
#include "run/front_end.h"
#include "run/message_box.h"

namespace {

constexpr const char* kNoInput = "No Input File Selected";
constexpr const char* kNoOutput = "No Output File Selected";
constexpr const char* kCannotOpenInput = "Could not open input file :(";

// The closing message of a copy: the action's own success message, or what failed.
const char* CopyMessage(CopyResult result, const char* savedMessage) {
    switch (result) {
        case CopyResult::Saved:
            return savedMessage;
        case CopyResult::InputUnopenable:
            return kCannotOpenInput;
        case CopyResult::InputDamaged:
            return "Input file is damaged :(";
        case CopyResult::TooLargeForMemory:
            return "Picture too large for memory :(";
        case CopyResult::OutputUnwritable:
            break;
    }
    return "Could not write output file :(";
}

// Opens `path` on `input`, classifies it and closes it again. Returns why Combine
// cannot take the file, or nullptr when it is a regular BMP. Classifying a regular
// BMP leaves the stream failed, so its state is reset before it is closed and handed
// on to the next input.
const char* RefuseCombineInput(std::ifstream& input, const char* path) {
    input.open(path, std::ios::binary);
    if (!input.is_open())
        return kCannotOpenInput;
    const BmpKind kind = ClassifyBmp(input);
    input.clear();
    input.close();
    if (kind == HolidayLights)
        return "Already a valid holiday lights BMP file";
    if (kind == NotBmp)
        return "Not a valid BMP file";
    return nullptr;
}

const char* RunCombine(std::ifstream& input) {
    PathBuffer first = {};
    PathBuffer second = {};
    PathBuffer output = {};
    if (!ChooseInputFile(first))
        return kNoInput;
    if (const char* refusal = RefuseCombineInput(input, first))
        return refusal;
    if (!ChooseInputFile(second))
        return kNoInput;
    if (const char* refusal = RefuseCombineInput(input, second))
        return refusal;
    if (!ChooseOutputFile(output))
        return kNoOutput;
    return CopyMessage(CombinePictures(first, second, output),
                       "Combined Picture Successfully Saved! (Hopefully) =p");
}

const char* RunGetSecond(std::ifstream& input) {
    PathBuffer path = {};
    PathBuffer output = {};
    if (!ChooseInputFile(path))
        return kNoInput;
    input.open(path, std::ios::binary);
    if (!input.is_open())
        return kCannotOpenInput;
    switch (ClassifyBmp(input)) {
        case NotBmp:
            return "Not a valid holiday lights BMP file";
        case Regular:
            return "Regular BMP file";
        case HolidayLights:
            break;
    }
    if (!ChooseOutputFile(output))
        return kNoOutput;
    // The stream stays open through the copy: it is the one just classified.
    const CopyResult result = ExtractSecondPicture(input, output);
    input.close();
    return CopyMessage(result, "Second Picture Successfully Saved! (Hopefully) =p");
}

}  // namespace

const char* RunFlow() {
    // One input stream serves every input of the run, opened and closed in turn.
    std::ifstream input;
    switch (AskAction("What would you like to do?", "o_O", MB_YESNOCANCEL)) {
        case IDYES:
            return RunCombine(input);
        case IDNO:
            return RunGetSecond(input);
        default:  // Quit, the close button, Escape, or a box that failed
            return nullptr;
    }
}
