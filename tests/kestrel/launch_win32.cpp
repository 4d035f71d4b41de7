#include "launch.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "sandbox.h"

static std::atomic<int> failed_starts{0};

int start_failures() {
    return failed_starts;
}

// Quotes one argument so that the child's command-line parsing gives it back intact.
static std::wstring as_argument(const std::wstring& arg) {
    std::wstring q = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        q.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        q += c;
    }
    q.append(backslashes * 2, L'\\');
    return q + L"\"";
}

static void drain(HANDLE pipe, std::string* into) {
    char buffer[4096];
    DWORD got;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
        into->append(buffer, got);
}

// Only one launch at a time makes its pipe ends inheritable, so that no child holds
// another child's pipe open.
static std::mutex launching;

static Launch launch_once(const std::wstring& program, std::wstring command_line) {
    Launch result;
    HANDLE out_read, out_write, err_read, err_write;
    CreatePipe(&out_read, &out_write, nullptr, 0);
    CreatePipe(&err_read, &err_write, nullptr, 0);
    PROCESS_INFORMATION child = {};
    BOOL started;
    {
        std::lock_guard<std::mutex> hold(launching);
        SetHandleInformation(out_write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        SetHandleInformation(err_write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out_write;
        startup.hStdError = err_write;
        started = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                                 nullptr, nullptr, &startup, &child);
        CloseHandle(out_write);
        CloseHandle(err_write);
    }
    if (!started) {
        result.exit_code = 0xFFFFFFFF;
        result.err = "CreateProcessW failed";
        CloseHandle(out_read);
        CloseHandle(err_read);
        return result;
    }
    std::thread err_reader(drain, err_read, &result.err);
    std::thread out_reader(drain, out_read, &result.out);
    if (WaitForSingleObject(child.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(child.hProcess, 0xDEAD);
        WaitForSingleObject(child.hProcess, INFINITE);
        result.timed_out = true;
    }
    out_reader.join();
    err_reader.join();
    GetExitCodeProcess(child.hProcess, &result.exit_code);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    CloseHandle(out_read);
    CloseHandle(err_read);
    return result;
}

Launch run_news(const std::vector<std::string>& args) {
    std::wstring program = (executable_folder() / "emberpress-news.exe").wstring();
    std::wstring command_line = as_argument(program);
    for (const std::string& arg : args)
        command_line += L" " + as_argument(utf8_path(arg).wstring());
    Launch result;
    for (int attempt = 0; attempt < 5; ++attempt) {
        result = launch_once(program, command_line);
        if (!(result.exit_code == 1 && result.out.empty())) break;
        ++failed_starts;
    }
    return result;
}
