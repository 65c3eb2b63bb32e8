// Shared fixture for the installation logic: a simulated machine, the trace captured from the
// debugger channel, and checks that every set and buffer was released.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DeviceSimulator.h"
#include "MatchRule.h"
#include "TestIds.h"

// Which match rule this test binary was linked with (MatchPrefix or MatchEquality).
inline const bool kPrefixRule = std::u16string_view(MatchRuleName()) == u"prefix";

class LogicTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Installs `devices` as the machine, with the driver store in the test's folder.
    void UseDevices(std::vector<DevSim::Device> devices);
    // Lets only records of `level` and above through from now on.
    void TraceLevel(int level);

    // The message part of every record so far (the text after "(line) : ", without the line
    // end the trace adds), and forgets them. Every record is also checked as it is made: its
    // whole line has the layout with its site's base name and line, and its base name and level
    // are those the catalogue of the program's records (LogicTestSupport.cpp) gives its format.
    std::vector<std::u16string> TakeMessages();

    // Writes the shared table's complete package into the test's folder, its INF named `name`,
    // and returns the INF's path.
    std::u16string MakeInf(const std::string& name = "sample.inf");
    std::filesystem::path StoreDir() const { return dir_ / "store"; }

    std::filesystem::path dir_;
    std::vector<std::u16string> lines_;
};

uint32_t FlagsOf(const DevSim::Device& device);

// A fault for calls number `call` on of `op`.
inline DevSim::Fault Fail(DevSim::Op op, uint32_t call, uint32_t error, uint32_t count = 1,
                          std::optional<uint32_t> requiredSize = std::nullopt) {
    return DevSim::Fault{op, call, error, count, requiredSize};
}
