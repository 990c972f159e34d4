// Fuzzes whole runs on real files against a small model of the format written from
// scratch here: a scripted user asks Get 2nd of every input and Combine of the first
// and last, and the closing message and every file afterwards must be what the model
// says. The run flow classifies each input, extracts from what is holiday lights,
// combines what is regular and refuses the rest, so each copy is reached exactly when
// the classification allows it.
//
// Fuzzer input: byte 0 holds flags, bytes 1-2 a little-endian split point, the rest
// the file bytes.
//   bit 0     two input files, the bytes cut at the split point (modulo their length
//             plus one); otherwise one input, which Combine then takes twice
//   bits 1-2  the output: 1 the first input, 2 the last input, else a file of its own
//   bit 3     that file of its own exists beforehand, holding stale bytes longer than
//             any output could be, so that a missing truncation shows
//
// Any disagreement aborts with a message, which libFuzzer reports as a crash.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "container/holiday_lights.h"
#include "container/test_files.h"
#include "run/front_end.h"
#include "run/message_box.h"
#include "run/run_flow.h"

namespace {

using Bytes = std::string;

// --- The model: what the copies must produce, from the bytes alone. ---

std::optional<std::int32_t> ModelSizeField(const Bytes& file, std::int64_t offset) {
    if (offset + 4 > std::ssize(file))
        return std::nullopt;
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(file[offset + i]);
    return static_cast<std::int32_t>(value);
}

bool ModelSignatureAt(const Bytes& file, std::int64_t offset) {
    return offset + 2 <= std::ssize(file) && file[offset] == 'B' && file[offset + 1] == 'M';
}

BmpKind ModelKind(const Bytes& file) {
    if (!ModelSignatureAt(file, 0))
        return NotBmp;
    const auto size = ModelSizeField(file, 2);
    if (!size || *size < 0)
        return Regular;
    return ModelSignatureAt(file, *size) ? HolidayLights : Regular;
}

// The picture that starts at `start`, or nothing when the copy must refuse it as
// damaged: its size field cut short, under 6, or reaching past the end of the file.
std::optional<Bytes> ModelPiece(const Bytes& file, std::int64_t start) {
    const auto size = ModelSizeField(file, start + 2);
    if (!size || *size < 6 || start + *size > std::ssize(file))
        return std::nullopt;
    return file.substr(start, *size);
}

std::optional<Bytes> ModelSecondPicture(const Bytes& file) {
    const auto first = ModelPiece(file, 0);
    if (!first)
        return std::nullopt;
    return ModelPiece(file, std::ssize(*first));
}

std::optional<Bytes> ModelCombined(const Bytes& first, const Bytes& second) {
    const auto a = ModelPiece(first, 0);
    const auto b = ModelPiece(second, 0);
    if (!a || !b)
        return std::nullopt;
    return *a + *b;
}

// What a run must end with: its closing message and, when it saved, the output's bytes.
struct Outcome {
    std::string message;
    std::optional<Bytes> output;
};

const char* const kDamaged = "Input file is damaged :(";

Outcome ModelGetSecond(const Bytes& file) {
    switch (ModelKind(file)) {
        case NotBmp:
            return {"Not a valid holiday lights BMP file", {}};
        case Regular:
            return {"Regular BMP file", {}};
        case HolidayLights:
            break;
    }
    const auto second = ModelSecondPicture(file);
    if (!second)
        return {kDamaged, {}};
    return {"Second Picture Successfully Saved! (Hopefully) =p", second};
}

Outcome ModelCombine(const Bytes& first, const Bytes& second) {
    for (const Bytes* input : {&first, &second}) {
        if (ModelKind(*input) == NotBmp)
            return {"Not a valid BMP file", {}};
        if (ModelKind(*input) == HolidayLights)
            return {"Already a valid holiday lights BMP file", {}};
    }
    const auto combined = ModelCombined(first, second);
    if (!combined)
        return {kDamaged, {}};
    return {"Combined Picture Successfully Saved! (Hopefully) =p", combined};
}

// --- The scripted user: one answer to the question, then the paths to pick. ---

struct Answers {
    int action = IDCANCEL;
    std::vector<std::string> inputs;
    std::string output;
    std::size_t inputsGiven = 0;
};

Answers g_answers;

bool Pick(PathBuffer& buffer, const std::string& path) {
    std::snprintf(buffer, std::size(buffer), "%s", path.c_str());
    return true;
}

}  // namespace

int AskAction(const char*, const char*, unsigned) {
    return g_answers.action;
}

bool ChooseInputFile(PathBuffer& buffer) {
    return Pick(buffer, g_answers.inputs.at(g_answers.inputsGiven++));
}

bool ChooseOutputFile(PathBuffer& buffer) {
    return Pick(buffer, g_answers.output);
}

namespace {

// --- Files. ---

[[noreturn]] void Fail(const char* what, const char* why) {
    std::fprintf(stderr, "%s: %s\n", what, why);
    abort();
}

// One private folder per process, removed at the normal exit that ends a fuzzing run.
std::string PathOf(const char* name) {
    static const TempDir folder;
    return folder.Path(name);
}

// The file's bytes, or nothing when it does not exist.
std::optional<Bytes> ReadIfExists(const std::string& path) {
    std::ifstream input(path, std::ios::binary);
    if (!input.is_open())
        return std::nullopt;
    return Bytes(std::istreambuf_iterator<char>(input), {});
}

// --- One case. ---

struct Case {
    std::vector<Bytes> inputs;
    std::vector<std::string> paths;
    std::string output;
    std::optional<Bytes> staleOutput;  // what the output of its own holds beforehand
};

// Puts every file back as the case starts, since an earlier copy may have replaced one.
void Restore(const Case& c) {
    for (std::size_t i = 0; i < c.inputs.size(); ++i)
        WriteFile(c.paths[i], c.inputs[i]);
    std::filesystem::remove(PathOf("out"));
    if (c.staleOutput)
        WriteFile(PathOf("out"), *c.staleOutput);
}

// Runs one whole run with the given answers from freshly restored files, and checks
// its closing message and every file against the model. A run that does not save
// leaves the output as it was; inputs other than the output are never touched.
void CheckRun(const Case& c, int action, std::vector<std::string> inputs, const Outcome& want) {
    Restore(c);
    const auto before = ReadIfExists(c.output);
    g_answers = Answers{action, std::move(inputs), c.output};
    const char* message = RunFlow();
    const char* what = action == IDYES ? "Combine" : "Get 2nd";
    if (message == nullptr || message != want.message)
        Fail(what, "closing message differs from the model");
    if (ReadIfExists(c.output) != (want.output ? want.output : before)) {
        Fail(what,
             want.output ? "output differs from the model" : "output touched by a failed run");
    }
    for (std::size_t i = 0; i < c.inputs.size(); ++i) {
        if (c.paths[i] != c.output && ReadIfExists(c.paths[i]) != c.inputs[i])
            Fail(what, "an input was changed");
    }
}

Case MakeCase(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t flags = data[0];
    const Bytes bytes(reinterpret_cast<const char*>(data + 3), size - 3);
    Case c;
    if (flags & 1) {
        const std::size_t split = (data[1] | data[2] << 8) % (bytes.size() + 1);
        c.inputs = {bytes.substr(0, split), bytes.substr(split)};
        c.paths = {PathOf("first"), PathOf("second")};
    } else {
        c.inputs = {bytes};
        c.paths = {PathOf("first")};
    }
    switch (flags >> 1 & 3) {
        case 1:
            c.output = c.paths.front();
            break;
        case 2:
            c.output = c.paths.back();
            break;
        default:
            c.output = PathOf("out");
            if (flags & 8)
                c.staleOutput = bytes + "stale";
    }
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const Case c = MakeCase(data, size);
    for (std::size_t i = 0; i < c.inputs.size(); ++i)
        CheckRun(c, IDNO, {c.paths[i]}, ModelGetSecond(c.inputs[i]));
    CheckRun(c, IDYES, {c.paths.front(), c.paths.back()},
             ModelCombine(c.inputs.front(), c.inputs.back()));
    return 0;
}
