#include <algorithm>
#include <string>
#include <vector>

#include "LogicTestSupport.h"
#include "Reinstall.h"

using DevSim::MakeDevice;
using DevSim::Op;
using Messages = std::vector<std::u16string>;

namespace {

const std::u16string kRequested = u"usb\\vid_1234&pid_5678";

class ReinstallTest : public LogicTest {
  protected:
    // The records a marking adds, from "uStatus" on, for a flag word's low 16 bits.
    static Messages Marking(const std::u16string& before, const std::u16string& after) {
        return {u"uStatus = 0", u"nProblemNumber = 0", u"uRet = d", u"pSetbuf = " + before + u"\n",
                u"*pSetbuf = " + after};
    }
    // The records of a run, without the ones that vary (the buffer's address) or that the
    // walk adds for each member.
    Messages Markings() {
        Messages kept;
        for (const std::u16string& m : TakeMessages()) {
            if (m.starts_with(u"uStatus") || m.starts_with(u"nProblemNumber") ||
                m.starts_with(u"uRet") || m.starts_with(u"pSetbuf") || m.starts_with(u"*pSetbuf") ||
                m.find(u"XX") != std::u16string::npos || m.find(u"error") != std::u16string::npos) {
                kept.push_back(m);
            }
        }
        return kept;
    }
};

TEST_F(ReinstallTest, MarksEveryMatchingAbsentDeviceAndNothingElse) {
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0x0000),
                MakeDevice(u"ROOT\\P\\0000", {kIdShort}, true, 0x0000),
                MakeDevice(u"ROOT\\O\\0000", {kIdOther}, false, 0x0000),
                MakeDevice(u"ROOT\\B\\0000", {kIdOther, kIdShort}, false, 0xABCD0020),
                MakeDevice(u"ROOT\\C\\0000", {kIdShort}, false, 0x12340401)});
    EXPECT_EQ(Reinstall(kRequested), 1);

    const auto& devices = DevSim::Current().devices;
    EXPECT_EQ(FlagsOf(devices[0]), 0x00000020u);
    EXPECT_EQ(FlagsOf(devices[1]), 0x00000000u); // present: left alone
    EXPECT_EQ(FlagsOf(devices[2]), 0x00000000u); // another ID
    EXPECT_EQ(FlagsOf(devices[3]), 0xABCD0020u); // already set: written back unchanged
    EXPECT_EQ(FlagsOf(devices[4]), 0x12340421u); // upper bits kept
    EXPECT_EQ(DevSim::Calls(Op::SetProperty), 3u);

    Messages expected = Marking(u"0", u"20");
    expected.insert(expected.end(), {u"uStatus = 0", u"nProblemNumber = 0", u"uRet = 0"});
    for (const Messages& more : {Marking(u"20", u"20"), Marking(u"401", u"421")}) {
        expected.insert(expected.end(), more.begin(), more.end());
    }
    EXPECT_EQ(Markings(), expected);
}

TEST_F(ReinstallTest, WalkRecordsAndNoStatusRecords) {
    UseDevices({MakeDevice(u"ROOT\\O\\0000", {kIdOther}, false)});
    EXPECT_EQ(Reinstall(kRequested), 1);
    const Messages messages = TakeMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), u"===> ENTER Reinstall");
    for (const char16_t* status : {u"DEVICE_EXIST", u"DEVICE_UNPLUG", u"DEVICE_EXIST_AND_PLUG"}) {
        EXPECT_EQ(std::count(messages.begin(), messages.end(), status), 0);
    }

    // A present match: its node state is traced, nothing is changed.
    UseDevices({MakeDevice(u"ROOT\\P\\0000", {kIdShort}, true, 0x4)});
    DevSim::Current().devices[0].nodeStatus = 0x180200a;
    DevSim::Current().devices[0].problem = 0x1c;
    EXPECT_EQ(Reinstall(kRequested), 1);
    EXPECT_EQ(Markings(), (Messages{u"uStatus = 180200a", u"nProblemNumber = 1c", u"uRet = 0"}));
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[0]), 0x4u);

    // The buffer's address is traced with its own line end.
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false)});
    Reinstall(kRequested);
    const Messages marked = TakeMessages();
    EXPECT_TRUE(std::any_of(marked.begin(), marked.end(), [](const std::u16string& m) {
        return m.starts_with(u"abBuf = ") && m.ends_with(u"\n");
    }));

    // The marking's own allocation messages: a first buffer and a renewal that cannot be had.
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false),
                MakeDevice(u"ROOT\\B\\0000", {kIdShort}, false)});
    TraceLevel(2);
    DevSim::AddFault(Fail(Op::Alloc, 1, 8));
    DevSim::AddFault(Fail(Op::GetProperty, 1, 122, 1, 600));
    DevSim::AddFault(Fail(Op::Alloc, 3, 14));
    EXPECT_EQ(Reinstall(kRequested), 1);
    EXPECT_EQ(TakeMessages(),
              (Messages{u"new abBuf fail = 8 XXXXXXXXXXXXXXXXXXXX",
                        u"ERROR_INSUFFICIENT_BUFFER, renew buffer and "
                        u"SetupDiGetDeviceRegistryProperty again!",
                        u"Renew abBuf fail = e XXXXXXXXXXXXXXXXXXXX",
                        u"SetupDiGetDeviceRegistryProperty fail = e XXXXXXXXXXXXXXXXXXXX"}));
}

TEST_F(ReinstallTest, FlagFailureStopsTheWalkButKeepsEarlierMarks) {
    const auto threeAbsent = [&] {
        UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0x1),
                    MakeDevice(u"ROOT\\B\\0000", {kIdShort}, false, 0x2),
                    MakeDevice(u"ROOT\\C\\0000", {kIdShort}, false, 0x3)});
    };
    // Reading the second device's flags fails (the first hardware-ID read is call 1).
    threeAbsent();
    DevSim::AddFault(Fail(Op::GetProperty, 4, 13));
    EXPECT_EQ(Reinstall(kRequested), -1);
    EXPECT_EQ(Markings().back(), u"SetupDiGetDeviceRegistryProperty XXXXXXXXXX!!");
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[0]), 0x21u);
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[1]), 0x2u);
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[2]), 0x3u);
    EXPECT_EQ(DevSim::Calls(Op::Enum), 2u); // the third member is not visited
    EXPECT_EQ(DevSim::Calls(Op::Destroy), 1u);

    // Writing them back fails.
    threeAbsent();
    DevSim::AddFault(Fail(Op::SetProperty, 2, 5));
    EXPECT_EQ(Reinstall(kRequested), -1);
    EXPECT_EQ(Markings().back(), u"Set Device Registry Property error!!");
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[0]), 0x21u);
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[2]), 0x3u);

    // A flag word shorter than four bytes is not marked: there is no whole word to keep.
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, std::nullopt)});
    DevSim::Current().devices[0].configFlags = std::vector<uint8_t>{0x01, 0x00};
    EXPECT_EQ(Reinstall(kRequested), -1);
    EXPECT_EQ(DevSim::Calls(Op::SetProperty), 0u);
    EXPECT_EQ(DevSim::Current().devices[0].configFlags, (std::vector<uint8_t>{0x01, 0x00}));
    // One as long as the whole flag buffer is marked, and its other bytes are kept.
    std::vector<uint8_t> longFlags(260, 0x07);
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, std::nullopt)});
    DevSim::Current().devices[0].configFlags = longFlags;
    EXPECT_EQ(Reinstall(kRequested), 1);
    longFlags[0] = 0x27;
    EXPECT_EQ(DevSim::Current().devices[0].configFlags, longFlags);

    // No set at all.
    TakeMessages();
    DevSim::AddFault(Fail(Op::GetClassDevs, 2, 5));
    EXPECT_EQ(Reinstall(kRequested), -1);
    EXPECT_EQ(TakeMessages(),
              (Messages{u"===> ENTER Reinstall", u"DeviceInfoSet == INVALID_HANDLE_VALUE"}));
}

TEST_F(ReinstallTest, EachRuleMarksWhatItMatches) {
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdFull}, false, 0),
                MakeDevice(u"ROOT\\B\\0000", {kIdShort}, false, 0)});
    EXPECT_EQ(Reinstall(kRequested), 1);
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[0]), kPrefixRule ? 0x20u : 0u);
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[1]), 0x20u);
}

} // namespace
