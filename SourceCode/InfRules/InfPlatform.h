// The platform a driver package is checked for, and the TargetOS decoration rule of an INF's
// [Manufacturer] entries: which models section applies on a platform and Windows version.
// Windows has SetupDiGetActualModelsSectionW for the same choice; Wine does not export it, so
// the choice is made here, the same way on every target.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace InfRules {

enum class Platform { X86, Amd64, Arm64 };

// "NTx86", "NTamd64", "NTarm64": the decoration that names the platform.
std::u16string PlatformDecoration(Platform platform);
// "x86", "amd64", "arm64": the suffix of [SourceDisksFiles.<arch>] and the state file's name.
std::u16string ArchitectureName(Platform platform);
std::optional<Platform> PlatformFromName(const std::u16string& name);

// The running Windows version a decoration is compared with.
struct OsVersion {
    uint32_t major = 10;
    uint32_t minor = 0;
    uint32_t build = 0;
    uint32_t productType = 1; // VER_NT_WORKSTATION
};

// The models section that a [Manufacturer] entry names for `platform`: `base` with the
// decoration that applies and comes closest to the running version, or `base` itself when no
// decoration applies and the platform is x86 (other platforms need a decoration naming them).
// nullopt: no models section applies. A decoration is NT[arch][.major[.minor[.productType
// [.suiteMask[.build]]]]]; without an arch it is for x86 only; its version applies when it is
// not above the running one; the suite mask is not compared.
std::optional<std::u16string> ModelsSection(const std::u16string& base,
                                            const std::vector<std::u16string>& decorations,
                                            Platform platform, const OsVersion& os);

// Lower-cases the letters A to Z, as INF names and hardware IDs are compared.
std::u16string Lower(std::u16string text);

} // namespace InfRules
