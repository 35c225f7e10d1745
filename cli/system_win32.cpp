// The Windows side of glyphmend-cli's system calls: the C runtime's
// low-level file functions in binary mode, wide file names throughout, and
// MoveFileExW for the one step the runtime has no form of.
#include "cli/system.h"

#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <direct.h>
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

const char not_regular[] = "not a regular file; not rewritten";

// The attributes a rewritten file keeps; the rest describe the data or
// its storage, which the system sets itself.
constexpr DWORD kept_attributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool file_information(int file, BY_HANDLE_FILE_INFORMATION& information)
{
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file));
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(handle, &information);
}

// A console event ends the program from the handler's own thread. While a
// rewrite is under way its temporary file is still open in the main
// thread, which cannot be deleted from here: the event is then left for
// the main thread, whose next read or write fails, abandons the rewrite
// and ends the program. The lock keeps the two threads from crossing
// while a temporary file comes or goes.
CRITICAL_SECTION rewrite_lock;
bool rewrite_pending = false;
volatile LONG interrupt_status = 0;

BOOL WINAPI on_console_event(DWORD event)
{
    LONG status = event == CTRL_C_EVENT ? 128 + 2 : event == CTRL_BREAK_EVENT ? 128 + 21 : 128 + 1;
    EnterCriticalSection(&rewrite_lock);
    if (!rewrite_pending)
        ExitProcess(static_cast<UINT>(status));
    InterlockedExchange(&interrupt_status, status);
    LeaveCriticalSection(&rewrite_lock);
    Sleep(INFINITE);
    return TRUE;
}

void catch_console_events()
{
    static bool caught = false;
    if (caught)
        return;
    caught = true;
    InitializeCriticalSection(&rewrite_lock);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

// Whether a console event waits for the rewrite under way to be abandoned;
// outside a rewrite it ends the program here.
bool interrupted()
{
    LONG status = interrupt_status;
    if (!status)
        return false;
    EnterCriticalSection(&rewrite_lock);
    if (!rewrite_pending)
        ExitProcess(static_cast<UINT>(status));
    LeaveCriticalSection(&rewrite_lock);
    return true;
}

}  // namespace

std::vector<Argument> command_line_arguments(int count, NativeChar** values)
{
    std::vector<Argument> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back({values[i], utf8_of(values[i])});
    return arguments;
}

// Windows names ignore the case of ASCII letters and take either separator.
std::string relative_to_current_folder(const std::string& shown)
{
    wchar_t* folder = _wgetcwd(nullptr, 0);
    if (!folder)
        return shown;
    std::string prefix = utf8_of(folder);
    std::free(folder);
    if (prefix.empty())
        return shown;
    if (prefix.back() != '\\' && prefix.back() != '/')
        prefix += '\\';
    if (shown.size() <= prefix.size())
        return shown;
    for (size_t i = 0; i < prefix.size(); ++i) {
        unsigned char a = prefix[i], b = shown[i];
        bool separators = (a == '\\' || a == '/') && (b == '\\' || b == '/');
        bool same_letter = a < 0x80 && b < 0x80 && std::tolower(a) == std::tolower(b);
        if (!separators && !same_letter)
            return shown;
    }
    return shown.substr(prefix.size());
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

// Devices (CON, NUL, COM1) and pipes are told by what the open handle
// turns out to be; opening them does not wait.
int open_for_rewriting(const NativeName& name, std::string& error)
{
    DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        error = not_regular;
        return -1;
    }
    int file = open_for_reading(name, error);
    BY_HANDLE_FILE_INFORMATION information;
    if (file >= 0 && !file_information(file, information)) {
        error = not_regular;
        _close(file);
        return -1;
    }
    return file;
}

// The volume and file identity; a handle that the system made from an
// inherited one (Wine's standard handles) answers only in this form, and
// systems before Windows 8 only in the older one.
bool file_identity(int file, FILE_ID_INFO& identity)
{
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file));
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK)
        return false;
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &identity, sizeof identity))
        return true;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information))
        return false;
    identity = FILE_ID_INFO{};
    identity.VolumeSerialNumber = information.dwVolumeSerialNumber;
    DWORD index[] = {information.nFileIndexLow, information.nFileIndexHigh};
    std::memcpy(identity.FileId.Identifier, index, sizeof index);
    return true;
}

// Wine names no volume (0) for its standard handles; the file alone then
// decides, which at worst refuses an input that merely shares its number.
bool is_standard_output(int file)
{
    FILE_ID_INFO output, input;
    return file_identity(standard_output, output) && file_identity(file, input) &&
           (output.VolumeSerialNumber == input.VolumeSerialNumber ||
            output.VolumeSerialNumber == 0) &&
           std::memcmp(&output.FileId, &input.FileId, sizeof output.FileId) == 0;
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
    if (interrupted()) {
        error = "interrupted";
        return -1;
    }
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

ProcessorPair::ProcessorPair() = default;
ProcessorPair::~ProcessorPair() = default;
void ProcessorPair::hold_first() {}
void ProcessorPair::hold_second() const {}

bool offset_of(int file, uint64_t& offset)
{
    HANDLE handle = handle_of(file);
    LARGE_INTEGER at, zero = {};
    if (GetFileType(handle) != FILE_TYPE_DISK || !SetFilePointerEx(handle, zero, &at, FILE_CURRENT))
        return false;
    offset = static_cast<uint64_t>(at.QuadPart);
    return true;
}

long read_at(int file, void* into, size_t size, uint64_t offset, std::string& error)
{
    size_t got = 0;
    while (got < size) {
        if (interrupted()) {
            error = "interrupted";
            return -1;
        }
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset + got);
        at.OffsetHigh = static_cast<DWORD>((offset + got) >> 32);
        DWORD put = 0;
        if (!ReadFile(handle_of(file), static_cast<char*>(into) + got, static_cast<DWORD>(size - got), &put, &at)) {
            DWORD code = GetLastError();
            if (code == ERROR_HANDLE_EOF)
                break;
            error = system_reason(code);
            return -1;
        }
        if (put == 0)
            break;
        got += put;
    }
    return static_cast<long>(got);
}

void move_to(int file, uint64_t offset)
{
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    SetFilePointerEx(handle_of(file), at, nullptr, FILE_BEGIN);
}

bool write_all(int file, const void* bytes, size_t size, std::string& error)
{
    const char* p = static_cast<const char*>(bytes);
    HANDLE handle = handle_of(file);
    while (size > 0) {
        if (interrupted()) {
            error = "interrupted";
            return false;
        }
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

bool regular_file_size(int file, uint64_t& size)
{
    HANDLE handle = handle_of(file);
    LARGE_INTEGER bytes;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &bytes))
        return false;
    size = static_cast<uint64_t>(bytes.QuadPart);
    return true;
}

LargePages::LargePages(size_t) {}
LargePages::~LargePages() = default;

struct Rewrite::Metadata {
    BY_HANDLE_FILE_INFORMATION original;
};

Rewrite::Rewrite() = default;
Rewrite::~Rewrite() { abandon(); }

// A read-only file is one its owner asked to keep as it is; another name
// for the file would keep the damaged text.
bool Rewrite::begin(const NativeName& target, int source, std::string& error)
{
    metadata_ = std::make_unique<Metadata>();
    const BY_HANDLE_FILE_INFORMATION& original = metadata_->original;
    if (!file_information(source, metadata_->original)) {
        error = not_regular;
        return false;
    }
    if (original.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        error = "no permission to write it; not rewritten";
        return false;
    }
    if (original.nNumberOfLinks > 1) {
        error = "it has " + std::to_string(original.nNumberOfLinks) +
                " hard links, which a rewrite would split; not rewritten";
        return false;
    }
    target_ = target;
    NativeName prefix = folder_prefix(target) + L".glyphmend-" +
                        std::to_wstring(GetCurrentProcessId()) + L"-";
    catch_console_events();
    EnterCriticalSection(&rewrite_lock);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        NativeName name = prefix + std::to_wstring(GetTickCount() + attempt) + L".tmp";
        if (_wsopen_s(&file_, name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                      _SH_DENYRW, _S_IREAD | _S_IWRITE) == 0) {
            temporary_ = name;
            rewrite_pending = true;
            LeaveCriticalSection(&rewrite_lock);
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    LeaveCriticalSection(&rewrite_lock);
    file_ = -1;
    error = reason();
    return false;
}

bool Rewrite::keep_metadata(std::string& error)
{
    DWORD attributes = metadata_->original.dwFileAttributes & kept_attributes;
    if (attributes && !SetFileAttributesW(temporary_.c_str(), attributes)) {
        error = "its attributes could not be kept (" + system_reason(GetLastError()) +
                "); not rewritten";
        return false;
    }
    return true;
}

// Whether the target is still the file that was read, as it was read.
bool Rewrite::unchanged(std::string& error) const
{
    const BY_HANDLE_FILE_INFORMATION& original = metadata_->original;
    WIN32_FILE_ATTRIBUTE_DATA now;
    if (GetFileAttributesExW(target_.c_str(), GetFileExInfoStandard, &now) &&
        now.nFileSizeHigh == original.nFileSizeHigh && now.nFileSizeLow == original.nFileSizeLow &&
        CompareFileTime(&now.ftLastWriteTime, &original.ftLastWriteTime) == 0)
        return true;
    error = "it changed while it was repaired; not rewritten";
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
    done = done && !interrupted() && keep_metadata(error) && unchanged(error);
    if (done && !MoveFileExW(temporary_.c_str(), target_.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = system_reason(GetLastError());
        done = false;
    }
    if (!done) {
        abandon();
        return false;
    }
    EnterCriticalSection(&rewrite_lock);
    rewrite_pending = false;
    temporary_.clear();
    LeaveCriticalSection(&rewrite_lock);
    interrupted();
    return true;
}

void Rewrite::abandon()
{
    if (file_ >= 0)
        _close(file_);
    file_ = -1;
    if (temporary_.empty())
        return;
    _wunlink(temporary_.c_str());
    temporary_.clear();
    EnterCriticalSection(&rewrite_lock);
    rewrite_pending = false;
    LeaveCriticalSection(&rewrite_lock);
    interrupted();
}
