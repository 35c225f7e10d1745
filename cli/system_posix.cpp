// The POSIX side of glyphmend-cli's system calls.
#include "cli/system.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string reason() { return std::strerror(errno); }

// A symbolic link keeps pointing at the file it named: the file it leads to
// is the one rewritten, in its own folder.
NativeName resolved(const NativeName& name)
{
    struct stat link;
    if (lstat(name.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
        return name;
    char* real = realpath(name.c_str(), nullptr);
    if (!real)
        return name;
    NativeName target = real;
    std::free(real);
    return target;
}

NativeName folder_of(const NativeName& path)
{
    size_t slash = path.rfind('/');
    if (slash == NativeName::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// After the rename, the folder's own entry must reach the disk too for the
// new contents to survive a crash; a folder that cannot be synced changes
// nothing about the result.
void sync_folder(const NativeName& path)
{
    int folder = open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
}

}  // namespace

std::vector<Argument> command_line_arguments(int count, NativeChar** values)
{
    std::vector<Argument> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back({values[i], values[i]});
    return arguments;
}

// A write beyond the file size limit must fail with EFBIG rather than end
// the program, so that a rewrite can be undone.
void prepare_io() { std::signal(SIGXFSZ, SIG_IGN); }

int open_for_reading(const NativeName& name, std::string& error)
{
    int file = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        error = reason();
    return file;
}

void close_file(int file) { close(file); }

bool rewind_file(int file, std::string& error)
{
    if (lseek(file, 0, SEEK_SET) == 0)
        return true;
    error = reason();
    return false;
}

long read_some(int file, void* into, size_t size, std::string& error)
{
    for (;;) {
        ssize_t got = read(file, into, size);
        if (got >= 0)
            return static_cast<long>(got);
        if (errno != EINTR) {
            error = reason();
            return -1;
        }
    }
}

bool write_all(int file, const void* bytes, size_t size, std::string& error)
{
    const char* p = static_cast<const char*>(bytes);
    while (size > 0) {
        ssize_t put = write(file, p, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            error = put < 0 ? reason() : "nothing could be written";
            return false;
        }
        p += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

Rewrite::~Rewrite() { abandon(); }

bool Rewrite::begin(const NativeName& target, int source, std::string& error)
{
    struct stat original;
    if (fstat(source, &original) != 0) {
        error = reason();
        return false;
    }
    if (!S_ISREG(original.st_mode)) {
        error = "not a regular file";
        return false;
    }
    target_ = resolved(target);
    NativeName folder = folder_of(target_);
    NativeName pattern = (folder == "/" ? "" : folder) + "/.glyphmend-XXXXXX";
    std::string buffer = pattern;
    file_ = mkstemp(&buffer[0]);
    if (file_ < 0) {
        error = reason();
        return false;
    }
    temporary_ = buffer;
    // The owner is kept where the system allows it; the permission bits
    // always are.
    (void)!fchown(file_, original.st_uid, original.st_gid);
    if (fchmod(file_, original.st_mode & 07777) != 0) {
        error = reason();
        abandon();
        return false;
    }
    return true;
}

bool Rewrite::commit(std::string& error)
{
    bool done = fsync(file_) == 0;
    if (!done)
        error = reason();
    if (close(file_) != 0 && done) {
        error = reason();
        done = false;
    }
    file_ = -1;
    if (done && rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = reason();
        done = false;
    }
    if (!done) {
        abandon();
        return false;
    }
    temporary_.clear();
    sync_folder(target_);
    return true;
}

void Rewrite::abandon()
{
    if (file_ >= 0)
        close(file_);
    file_ = -1;
    if (!temporary_.empty())
        unlink(temporary_.c_str());
    temporary_.clear();
}
