// The Windows side of glyphmend-cli's system calls: the C runtime's
// low-level file functions in binary mode, wide file names throughout, and
// MoveFileExW for the one step the runtime has no form of.
#include "cli/system.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

namespace {

std::string reason() { return std::strerror(errno); }

std::string utf8_of(const wchar_t* text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], size, nullptr, nullptr);
    utf8.pop_back();
    return utf8;
}

std::string system_reason(DWORD code)
{
    wchar_t* text = nullptr;
    DWORD size = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = size ? utf8_of(text) : "system error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

// Everything up to and including the last separator: "C:\texts\", "C:", "".
NativeName folder_prefix(const NativeName& path)
{
    size_t end = path.find_last_of(L"\\/:");
    return end == NativeName::npos ? NativeName() : path.substr(0, end + 1);
}

// Reads and writes go to the system on the descriptor's own handle, a
// whole piece a call: the runtime's _read and _write add their own checks
// and, for a console or pipe, smaller steps.
HANDLE handle_of(int file) { return reinterpret_cast<HANDLE>(_get_osfhandle(file)); }

}  // namespace

std::vector<Argument> command_line_arguments(int count, NativeChar** values)
{
    std::vector<Argument> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back({values[i], utf8_of(values[i])});
    return arguments;
}

void prepare_io()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

int open_for_reading(const NativeName& name, std::string& error)
{
    int file = _wopen(name.c_str(), _O_RDONLY | _O_BINARY);
    if (file < 0)
        error = reason();
    return file;
}

void close_file(int file) { _close(file); }

bool rewind_file(int file, std::string& error)
{
    if (_lseeki64(file, 0, SEEK_SET) == 0)
        return true;
    error = reason();
    return false;
}


long read_some(int file, void* into, size_t size, std::string& error)
{
    DWORD got = 0;
    if (ReadFile(handle_of(file), into, static_cast<DWORD>(size), &got, nullptr))
        return static_cast<long>(got);
    DWORD code = GetLastError();
    // A pipe whose writer has gone reads as its end.
    if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF)
        return 0;
    error = system_reason(code);
    return -1;
}

bool write_all(int file, const void* bytes, size_t size, std::string& error)
{
    const char* p = static_cast<const char*>(bytes);
    HANDLE handle = handle_of(file);
    while (size > 0) {
        DWORD put = 0;
        if (!WriteFile(handle, p, static_cast<DWORD>(size), &put, nullptr)) {
            error = system_reason(GetLastError());
            return false;
        }
        if (put == 0) {
            error = "nothing could be written";
            return false;
        }
        p += put;
        size -= put;
    }
    return true;
}

Rewrite::~Rewrite() { abandon(); }

bool Rewrite::begin(const NativeName& target, int source, std::string& error)
{
    struct _stat64 original;
    if (_fstat64(source, &original) != 0) {
        error = reason();
        return false;
    }
    if (!(original.st_mode & _S_IFREG)) {
        error = "not a regular file";
        return false;
    }
    target_ = target;
    NativeName prefix = folder_prefix(target) + L".glyphmend-" +
                        std::to_wstring(GetCurrentProcessId()) + L"-";
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        NativeName name = prefix + std::to_wstring(GetTickCount() + attempt) + L".tmp";
        if (_wsopen_s(&file_, name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                      _SH_DENYRW, _S_IREAD | _S_IWRITE) == 0) {
            temporary_ = name;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    file_ = -1;
    error = reason();
    return false;
}

bool Rewrite::commit(std::string& error)
{
    bool done = _commit(file_) == 0;
    if (!done)
        error = reason();
    if (_close(file_) != 0 && done) {
        error = reason();
        done = false;
    }
    file_ = -1;
    if (done && !MoveFileExW(temporary_.c_str(), target_.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = system_reason(GetLastError());
        done = false;
    }
    if (!done) {
        abandon();
        return false;
    }
    temporary_.clear();
    return true;
}

void Rewrite::abandon()
{
    if (file_ >= 0)
        _close(file_);
    file_ = -1;
    if (!temporary_.empty())
        _wunlink(temporary_.c_str());
    temporary_.clear();
}
