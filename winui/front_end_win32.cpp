// The front end on Windows: a stock message box relabelled into a three-way
// question, the common open and save dialogs set up for BMP files, and the
// closing box. Every piece is a modal system box that runs its own message loop.
#include <windows.h>  // includes the common dialogs too

#include <cstdlib>
#include <iterator>

#include "run/front_end.h"

namespace {

// The title of every closing box; the version, maker and web address come from the build.
constexpr char kResultBanner[] =
    "Tinselpair V" TINSELPAIR_SHORT_VERSION " - By " TINSELPAIR_MAKER " - " TINSELPAIR_WEB_ADDRESS;

// Each filter is a description, its pattern, and the empty string that ends the list.
constexpr char kOpenFilter[] = "BMP Picture (*.bmp)\0*.bmp\0";
constexpr char kSaveFilter[] = "Save BMP Filename (*.bmp)\0*.bmp\0";

struct ButtonLabel {
    int id;
    const char* text;
};
constexpr ButtonLabel kButtonLabels[] = {{IDYES, "Combine"}, {IDNO, "Get 2nd"}, {IDCANCEL, "Quit"}};

// Valid only while the question is on screen, so that the hook can pass other events on.
HHOOK g_promptHook = nullptr;

// Relabels the question box each time it is activated. While the hook is installed
// the box is the thread's only window, so the activated window is taken to be it.
LRESULT CALLBACK PromptHookProc(int nCode, WPARAM wParam, LPARAM lParam) {
    if (nCode != HCBT_ACTIVATE)
        return CallNextHookEx(g_promptHook, nCode, wParam, lParam);
    const HWND box = reinterpret_cast<HWND>(wParam);
    SetWindowTextA(box, "What would you like to do?");
    for (const ButtonLabel& label : kButtonLabels) {
        SetWindowTextA(GetDlgItem(box, label.id), label.text);
    }
    return 0;
}

using FileDialog = BOOL(WINAPI*)(LPOPENFILENAMEA);

bool ChooseFile(PathBuffer& buffer, const char* filter, DWORD flags, FileDialog showDialog) {
    buffer[0] = '\0';
    OPENFILENAMEA setup = {};
    // The size without the fields that Windows 2000 added.
    setup.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    setup.lpstrFilter = filter;
    setup.lpstrFile = buffer;
    setup.nMaxFile = std::size(buffer);
    setup.lpstrDefExt = "bmp";
    setup.Flags = flags;
    return showDialog(&setup) != 0;
}

}  // namespace

int AskAction(const char* text, const char* caption, unsigned type) {
    // Bound to this thread only, and removed before any other box can appear.
    g_promptHook = SetWindowsHookExA(WH_CBT, PromptHookProc, nullptr, GetCurrentThreadId());
    const int answer = MessageBoxA(nullptr, text, caption, type);
    UnhookWindowsHookEx(g_promptHook);
    return answer;
}

bool ChooseInputFile(PathBuffer& buffer) {
    return ChooseFile(buffer, kOpenFilter, OFN_EXPLORER | OFN_FILEMUSTEXIST, GetOpenFileNameA);
}

bool ChooseOutputFile(PathBuffer& buffer) {
    return ChooseFile(buffer, kSaveFilter,
                      OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                      GetSaveFileNameA);
}

void ShowResultAndExit(const char* text) {
    MessageBoxA(nullptr, text, kResultBanner, MB_OK);
    std::exit(0);
}
