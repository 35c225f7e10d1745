// The vector scans behind replacement: every start alignment, and strings
// that end at the last unit of a readable page.
#include "runtime/strings/unit_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

using Scan = const unit16* (*)(const unit16*, const unit16*, uint32_t);

struct NamedScan {
    const char* name;
    Scan scan;
};

std::vector<NamedScan> available_scans()
{
    std::vector<NamedScan> scans{{"dispatch", find_occurrence_or_end},
                                 {"sse2", find_occurrence_or_end_sse2}};
    if (scan_avx2_supported())
        scans.push_back({"avx2", find_occurrence_or_end_avx2});
    return scans;
}

const unit16* plain_scan(const unit16* p, const std::u16string& search)
{
    for (; *p; ++p) {
        size_t i = 0;
        while (i < search.size() && p[i] == search[i])
            ++i;
        if (i == search.size())
            return p;
    }
    return p;
}

// Two pages, the second unreadable: a read past the first one faults.
struct GuardedPage {
    char* memory = nullptr;
    size_t page = 0;

    GuardedPage()
    {
#ifdef _WIN32
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page = info.dwPageSize;
        memory = static_cast<char*>(VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE,
                                                 PAGE_READWRITE));
        DWORD old;
        VirtualProtect(memory + page, page, PAGE_NOACCESS, &old);
#else
        page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void* mapped = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                            -1, 0);
        memory = mapped == MAP_FAILED ? nullptr : static_cast<char*>(mapped);
        if (memory)
            mprotect(memory + page, page, PROT_NONE);
#endif
    }
    ~GuardedPage()
    {
#ifdef _WIN32
        VirtualFree(memory, 0, MEM_RELEASE);
#else
        if (memory)
            munmap(memory, 2 * page);
#endif
    }
    unit16* last_units(size_t count) { return reinterpret_cast<unit16*>(memory + page) - count; }
};

}  // namespace

TEST(UnitScan, FindsWhatAPlainLoopFindsFromEveryAlignment)
{
    alignas(64) unit16 buffer[320];
    std::mt19937 random(424242);
    for (const NamedScan& scan : available_scans()) {
        for (int round = 0; round < 400; ++round) {
            // Many candidates (first units), fewer whole occurrences.
            for (unit16& unit : buffer)
                unit = static_cast<unit16>(u'a' + random() % 4);
            buffer[100 + random() % 200] = 0;
            std::u16string search(1 + random() % 3, u'a');
            for (char16_t& unit : search)
                unit = static_cast<char16_t>(u'a' + random() % 4);
            if (round % 7 == 0)
                search = std::u16string(1, u'\0');  // the terminator itself
            for (size_t start = 0; start < 80; ++start) {
                const unit16* p = buffer + start;
                ASSERT_EQ(scan.scan(p, search.c_str(), static_cast<uint32_t>(search.size())) - buffer,
                          plain_scan(p, search) - buffer)
                    << scan.name << ", start " << start << ", round " << round;
            }
        }
    }
}

TEST(UnitScan, StopsAtATerminatorOnTheLastUnitOfAPage)
{
    GuardedPage guarded;
    ASSERT_NE(guarded.memory, nullptr);
    const size_t units = 100;
    unit16* text = guarded.last_units(units);
    for (size_t i = 0; i < units; ++i)
        text[i] = u'x';
    text[units - 1] = 0;
    for (const NamedScan& scan : available_scans()) {
        for (size_t start = 0; start < units; ++start) {
            ASSERT_EQ(scan.scan(text + start, u"xy", 2), text + units - 1)
                << scan.name << ", start " << start;
        }
    }
}
