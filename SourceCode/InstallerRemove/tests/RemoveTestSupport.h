// What InstallerRemove's tests add to the companions' fixture: the removal itself and the
// report's fixed parts.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "CompanionTest.h"
#include "DeviceServices.h"
#include "RemoveCommand.h"

inline bool Has(const CommandResult& result, const std::string& text) {
    return Narrow(result.out).find(text) != std::string::npos;
}

class RemoveTest : public CompanionTest {
  protected:
    CommandResult Remove(std::vector<std::u16string> options = {}) {
        options.push_back(u"USB\\VID_1234&PID_5678");
        options.push_back(inf_);
        return RunRemove(options);
    }
    std::vector<std::string> Store() const {
        std::vector<std::string> names;
        if (std::filesystem::exists(StoreDir())) {
            for (const auto& entry : std::filesystem::directory_iterator(StoreDir())) {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Header(const char* command = "remove") const {
        return CompanionTest::Header(command);
    }
    std::string Copy(const char* name = "oem0.inf") const {
        return "copy " + StoreName() + "\\" + name + ": ";
    }
};
