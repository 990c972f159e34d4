// The four operations through which the run talks to the user. Each blocks until
// the user has answered. The Windows build defines them in winui/; the tests
// define a scripted stand-in of their own.
#pragma once

#include <cstddef>

// Room for one NUL-terminated ANSI path, as the Windows dialogs fill it.
constexpr std::size_t kPathBufferSize = 260;
using PathBuffer = char[kPathBufferSize];

// Shows `text` as a three-way question and returns the button pressed (IDYES for
// Combine, IDNO for Get 2nd, IDCANCEL for Quit), or 0 when the box fails.
int AskAction(const char* text, const char* caption, unsigned type);

// True with the chosen path in `buffer`; false when the dialog was cancelled or failed.
bool ChooseInputFile(PathBuffer& buffer);
bool ChooseOutputFile(PathBuffer& buffer);

// Shows the closing message and ends the process with exit code 0.
[[noreturn]] void ShowResultAndExit(const char* text);
