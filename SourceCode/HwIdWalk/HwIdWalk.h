// The hardware-ID walk shared by the device status lookup and the reinstall marking: enumerate
// a device information set, read each member's hardware-ID list into a growing heap buffer and
// compare its entries with the requested ID by this program's match rule.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "DeviceServices.h"

struct IdBufferRelease {
    void operator()(uint8_t* buffer) const { DevSvc::ReleaseBuffer(buffer); }
};
// The one ID buffer a lookup holds at a time.
using IdBuffer = std::unique_ptr<uint8_t[], IdBufferRelease>;

struct DeviceSetDestroy {
    void operator()(void* set) const;
};
// A device information set; destroyed (and a failure traced) when released.
using DeviceSet = std::unique_ptr<void, DeviceSetDestroy>;

// Builds the set of devices that `flags` selects. Empty, with its record traced, when no set
// could be built.
DeviceSet BuildDeviceSet(uint32_t flags);

// The allocation messages differ between the two users of the walk.
struct WalkMessages {
    const char16_t* newBufferFail;   // "new ... fail = %x XXXXXXXXXXXXXXXXXXXX"
    const char16_t* renewBufferFail; // "Renew ... fail = %x XXXXXXXXXXXXXXXXXXXX"
};
// The status lookup's (and the companions' survey, which walks as it does) and the marking's.
inline constexpr WalkMessages kLookupWalkMessages = {
    u"new szbuf fail = %x XXXXXXXXXXXXXXXXXXXX",
    u"Renew szbuf fail = %x XXXXXXXXXXXXXXXXXXXX",
};
inline constexpr WalkMessages kReinstallWalkMessages = {
    u"new abBuf fail = %x XXXXXXXXXXXXXXXXXXXX",
    u"Renew abBuf fail = %x XXXXXXXXXXXXXXXXXXXX",
};

enum class AfterMatch { NextDevice, Stop };

// Called for the device whose entry matched, after its "FOUND!!!" record.
using MatchHandler = std::function<AfterMatch(DevSvc::DevInfoSet, DevSvc::DevInfoData*)>;

// What a walk passes over without a word to its caller, for a caller that must know: each
// member whose list could not be read (with the reason: the read's error, or the allocation's),
// and the last error when the enumeration ended. Installer's own lookups pass none.
struct WalkObserver {
    std::function<void(DevSvc::DevInfoSet, DevSvc::DevInfoData*, uint32_t error)> unreadable;
    std::function<void(uint32_t error)> ended;
};

// Walks `set` from member 0 up. Returns true when a handler asked to stop, false when the
// enumeration ended. `buffer` belongs to the caller, which releases it after the set.
bool WalkHardwareIds(DevSvc::DevInfoSet set, const std::u16string& csHwID,
                     const WalkMessages& messages, IdBuffer& buffer, const MatchHandler& onMatch,
                     const WalkObserver* observer = nullptr);

// One lookup's walk: it builds the set of devices that `flags` selects and owns that set and the
// ID buffer. When it goes, the set is destroyed (a failure traced) and then the buffer released,
// on every path, so that a caller's own records about the walk's outcome come before those.
class DeviceWalk {
  public:
    explicit DeviceWalk(uint32_t flags) : set_(BuildDeviceSet(flags)) {}
    // False when no set could be built (its record is traced): there is nothing to walk.
    bool Built() const { return set_ != nullptr; }
    // WalkHardwareIds over the set with the walk's own buffer.
    bool Run(const std::u16string& csHwID, const WalkMessages& messages,
             const MatchHandler& onMatch, const WalkObserver* observer = nullptr) {
        return WalkHardwareIds(set_.get(), csHwID, messages, buffer_, onMatch, observer);
    }

  private:
    // Members go in the reverse of this order: the set first, then the buffer.
    IdBuffer buffer_;
    DeviceSet set_;
};

// The largest hardware-ID list the walk accepts, and how often it renews its buffer for one
// device, so that a system that keeps asking for more cannot keep the walk busy forever.
inline constexpr uint32_t kMaxIdListBytes = 16u * 1024 * 1024;
inline constexpr int kMaxBufferRenewals = 8;
