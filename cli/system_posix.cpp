// The POSIX side of glyphmend-cli's system calls.
#include "cli/system.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

namespace {

std::string reason() { return std::strerror(errno); }

const char not_regular[] = "not a regular file; not rewritten";

// The temporary file of the rewrite under way, for the signal handler;
// null when there is none.
const char* volatile pending_temporary = nullptr;

constexpr int interrupting_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Async-signal-safe: the original is untouched until the rename, so only
// the temporary file has to go.
extern "C" void abandon_on_signal(int signal)
{
    const char* name = pending_temporary;
    if (name)
        unlink(name);
    _exit(128 + signal);
}

// A signal ignored since the program started (nohup) stays ignored.
void catch_interrupting_signals()
{
    static bool caught = false;
    if (caught)
        return;
    caught = true;
    for (int signal : interrupting_signals) {
        struct sigaction old;
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = abandon_on_signal;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

// Holds the interrupting signals back while the temporary file and
// pending_temporary are brought into agreement.
class SignalsHeld {
public:
    SignalsHeld()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int signal : interrupting_signals)
            sigaddset(&set, signal);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

private:
    sigset_t old_;
};

using Attributes = std::vector<std::pair<std::string, std::string>>;

// Every extended attribute of `file` the caller may see, the ACL among
// them (it is one); false with the reason.
bool read_attributes(int file, Attributes& attributes, std::string& error)
{
    ssize_t size = flistxattr(file, nullptr, 0);
    if (size < 0 && errno == ENOTSUP)
        return true;
    std::string names(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size < 0 || (size > 0 && flistxattr(file, &names[0], names.size()) != size)) {
        error = "its extended attributes could not be read (" + reason() + "); not rewritten";
        return false;
    }
    for (size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
        const char* name = names.c_str() + at;
        ssize_t length = fgetxattr(file, name, nullptr, 0);
        std::string value(length > 0 ? static_cast<size_t>(length) : 0, '\0');
        if (length < 0 || (length > 0 && fgetxattr(file, name, &value[0], value.size()) != length)) {
            error = std::string("its extended attribute ") + name + " could not be read (" +
                    reason() + "); not rewritten";
            return false;
        }
        attributes.emplace_back(name, value);
    }
    return true;
}

std::string attribute_shown(const std::string& name)
{
    return name == "system.posix_acl_access" ? "ACL" : "extended attribute " + name;
}

// Gives `file` exactly the attributes of the original: the temporary file
// may have inherited a default ACL that the original does not have.
bool copy_attributes(int file, const Attributes& attributes, std::string& error)
{
    Attributes inherited;
    if (!read_attributes(file, inherited, error))
        return false;
    for (const auto& [name, value] : inherited) {
        bool kept = false;
        for (const auto& original : attributes)
            kept = kept || original.first == name;
        if (!kept && fremovexattr(file, name.c_str()) != 0) {
            error = "its file would gain the " + attribute_shown(name) + " (" + reason() +
                    "); not rewritten";
            return false;
        }
    }
    for (const auto& [name, value] : attributes) {
        if (fsetxattr(file, name.c_str(), value.data(), value.size(), 0) != 0) {
            error = "its " + attribute_shown(name) + " could not be kept (" + reason() +
                    "); not rewritten";
            return false;
        }
    }
    return true;
}

// Root may write anything, so for root a file without any write bit is
// the one its owner marked read-only. Anyone else may rewrite only their
// own files, since a rewritten file belongs to whoever made it.
bool may_rewrite(const NativeName& path, const struct stat& original, std::string& error)
{
    uid_t user = geteuid();
    bool writable = user == 0 ? (original.st_mode & 0222) != 0
                              : faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
    if (!writable)
        error = "no permission to write it; not rewritten";
    else if (user != 0 && original.st_uid != user)
        error = "owned by another user, whose ownership a rewrite would lose; not rewritten";
    else if (original.st_nlink > 1)
        error = "it has " + std::to_string(original.st_nlink) +
                " hard links, which a rewrite would split; not rewritten";
    return error.empty();
}

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

// A pipe of 1 MiB rather than the usual 64 KiB: the programs on either
// side wake each other a sixteenth as often. Only widened, never narrowed;
// a user over the system's quota for pipes keeps the pipe as it is.
void widen_pipe(int file)
{
#ifdef F_SETPIPE_SZ
    constexpr int wide_pipe = 1024 * 1024;
    struct stat status;
    if (fstat(file, &status) == 0 && S_ISFIFO(status.st_mode) &&
        fcntl(file, F_GETPIPE_SZ) < wide_pipe)
        fcntl(file, F_SETPIPE_SZ, wide_pipe);
#else
    (void)file;
#endif
}

}  // namespace

std::vector<Argument> command_line_arguments(int count, NativeChar** values)
{
    std::vector<Argument> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back({values[i], values[i]});
    return arguments;
}

std::string relative_to_current_folder(const std::string& shown)
{
    char folder[PATH_MAX];
    if (shown.empty() || shown[0] != '/' || !getcwd(folder, sizeof folder))
        return shown;
    std::string prefix = folder;
    if (prefix.back() != '/')
        prefix += '/';
    if (shown.size() <= prefix.size() || shown.compare(0, prefix.size(), prefix) != 0)
        return shown;
    return shown.substr(prefix.size());
}

// A write beyond the file size limit must fail with EFBIG rather than end
// the program, so that a rewrite can be undone.
void prepare_io()
{
    std::signal(SIGXFSZ, SIG_IGN);
    widen_pipe(standard_input);
    widen_pipe(standard_output);
}

int open_for_reading(const NativeName& name, std::string& error)
{
    int file = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        error = reason();
    return file;
}

// A FIFO swapped in after the check must not block the open either, so it
// opens without waiting and is refused by what it turned out to be.
int open_for_rewriting(const NativeName& name, std::string& error)
{
    struct stat status;
    if (stat(name.c_str(), &status) != 0) {
        error = reason();
        return -1;
    }
    if (!S_ISREG(status.st_mode)) {
        error = not_regular;
        return -1;
    }
    int file = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) {
        error = reason();
        return -1;
    }
    int flags = fcntl(file, F_GETFL);
    if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode) || flags < 0 ||
        fcntl(file, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = not_regular;
        close(file);
        return -1;
    }
    return file;
}

bool is_standard_output(int file)
{
    struct stat output, input;
    return fstat(standard_output, &output) == 0 && S_ISREG(output.st_mode) &&
           fstat(file, &input) == 0 && input.st_dev == output.st_dev &&
           input.st_ino == output.st_ino;
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

bool offset_of(int file, uint64_t& offset)
{
    struct stat status;
    if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    off_t at = lseek(file, 0, SEEK_CUR);
    offset = static_cast<uint64_t>(at);
    return at >= 0;
}

long read_at(int file, void* into, size_t size, uint64_t offset, std::string& error)
{
    size_t got = 0;
    while (got < size) {
        ssize_t put = pread(file, static_cast<char*>(into) + got, size - got, off_t(offset + got));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0) {
            error = reason();
            return -1;
        }
        if (put == 0)
            break;
        got += size_t(put);
    }
    return static_cast<long>(got);
}

void move_to(int file, uint64_t offset) { lseek(file, off_t(offset), SEEK_SET); }

namespace {

bool hold_to(int processor)
{
    cpu_set_t only;
    CPU_ZERO(&only);
    CPU_SET(processor, &only);
    return pthread_setaffinity_np(pthread_self(), sizeof only, &only) == 0;
}

}  // namespace

ProcessorPair::ProcessorPair()
{
    static_assert(sizeof(cpu_set_t) <= sizeof before_, "a processor set fits");
    cpu_set_t allowed;
    int here = sched_getcpu();
    if (here < 0 || here >= CPU_SETSIZE || sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return;
    // The next processor the thread may use, after the one it runs on.
    for (int step = 1; step < CPU_SETSIZE && second_ < 0; ++step) {
        if (CPU_ISSET((here + step) % CPU_SETSIZE, &allowed))
            second_ = (here + step) % CPU_SETSIZE;
    }
    std::memcpy(before_, &allowed, sizeof allowed);
    first_ = here;
}

ProcessorPair::~ProcessorPair()
{
    if (!first_held_)
        return;
    cpu_set_t before;
    std::memcpy(&before, before_, sizeof before);
    pthread_setaffinity_np(pthread_self(), sizeof before, &before);
}

void ProcessorPair::hold_first() { first_held_ = second_ >= 0 && hold_to(first_); }

void ProcessorPair::hold_second() const
{
    if (second_ >= 0)
        hold_to(second_);
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

bool regular_file_size(int file, uint64_t& size)
{
    struct stat status;
    if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    size = static_cast<uint64_t>(status.st_size);
    return true;
}

// Mapped with a large page's worth to spare, so that a whole large page
// starts within it; the spare pages are never written and cost nothing.
LargePages::LargePages(size_t size)
{
    constexpr size_t large_page = 2 << 20;
    size_t rounded = (size + large_page - 1) / large_page * large_page;
    size_t span = rounded + large_page;
    void* mapping = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return;
    mapping_ = mapping;
    mapped_ = span;
    uintptr_t start = (reinterpret_cast<uintptr_t>(mapping) + large_page - 1) & ~uintptr_t(large_page - 1);
    data_ = reinterpret_cast<uint8_t*>(start);
#if defined(MADV_HUGEPAGE)
    madvise(data_, rounded, MADV_HUGEPAGE);
#endif
}

LargePages::~LargePages()
{
    if (mapping_)
        munmap(mapping_, mapped_);
}

struct Rewrite::Metadata {
    struct stat original;
    Attributes attributes;
};

Rewrite::Rewrite() = default;
Rewrite::~Rewrite() { abandon(); }

bool Rewrite::begin(const NativeName& target, int source, std::string& error)
{
    metadata_ = std::make_unique<Metadata>();
    struct stat& original = metadata_->original;
    if (fstat(source, &original) != 0) {
        error = reason();
        return false;
    }
    if (!S_ISREG(original.st_mode)) {
        error = not_regular;
        return false;
    }
    target_ = resolved(target);
    if (!may_rewrite(target_, original, error) ||
        !read_attributes(source, metadata_->attributes, error))
        return false;
    NativeName folder = folder_of(target_);
    std::string name = (folder == "/" ? "" : folder) + "/.glyphmend-XXXXXX";
    catch_interrupting_signals();
    SignalsHeld held;
    file_ = mkostemp(&name[0], O_CLOEXEC);
    if (file_ < 0) {
        error = reason();
        return false;
    }
    temporary_ = name;
    pending_temporary = temporary_.c_str();
    return true;
}

// After the data: the kernel clears the set-user-ID and set-group-ID bits
// on a write and on a change of owner, and a set ACL rewrites the group
// bits, so the permission bits come last and are read back.
bool Rewrite::keep_metadata(std::string& error)
{
    const struct stat& original = metadata_->original;
    struct stat made;
    if (fstat(file_, &made) != 0) {
        error = reason();
        return false;
    }
    if ((made.st_uid != original.st_uid || made.st_gid != original.st_gid) &&
        fchown(file_, original.st_uid, original.st_gid) != 0) {
        error = "its owner and group could not be kept (" + reason() + "); not rewritten";
        return false;
    }
    if (!copy_attributes(file_, metadata_->attributes, error))
        return false;
    mode_t mode = original.st_mode & 07777;
    if (fchmod(file_, mode) != 0 || fstat(file_, &made) != 0 || (made.st_mode & 07777) != mode) {
        error = "its permission bits could not be kept; not rewritten";
        return false;
    }
    return true;
}

// Whether the target is still the file that was read, as it was read.
bool Rewrite::unchanged(std::string& error) const
{
    const struct stat& original = metadata_->original;
    struct stat now;
    if (stat(target_.c_str(), &now) == 0 && now.st_dev == original.st_dev &&
        now.st_ino == original.st_ino && now.st_size == original.st_size &&
        now.st_mtim.tv_sec == original.st_mtim.tv_sec &&
        now.st_mtim.tv_nsec == original.st_mtim.tv_nsec)
        return true;
    error = "it changed while it was repaired; not rewritten";
    return false;
}

bool Rewrite::commit(std::string& error)
{
    bool done = keep_metadata(error);
    if (done && fsync(file_) != 0) {
        error = reason();
        done = false;
    }
    if (close(file_) != 0 && done) {
        error = reason();
        done = false;
    }
    file_ = -1;
    done = done && unchanged(error);
    if (done) {
        SignalsHeld held;
        if (rename(temporary_.c_str(), target_.c_str()) == 0) {
            pending_temporary = nullptr;
            temporary_.clear();
        } else {
            error = reason();
            done = false;
        }
    }
    if (!done) {
        abandon();
        return false;
    }
    sync_folder(target_);
    return true;
}

void Rewrite::abandon()
{
    if (file_ >= 0)
        close(file_);
    file_ = -1;
    SignalsHeld held;
    if (!temporary_.empty())
        unlink(temporary_.c_str());
    pending_temporary = nullptr;
    temporary_.clear();
}
