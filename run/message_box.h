// The message box answers and type that the run flow uses, with the values that
// Windows gives them, so that AskAction's result passes through unchanged while
// the flow itself stays free of <windows.h>. Never include it beside <windows.h>,
// which defines the same names as macros.
#pragma once

inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr unsigned MB_YESNOCANCEL = 0x00000003;
