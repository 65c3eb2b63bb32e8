// The per-user override store (TracePlatform::OpenOverrideKey / QueryOverride over the user.reg
// text file) on arbitrary files, and InitTrace taking its settings from it.
//
// Input: a value name (a length byte and UTF-8), a buffer size (1 byte), then the file's bytes.
//
// What must hold, for the name from the input and the three setting names: a query without a
// buffer gives the size; a buffer of exactly that size gets the data; any smaller buffer gets
// ERROR_MORE_DATA, the size, and nothing but the fill pattern; names match whatever the case of
// their ASCII letters. InitTrace takes an override exactly when its data is four bytes.
#include <cstdlib>
#include <optional>

#include "FuzzSupport.h"
#include "TracePlatform.h"
#include "TracePlatformHost.h"
#include "XTrace.h"

namespace {

constexpr int32_t kFound = 0;
constexpr int32_t kNotFound = 2;
constexpr int32_t kMoreData = 234;
constexpr uint8_t kFill = 0xCD;

const std::filesystem::path& StorePath() {
    static const std::filesystem::path path = [] {
        std::filesystem::path store = ScratchFolder() / "user.reg";
        setenv("XTRACE_USER_REGISTRY", store.c_str(), 1);
        // No settings file beside this "executable": InitTrace starts from the defaults.
        TracePlatformHost::SetExecutablePath(
            TracePlatformHost::CorePath((ScratchFolder() / "Installer").string()));
        return store;
    }();
    return path;
}

// Reads `name` into a block of exactly `capacity` bytes.
int32_t Query(TracePlatform::KeyHandle key, const std::u16string& name, uint32_t capacity,
              std::vector<uint8_t>* data, uint32_t* size) {
    const std::unique_ptr<uint8_t[]> block(new uint8_t[capacity == 0 ? 1 : capacity]);
    *size = capacity;
    const int32_t result = TracePlatform::QueryOverride(key, name.c_str(), block.get(), size);
    data->assign(block.get(), block.get() + capacity);
    return result;
}

// The value's data, checked against every way of reading it; nullopt when there is none.
std::optional<std::vector<uint8_t>> CheckValue(TracePlatform::KeyHandle key,
                                               const std::u16string& name, uint32_t tryCapacity) {
    uint32_t length = 0;
    const int32_t probe = TracePlatform::QueryOverride(key, name.c_str(), nullptr, &length);
    FUZZ_CHECK(probe == kFound || probe == kNotFound);
    std::vector<uint8_t> data;
    uint32_t size = 0;
    if (probe == kNotFound) {
        FUZZ_CHECK(Query(key, name, tryCapacity, &data, &size) == kNotFound);
        return std::nullopt;
    }

    FUZZ_CHECK(Query(key, name, length, &data, &size) == kFound && size == length);
    const std::vector<uint8_t> value = data;

    std::vector<uint8_t> again;
    const int32_t result = Query(key, SwapCase(name), tryCapacity, &again, &size);
    if (tryCapacity >= length) {
        FUZZ_CHECK(result == kFound && size == length);
        FUZZ_CHECK(std::equal(value.begin(), value.end(), again.begin()));
    } else {
        FUZZ_CHECK(result == kMoreData && size == length);
        for (uint8_t byte : again) {
            FUZZ_CHECK(byte == kFill);
        }
    }
    return value;
}

// What InitTrace must make of an override: its value when the data is four bytes, otherwise
// the default it started from.
int32_t Expected(const std::optional<std::vector<uint8_t>>& value, int32_t defaultValue) {
    if (!value || value->size() != 4) {
        return defaultValue;
    }
    const std::vector<uint8_t>& b = *value;
    return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                                static_cast<uint32_t>(b[2]) << 16 |
                                static_cast<uint32_t>(b[3]) << 24);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const std::vector<uint8_t> nameBytes = in.Bytes(in.Byte() % 32);
    const uint32_t tryCapacity = in.Byte();
    const std::vector<uint8_t> fileBytes = in.Rest();
    WriteFile(StorePath(), std::string(fileBytes.begin(), fileBytes.end()));

    TracePlatform::KeyHandle key = nullptr;
    const int32_t opened = TracePlatform::OpenOverrideKey(&key);
    FUZZ_CHECK(opened == kFound || opened == kNotFound);
    FUZZ_CHECK((opened == kFound) == (key != nullptr));
    if (opened != kFound) {
        return 0;
    }
    const std::u16string name =
        TracePlatformHost::FromUtf8(std::string(nameBytes.begin(), nameBytes.end()));
    CheckValue(key, name, tryCapacity);
    const auto logFile = CheckValue(key, u"LOGFILE", tryCapacity);
    const auto view = CheckValue(key, u"VIEW", tryCapacity);
    const auto level = CheckValue(key, u"LEVEL", tryCapacity);
    TracePlatform::CloseOverrideKey(key);

    InitTrace();
    FUZZ_CHECK(TraceSettings.LOGFILE == Expected(logFile, 0));
    FUZZ_CHECK(TraceSettings.VIEW == Expected(view, 0));
    FUZZ_CHECK(TraceSettings.LEVEL == Expected(level, 3));
    TraceSettings = {0, 0, 3};
    LogFileName.clear();
    return 0;
}
