// The little of the operating system that glyphmend-cli needs, with a POSIX
// side and a Windows side: file names, reading and writing whole buffers,
// and the atomic rewrite of a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <vector>

#ifdef _WIN32
using NativeChar = wchar_t;
#else
using NativeChar = char;
#endif
using NativeName = std::basic_string<NativeChar>;

// A command-line argument: as the system names the file, and as messages
// and check lines show it (UTF-8).
struct Argument {
    NativeName native;
    std::string shown;
};

// The arguments after the program's name.
std::vector<Argument> command_line_arguments(int count, NativeChar** values);

// A full file name inside the current folder, as messages show it, made
// relative to that folder; any other name as it is.
std::string relative_to_current_folder(const std::string& shown);

// Standard input and output carry bytes unchanged (no line-end or code-page
// translation), and a write that the system refuses fails as a write. A pipe
// on either is widened where the system allows, for fewer wake-ups.
void prepare_io();

constexpr int standard_input = 0;
constexpr int standard_output = 1;

// Opens a file for reading; -1 with the reason in `error` when it cannot.
int open_for_reading(const NativeName& name, std::string& error);
// Opens a file to be rewritten in place: a regular file only, told before
// it is opened, since opening a FIFO waits for a writer.
int open_for_rewriting(const NativeName& name, std::string& error);
// Whether `file` is the very file that standard output appends to, so that
// copying one into the other would never end.
bool is_standard_output(int file);
void close_file(int file);
// Back to the first byte, for a second reading; false with the reason.
bool rewind_file(int file, std::string& error);
// Up to `size` bytes; 0 at the end; -1 with the reason on failure.
long read_some(int file, void* into, size_t size, std::string& error);
// Where `file` stands, when it is a regular file, which reads at any
// offset; false for anything else.
bool offset_of(int file, uint64_t& offset);
// Up to `size` bytes from `offset` on, as many as there are: fewer only at
// the end. -1 with the reason on failure.
long read_at(int file, void* into, size_t size, uint64_t offset, std::string& error);
// Moves `file` to `offset`, where a reading that went that far leaves it.
void move_to(int file, uint64_t offset);
// All `size` bytes, or false with the reason.
bool write_all(int file, const void* bytes, size_t size, std::string& error);
// The size of a regular file; false for anything else.
bool regular_file_size(int file, uint64_t& size);

// Zeroed memory in large pages (2 MiB) where the system gives them: on
// Linux when transparent large pages are allowed, and otherwise in ordinary
// pages there. A large page is faulted in at once, which took as long as
// ten to thirty 4 KiB pages one by one. data() is null on Windows, where
// large pages need a privilege that users seldom hold.
class LargePages {
public:
    explicit LargePages(size_t size);
    ~LargePages();
    LargePages(const LargePages&) = delete;
    LargePages& operator=(const LargePages&) = delete;

    uint8_t* data() const { return data_; }

private:
    void* mapping_ = nullptr;
    size_t mapped_ = 0;
    uint8_t* data_ = nullptr;
};

// Two threads that share a file's work, each held to a processor of its own:
// left to itself, the scheduler of a virtual machine ran both on one
// processor for milliseconds at a time, and the two threads took from 21 to
// 37 ms over 64 MiB of damaged text (held apart, 20 to 23). The pair is made
// on the first thread; hold_first holds the thread to the processor it ran
// on then, until the pair goes, when it gets back the processors it had, and
// hold_second holds the thread that calls it to another one. The second
// thread starts before the first is held, or it would start held with it,
// and wait for the first to give way before it ran at all. With a single
// processor to use, nothing is held. On Windows, where nothing of this was
// measured, the system places the threads itself.
class ProcessorPair {
public:
    ProcessorPair();
    ~ProcessorPair();
    ProcessorPair(const ProcessorPair&) = delete;
    ProcessorPair& operator=(const ProcessorPair&) = delete;

    void hold_first();
    void hold_second() const;

private:
    int first_ = -1;   // the first thread's processor
    int second_ = -1;  // the second thread's, or -1 for none
    bool first_held_ = false;
    // The first thread's processors before, as the system's set of them.
    alignas(8) unsigned char before_[128] = {};
};

// A file rewritten whole or not at all: a temporary file beside the target
// that takes the target's place only when every byte of it is on the disk
// and it carries all of the target's metadata the system keeps (owner,
// group, permission bits, ACL, extended attributes; on Windows the
// attributes). A target that could not be replaced without losing
// something (another name for it, another owner, no write permission) is
// refused. Destroying an unfinished rewrite removes the temporary file, and
// so does an interrupting signal or console event, which then ends the
// program with 128 + its number.
class Rewrite {
public:
    Rewrite();
    ~Rewrite();
    Rewrite(const Rewrite&) = delete;
    Rewrite& operator=(const Rewrite&) = delete;

    // Makes the temporary file for `target`, which `source` (open for
    // reading) holds; false with the reason when it cannot.
    bool begin(const NativeName& target, int source, std::string& error);
    // Where the new contents go.
    int file() const { return file_; }
    // Flushes the temporary file to the disk and renames it over the target;
    // on failure the target stays as it was and the temporary file goes.
    bool commit(std::string& error);

private:
    void abandon();
    bool keep_metadata(std::string& error);
    bool unchanged(std::string& error) const;

    struct Metadata;  // what the target had, as the system keeps it
    std::unique_ptr<Metadata> metadata_;
    NativeName target_;
    NativeName temporary_;
    int file_ = -1;
};
