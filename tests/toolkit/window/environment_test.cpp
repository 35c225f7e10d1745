// Environment probes: the themed decision on the systems it distinguishes,
// and the real probes against the platform's own libraries.
#include "toolkit/window/window.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// ---- The decision ---------------------------------------------------------------

struct System {
    const char* name;
    bool version_read;
    uint32_t platform_id, major, minor;
    uint32_t controls_version;
    int32_t app_themed;
    int32_t expected;
    bool probed;  // whether the libraries are to be looked at at all
};

const System systems[] = {
    {"Windows 98", true, 1, 4, 10, 0x60000, 1, 0, false},
    {"Windows NT 4.0", true, 2, 4, 0, 0x60000, 1, 0, false},
    {"Windows 2000", true, 2, 5, 0, 0x60000, 1, 0, false},
    {"XP, common controls 6.0, themes on", true, 2, 5, 1, 0x60000, 1, 1, true},
    {"XP, common controls 6.0, themes off", true, 2, 5, 1, 0x60000, 0, 0, true},
    {"XP, common controls 5.82, themes on", true, 2, 5, 1, 0x50052, 1, 0, true},
    {"XP, no common-controls version", true, 2, 5, 1, 1, 1, 0, true},
    {"Server 2003", true, 2, 5, 2, 0x60000, 1, 1, true},
    {"Windows 10, common controls 6.16", true, 2, 10, 0, 0x60010, 1, 1, true},
    {"unknown platform", true, 3, 1, 0, 0x60000, 1, 1, true},
    {"version unreadable", false, 0, 0, 0, 0x60000, 1, 1, true},
};

const System* current_system;
int32_t probes_asked;

int32_t probe_current_system()
{
    ++probes_asked;
    return themes_answer(current_system->controls_version, current_system->app_themed);
}

TEST(ThemesDecision, FollowsVersionThenCommonControlsThenThemedAnswer)
{
    for (const System& system : systems) {
        current_system = &system;
        probes_asked = 0;
        OSVERSIONINFOW version = {};
        version.dwOSVersionInfoSize = sizeof(version);
        version.dwPlatformId = system.platform_id;
        version.dwMajorVersion = system.major;
        version.dwMinorVersion = system.minor;
        EXPECT_EQ(system.expected, themes_decide(system.version_read ? &version : nullptr,
                                                 probe_current_system))
            << system.name;
        EXPECT_EQ(system.probed ? 1 : 0, probes_asked) << system.name << ": libraries probed";
    }
}

TEST(ThemesDecision, CommonControlsSixIsTheThreshold)
{
    EXPECT_EQ(0, themes_answer(0x5FFFF, 1));
    EXPECT_EQ(1, themes_answer(0x60000, 1));
    EXPECT_EQ(1, themes_answer(0x70000, 1));
    EXPECT_EQ(0, themes_answer(0x60000, 0));
}

// ---- The probes against the platform ----------------------------------------------

bool module_loaded(const wchar_t* name)
{
    return GetModuleHandleW(name) != nullptr;
}

// Common controls 6 for the current thread while it lives, as the program's
// manifest asks for them.
class CommonControlsSix {
public:
    CommonControlsSix()
    {
        wchar_t directory[MAX_PATH];
        GetTempPathW(MAX_PATH, directory);
        path_ = std::wstring(directory) + L"environment_test.manifest";
        FILE* file = _wfopen(path_.c_str(), L"w");
        if (!file)
            return;
        std::fputs(
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
            "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
            "  <dependency><dependentAssembly>\n"
            "    <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\"\n"
            "      version=\"6.0.0.0\" processorArchitecture=\"*\"\n"
            "      publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>\n"
            "  </dependentAssembly></dependency>\n"
            "</assembly>\n",
            file);
        std::fclose(file);
        ACTCTXW request = {};
        request.cbSize = sizeof(request);
        request.lpSource = path_.c_str();
        context_ = CreateActCtxW(&request);
        if (context_ != INVALID_HANDLE_VALUE && !ActivateActCtx(context_, &cookie_)) {
            ReleaseActCtx(context_);
            context_ = INVALID_HANDLE_VALUE;
        }
    }
    ~CommonControlsSix()
    {
        if (context_ != INVALID_HANDLE_VALUE) {
            DeactivateActCtx(0, cookie_);
            ReleaseActCtx(context_);
        }
        DeleteFileW(path_.c_str());
    }
    bool active() const { return context_ != INVALID_HANDLE_VALUE; }

private:
    std::wstring path_;
    HANDLE context_ = INVALID_HANDLE_VALUE;
    ULONG_PTR cookie_ = 0;
};

// The common-controls version the platform hands out now, asked directly.
uint32_t platform_controls_version()
{
    struct { DWORD size, major, minor, build, platform; } version = {20, 0, 0, 0, 0};
    HMODULE controls = LoadLibraryW(L"COMCTL32.DLL");
    auto get_version = reinterpret_cast<HRESULT(CALLBACK*)(void*)>(
        reinterpret_cast<void*>(GetProcAddress(controls, "DllGetVersion")));
    if (get_version)
        get_version(&version);
    FreeLibrary(controls);
    return version.major << 16 | version.minor;
}

// The platform's own themed answer, asked directly.
int32_t platform_says_themed()
{
    HMODULE theme = LoadLibraryW(L"uxtheme.dll");
    if (!theme)
        return 0;
    auto is_app_themed = reinterpret_cast<BOOL(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(theme, "IsAppThemed")));
    int32_t answer = is_app_themed && is_app_themed();
    FreeLibrary(theme);
    return answer;
}

TEST(ThemesProbe, MissingThemeLibraryOrRoutineGivesZero)
{
    CommonControlsSix controls;
    EXPECT_EQ(0, themes_in_use_from(u"COMCTL32.DLL", u"no_such_theme_library.dll"));
    EXPECT_EQ(0, themes_in_use_from(u"COMCTL32.DLL", u"kernel32.dll"));
}

TEST(ThemesProbe, CommonControlsWithoutVersionGiveZero)
{
    EXPECT_EQ(0, themes_in_use_from(u"no_such_controls_library.dll", u"uxtheme.dll"));
    EXPECT_EQ(0, themes_in_use_from(u"kernel32.dll", u"uxtheme.dll"));
}

TEST(ThemesProbe, CommonControlsFiveNeverTheme)
{
    // Without a manifest a program gets the version 5 library.
    EXPECT_EQ(0, themes_in_use());
}

// Wine 8 pin: the side-by-side common controls that the version-6 manifest
// selects still report 5.81, so the program runs unthemed under Wine although
// the platform calls it themed.
TEST(ThemesProbe, WineCommonControlsReportFiveEvenUnderTheVersionSixManifest)
{
    CommonControlsSix controls;
    ASSERT_TRUE(controls.active());
    EXPECT_EQ(0x50051u, platform_controls_version());
    EXPECT_EQ(1, platform_says_themed());
    EXPECT_EQ(0, themes_in_use());
}

// The real libraries are loaded at start-up anyway, so two that nothing else
// loads play their roles here.
TEST(ThemesProbe, ReleasesTheLibrariesItLoads)
{
    ASSERT_FALSE(module_loaded(L"cabinet.dll"));
    ASSERT_FALSE(module_loaded(L"imagehlp.dll"));
    EXPECT_EQ(0, themes_in_use_from(u"cabinet.dll", u"imagehlp.dll"));
    EXPECT_FALSE(module_loaded(L"cabinet.dll"));
    EXPECT_FALSE(module_loaded(L"imagehlp.dll"));
}

TEST(EnvironmentProbes, KeepAlphaBlendUntilTheEnd)
{
    ASSERT_FALSE(module_loaded(L"msimg32.dll"));
    environment_init();
    ASSERT_NE(nullptr, blend_library);
    EXPECT_TRUE(module_loaded(L"msimg32.dll"));
    auto expected = reinterpret_cast<AlphaBlendRoutine>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"msimg32.dll"), "AlphaBlend")));
    EXPECT_NE(nullptr, expected);
    EXPECT_EQ(expected, alpha_blend);
    // The platform reports a version that can theme, so the probe decides.
    EXPECT_EQ(themes_in_use(), themed);
    environment_end();
    EXPECT_FALSE(module_loaded(L"msimg32.dll"));
    EXPECT_EQ(nullptr, blend_library);
    EXPECT_EQ(nullptr, alpha_blend);
}

}  // namespace
