// Environment probes: whether the system can alpha-blend and whether visual
// themes are in effect, looked at once at start-up.
#include "toolkit/window/window.h"

HMODULE blend_library;
AlphaBlendRoutine alpha_blend;
int32_t themed;

namespace {

constexpr uint32_t PLATFORM_WINDOWS_9X = 1;   // VER_PLATFORM_WIN32_WINDOWS
constexpr uint32_t PLATFORM_NT = 2;           // VER_PLATFORM_WIN32_NT
constexpr uint32_t CONTROLS_VERSION_6 = 0x60000;
// The version when the common-controls library cannot tell: 0.1.
constexpr uint32_t CONTROLS_VERSION_UNKNOWN = 1;

// The common-controls library's version record, as DllGetVersion fills it.
struct LibraryVersion {
    DWORD size;
    DWORD major;
    DWORD minor;
    DWORD build;
    DWORD platform;
};
static_assert(sizeof(LibraryVersion) == 20, "DllGetVersion reads a 20-byte record");

using DllGetVersionRoutine = HRESULT(CALLBACK*)(LibraryVersion*);
using IsAppThemedRoutine = BOOL(WINAPI*)();

const wchar_t* wide(const unit16* text)
{
    return reinterpret_cast<const wchar_t*>(text);
}

uint32_t controls_version_of(HMODULE controls)
{
    auto get_version = reinterpret_cast<DllGetVersionRoutine>(
        reinterpret_cast<void*>(GetProcAddress(controls, "DllGetVersion")));
    LibraryVersion version = {};
    version.size = sizeof(version);
    if (!get_version || get_version(&version) < 0)
        return CONTROLS_VERSION_UNKNOWN;
    return (version.major & 0xFFFF) << 16 | (version.minor & 0xFFFF);
}

uint32_t read_controls_version(const unit16* library)
{
    HMODULE controls = LoadLibraryW(wide(library));
    if (!controls)
        return CONTROLS_VERSION_UNKNOWN;
    uint32_t version = controls_version_of(controls);
    FreeLibrary(controls);
    return version;
}

}  // namespace

int32_t version_allows_themes(uint32_t platform_id, uint32_t major_version, uint32_t minor_version)
{
    if (platform_id == PLATFORM_WINDOWS_9X)
        return 0;
    if (platform_id == PLATFORM_NT && (major_version < 5 || (major_version == 5 && minor_version == 0)))
        return 0;
    return 1;
}

int32_t themes_answer(uint32_t controls_version, int32_t app_themed)
{
    return app_themed && controls_version >= CONTROLS_VERSION_6;
}

int32_t themes_decide(const OSVERSIONINFOW* version, int32_t (*probe)())
{
    if (version &&
        !version_allows_themes(version->dwPlatformId, version->dwMajorVersion, version->dwMinorVersion))
        return 0;
    return probe() ? 1 : 0;
}

int32_t themes_in_use_from(const unit16* controls_library, const unit16* theme_library)
{
    uint32_t version = read_controls_version(controls_library);
    HMODULE theme = LoadLibraryW(wide(theme_library));
    if (!theme)
        return 0;
    auto is_app_themed = reinterpret_cast<IsAppThemedRoutine>(
        reinterpret_cast<void*>(GetProcAddress(theme, "IsAppThemed")));
    int32_t result = is_app_themed && themes_answer(version, is_app_themed());
    FreeLibrary(theme);
    return result;
}

int32_t themes_in_use()
{
    return themes_in_use_from(u"COMCTL32.DLL", u"uxtheme.dll");
}

void environment_init()
{
    blend_library = LoadLibraryW(L"msimg32.dll");
    alpha_blend = blend_library ? reinterpret_cast<AlphaBlendRoutine>(reinterpret_cast<void*>(
                                      GetProcAddress(blend_library, "AlphaBlend")))
                                : nullptr;
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    themed = themes_decide(GetVersionExW(&version) ? &version : nullptr, themes_in_use);
}

void environment_end()
{
    FreeLibrary(blend_library);
    blend_library = nullptr;
    alpha_blend = nullptr;
}
