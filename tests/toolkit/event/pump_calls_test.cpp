// The platform calls a bounded wait of the pump makes, recorded by replacing
// their entries in this program's import table: the removal flags of
// PeekMessageW and the wake mask of MsgWaitForMultipleObjects.
#include "tests/toolkit/toolkit_testing.h"

#include <cstring>
#include <vector>

namespace {

// Points this program's import of `name` from `library` at `replacement` and
// returns the routine it pointed at before (null when there is no such import).
void* replace_import(const char* library, const char* name, void* replacement)
{
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; module->Name; ++module) {
        if (_stricmp(reinterpret_cast<const char*>(base + module->Name), library) != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), name) != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE, &protection);
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), protection, &protection);
            return previous;
        }
    }
    return nullptr;
}

using PeekRoutine = BOOL(WINAPI*)(MSG*, HWND, UINT, UINT, UINT);
using WaitRoutine = DWORD(WINAPI*)(DWORD, const HANDLE*, BOOL, DWORD, DWORD);

PeekRoutine real_peek;
WaitRoutine real_wait;
std::vector<UINT> peek_flags;
std::vector<DWORD> wake_masks;

BOOL WINAPI recording_peek(MSG* message, HWND window, UINT first, UINT last, UINT flags)
{
    peek_flags.push_back(flags);
    return real_peek(message, window, first, last, flags);
}

DWORD WINAPI recording_wait(DWORD count, const HANDLE* handles, BOOL all, DWORD timeout, DWORD mask)
{
    wake_masks.push_back(mask);
    return real_wait(count, handles, all, timeout, mask);
}

// The program's start-up and shut-down around each test, with the two
// imports replaced only in between.
class PumpCalls : public ToolkitFixture {
protected:
    void SetUp() override
    {
        pump_messages();
        real_peek = reinterpret_cast<PeekRoutine>(
            replace_import("user32.dll", "PeekMessageW", reinterpret_cast<void*>(recording_peek)));
        real_wait = reinterpret_cast<WaitRoutine>(replace_import(
            "user32.dll", "MsgWaitForMultipleObjects", reinterpret_cast<void*>(recording_wait)));
        peek_flags.clear();
        wake_masks.clear();
    }
    void TearDown() override
    {
        if (real_peek)
            replace_import("user32.dll", "PeekMessageW", reinterpret_cast<void*>(real_peek));
        if (real_wait)
            replace_import("user32.dll", "MsgWaitForMultipleObjects", reinterpret_cast<void*>(real_wait));
    }
};

}  // namespace

TEST_F(PumpCalls, BoundedWaitPeeksWithRemoveNoYieldAndWakesOnInputAndAnyPostedMessage)
{
    ASSERT_NE(real_peek, nullptr) << "PeekMessageW is not imported";
    ASSERT_NE(real_wait, nullptr) << "MsgWaitForMultipleObjects is not imported";

    EXPECT_EQ(event_wait_timeout(20), 0);

    // One look before the wait, removing without yielding; a timed-out wait
    // needs no second look.
    EXPECT_EQ(peek_flags, std::vector<UINT>{0x3});
    // Input, posted, sent, timer, paint and hot-key messages, plus any posted message.
    EXPECT_EQ(wake_masks, std::vector<DWORD>{0x5FF});
}
