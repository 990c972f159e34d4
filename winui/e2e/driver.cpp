// Drives the real Tinselpair.exe through a table of scenarios, the way a user
// would: it waits for each box or dialog, reads what it shows, presses its buttons
// and keys and types file names into it. It judges nothing itself: it writes what it
// saw to the results file, and the runner compares that with what was expected.
//
// Usage: driver PROGRAM SCENARIOS RESULTS
//
// SCENARIOS holds one scenario per line: its name, then its steps, all separated by
// tabs. A step is a verb, then a space and its argument where it takes one:
//
//   box            wait for a message box and describe it; it becomes the current box
//   click LABEL    press the current box's button that reads LABEL
//   key NAME       press Escape or Enter ("escape", "enter") on the current box
//   close HOW      close the current box by WM_CLOSE ("wm") or by the system menu ("sc")
//   choose PATH    wait for an open or save dialog, describe it, type PATH and confirm
//   cancel         wait for an open or save dialog, describe it and cancel it
//   overwrite      wait for the save dialog's replace question and answer Yes
//   lock PATH      open PATH with no sharing, holding it until the scenario ends
//   delete PATH    delete PATH
//   exit           wait for the program to end, naming every window it shows meanwhile
//
// RESULTS gets, for each scenario, a line "scenario NAME" and then one line per
// observation. A step that cannot be done writes a "fail" line and ends the scenario;
// a program still running when its scenario ends is terminated.
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Windows appear within a second or two even on a cold Wine prefix; a scenario
// that waits longer than this has gone wrong.
constexpr DWORD kWindowTimeoutMs = 10000;
constexpr DWORD kExitTimeoutMs = 10000;
constexpr DWORD kPollMs = 20;

// Control ids of the common file dialogs: the file-name box and the file-type list.
constexpr int kFileNameId = 1148;
constexpr int kFileTypeId = 1136;

// Another process's window answers WM_GETTEXT; GetWindowText would only give the
// caption that the system keeps for it, which controls do not have.
std::string TextOf(HWND window) {
    char text[512] = "";
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, &copied);
    return text;
}

std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, std::size(name));
    return name;
}

LONG StyleOf(HWND window) {
    return GetWindowLongA(window, GWL_STYLE);
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// Every descendant of `parent`, at any depth, in the system's order.
std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The visible buttons of a box, from left to right as the user sees them.
std::vector<HWND> ButtonsOf(HWND box) {
    std::vector<HWND> buttons;
    for (HWND child : Descendants(box)) {
        if (ClassOf(child) == "Button" && IsWindowVisible(child))
            buttons.push_back(child);
    }
    std::sort(buttons.begin(), buttons.end(), [](HWND a, HWND b) {
        RECT ra;
        RECT rb;
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        return ra.left < rb.left;
    });
    return buttons;
}

HWND ButtonLabelled(HWND box, const std::string& label) {
    for (HWND button : ButtonsOf(box)) {
        if (TextOf(button) == label)
            return button;
    }
    return nullptr;
}

bool IsIcon(HWND child) {
    return ClassOf(child) == "Static" && (StyleOf(child) & SS_TYPEMASK) == SS_ICON;
}

// The edit field of the file-name box. It sits inside a ComboBox inside a
// ComboBoxEx32, and Wine gives the id to all three, so the field is taken as the Edit
// that carries the id or sits below a window that does.
HWND FileNameField(HWND dialog) {
    for (HWND child : Descendants(dialog)) {
        if (ClassOf(child) != "Edit")
            continue;
        for (HWND at = child; at != dialog; at = GetParent(at)) {
            if (GetDlgCtrlID(at) == kFileNameId)
                return child;
        }
    }
    return nullptr;
}

bool IsFileDialog(HWND window) {
    return FileNameField(window) != nullptr;
}

// A message box has no owner; the replace question is owned by the save dialog.
bool IsMessageBox(HWND window) {
    return GetWindow(window, GW_OWNER) == nullptr && !IsFileDialog(window);
}

// Wine titles this question "Error", so it is known by its owner and its Yes button.
bool IsReplaceQuestion(HWND window) {
    const HWND owner = GetWindow(window, GW_OWNER);
    return owner != nullptr && IsFileDialog(owner) && GetDlgItem(window, IDYES) != nullptr;
}

std::string Join(const std::vector<std::string>& parts) {
    std::string joined;
    for (const std::string& part : parts)
        joined += (joined.empty() ? "" : ",") + part;
    return joined;
}

// The default button is judged by its style: Wine's message box answers DM_GETDEFID
// with OK whatever its buttons are.
std::string DescribeBox(HWND box) {
    std::vector<std::string> texts;
    bool hasIcon = false;
    for (HWND child : Descendants(box)) {
        if (!IsWindowVisible(child) || ClassOf(child) != "Static")
            continue;
        if (IsIcon(child)) {
            hasIcon = hasIcon || SendMessageA(child, STM_GETICON, 0, 0) != 0;
        } else if (!TextOf(child).empty()) {
            texts.push_back(TextOf(child));
        }
    }
    std::vector<std::string> labels;
    std::vector<std::string> defaults;
    for (HWND button : ButtonsOf(box)) {
        labels.push_back(TextOf(button));
        if ((StyleOf(button) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            defaults.push_back(TextOf(button));
    }
    return "box\ttitle=" + TextOf(box) + "\ttext=" + Join(texts) + "\tbuttons=" + Join(labels) +
           "\tdefault=" + Join(defaults) + "\ticon=" + (hasIcon ? "yes" : "none");
}

struct Scenario {
    std::string name;
    std::vector<std::string> steps;
};

std::vector<Scenario> ReadScenarios(const char* path) {
    std::vector<Scenario> scenarios;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty())
            continue;
        std::istringstream fields(line);
        Scenario scenario;
        std::getline(fields, scenario.name, '\t');
        for (std::string step; std::getline(fields, step, '\t');)
            scenario.steps.push_back(step);
        scenarios.push_back(scenario);
    }
    return scenarios;
}

// One run of the program under the driver's hands.
class Run {
public:
    Run(const char* program, std::ofstream& results) : results_(results) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(program, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process_)) {
            process_ = {};
        }
    }

    ~Run() {
        for (HANDLE lock : locks_)
            CloseHandle(lock);
        if (!Started())
            return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, kExitTimeoutMs);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }

    bool Started() const { return process_.hProcess != nullptr; }

    // Returns an empty string when the step was done, or why it could not be.
    std::string Do(const std::string& step) {
        const std::size_t space = step.find(' ');
        const std::string verb = step.substr(0, space);
        const std::string argument = space == std::string::npos ? "" : step.substr(space + 1);
        if (verb == "box")
            return FindBox();
        if (verb == "click")
            return Click(argument);
        if (verb == "key")
            return Key(argument);
        if (verb == "close")
            return Close(argument);
        if (verb == "choose")
            return AnswerFileDialog(argument);
        if (verb == "cancel")
            return AnswerFileDialog("");
        if (verb == "overwrite")
            return AnswerReplaceQuestion();
        if (verb == "lock")
            return Lock(argument);
        if (verb == "delete")
            return DeleteFileA(argument.c_str()) ? "" : "cannot delete";
        if (verb == "exit")
            return WaitForExit();
        return "unknown step";
    }

private:
    // The program's visible top-level windows that the driver has not answered yet.
    std::vector<HWND> FreshWindows() const {
        std::vector<HWND> windows;
        EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
        std::erase_if(windows, [this](HWND window) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            return owner != process_.dwProcessId || !IsWindowVisible(window) ||
                   std::find(answered_.begin(), answered_.end(), window) != answered_.end();
        });
        return windows;
    }

    // A window is ready once its thread has made it the active window: the question's
    // relabelling runs on that activation, and the dialogs have set up their controls.
    bool IsReady(HWND window) const {
        GUITHREADINFO thread = {};
        thread.cbSize = sizeof thread;
        const DWORD threadId = GetWindowThreadProcessId(window, nullptr);
        return GetGUIThreadInfo(threadId, &thread) && thread.hwndActive == window;
    }

    HWND WaitForWindow(bool (*wanted)(HWND), std::string& failure) {
        const ULONGLONG deadline = GetTickCount64() + kWindowTimeoutMs;
        do {
            for (HWND window : FreshWindows()) {
                if (wanted(window) && IsReady(window))
                    return window;
            }
            if (WaitForSingleObject(process_.hProcess, kPollMs) == WAIT_OBJECT_0) {
                DWORD code = 0;
                GetExitCodeProcess(process_.hProcess, &code);
                failure = "program ended instead, with code " + std::to_string(code);
                return nullptr;
            }
        } while (GetTickCount64() < deadline);
        failure = "no such window within the time limit; showing:";
        for (HWND window : FreshWindows())
            failure += " [" + ClassOf(window) + " " + TextOf(window) + "]";
        return nullptr;
    }

    // Posted, not sent: the press may open a modal box, and a sent message would
    // not return until that box was closed.
    void Press(HWND button) {
        answered_.push_back(GetAncestor(button, GA_ROOT));
        PostMessageA(button, BM_CLICK, 0, 0);
    }

    std::string FindBox() {
        std::string failure;
        current_ = WaitForWindow(IsMessageBox, failure);
        if (current_ != nullptr)
            results_ << DescribeBox(current_) << '\n';
        return failure;
    }

    std::string Click(const std::string& label) {
        const HWND button = ButtonLabelled(current_, label);
        if (button == nullptr)
            return "no button " + label;
        Press(button);
        return "";
    }

    // Typed through the system's input queue, so the key reaches the box the way a
    // real key press does and the box's own dialog loop decides what it means.
    std::string Key(const std::string& name) {
        const WORD key = name == "escape" ? VK_ESCAPE : name == "enter" ? VK_RETURN : 0;
        if (key == 0)
            return "unknown key";
        INPUT presses[2] = {};
        for (INPUT& press : presses) {
            press.type = INPUT_KEYBOARD;
            press.ki.wVk = key;
        }
        presses[1].ki.dwFlags = KEYEVENTF_KEYUP;
        answered_.push_back(current_);
        return SendInput(std::size(presses), presses, sizeof(INPUT)) == std::size(presses)
                   ? ""
                   : "key not sent";
    }

    std::string Close(const std::string& how) {
        answered_.push_back(current_);
        if (how == "wm")
            return PostMessageA(current_, WM_CLOSE, 0, 0) ? "" : "not posted";
        if (how == "sc")
            return PostMessageA(current_, WM_SYSCOMMAND, SC_CLOSE, 0) ? "" : "not posted";
        return "unknown way to close";
    }

    // An empty path cancels the dialog.
    std::string AnswerFileDialog(const std::string& path) {
        std::string failure;
        const HWND dialog = WaitForWindow(IsFileDialog, failure);
        if (dialog == nullptr)
            return failure;
        results_ << "dialog\tfilter=" << TextOf(GetDlgItem(dialog, kFileTypeId)) << '\n';
        if (path.empty()) {
            Press(GetDlgItem(dialog, IDCANCEL));
            return "";
        }
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(FileNameField(dialog), WM_SETTEXT, 0,
                            reinterpret_cast<LPARAM>(path.c_str()), SMTO_ABORTIFHUNG, 2000,
                            &ignored);
        Press(GetDlgItem(dialog, IDOK));
        return "";
    }

    std::string AnswerReplaceQuestion() {
        std::string failure;
        const HWND question = WaitForWindow(IsReplaceQuestion, failure);
        if (question == nullptr)
            return failure;
        results_ << "overwrite\n";
        Press(GetDlgItem(question, IDYES));
        return "";
    }

    std::string Lock(const std::string& path) {
        const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return "cannot lock";
        locks_.push_back(file);
        return "";
    }

    std::string WaitForExit() {
        const ULONGLONG deadline = GetTickCount64() + kExitTimeoutMs;
        std::vector<HWND> seen;
        while (WaitForSingleObject(process_.hProcess, kPollMs) == WAIT_TIMEOUT) {
            for (HWND window : FreshWindows()) {
                if (std::find(seen.begin(), seen.end(), window) != seen.end())
                    continue;
                seen.push_back(window);
                results_ << "window\tclass=" << ClassOf(window) << "\ttitle=" << TextOf(window)
                         << '\n';
            }
            if (GetTickCount64() > deadline)
                return "program still running";
        }
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        results_ << "exit\tcode=" << code << '\n';
        return "";
    }

    std::ofstream& results_;
    PROCESS_INFORMATION process_ = {};
    std::vector<HANDLE> locks_;
    std::vector<HWND> answered_;
    HWND current_ = nullptr;
};

void RunScenario(const char* program, const Scenario& scenario, std::ofstream& results) {
    results << "scenario " << scenario.name << '\n';
    Run run(program, results);
    if (!run.Started()) {
        results << "fail\tcannot start the program\n";
        return;
    }
    for (const std::string& step : scenario.steps) {
        const std::string failure = run.Do(step);
        if (!failure.empty()) {
            results << "fail\t" << step << ": " << failure << '\n';
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    std::ofstream results(argv[3]);
    for (const Scenario& scenario : ReadScenarios(argv[2])) {
        RunScenario(argv[1], scenario, results);
        results.flush();
    }
    return 0;
}
