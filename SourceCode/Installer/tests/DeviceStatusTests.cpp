#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "DeviceServices.h"
#include "DeviceStatus.h"
#include "LogicTestSupport.h"
#include "XTrace.h"

using DevSim::MakeDevice;
using DevSim::Op;
using Messages = std::vector<std::u16string>;

namespace {

constexpr uint32_t kPresentFlags = DevSvc::DIGCF_PRESENT | DevSvc::DIGCF_ALLCLASSES;
constexpr uint32_t kAllFlags = DevSvc::DIGCF_ALLCLASSES;

std::u16string Lower(std::u16string text) {
    for (char16_t& c : text) {
        c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    }
    return text;
}

// The records the match rule adds for one compared entry.
Messages Compared(const std::u16string& entry, const std::u16string& csHwID) {
    if (!kPrefixRule) {
        return {};
    }
    const size_t at = Lower(entry).find(csHwID);
    const std::string position = at == std::u16string::npos ? "-1" : std::to_string(at);
    return {u"cs = " + Lower(entry),
            u"cs.Find(" + csHwID + u") = " + std::u16string(position.begin(), position.end())};
}

// How the walk's records show an entry.
std::u16string Shown(const std::u16string& entry) {
    return kPrefixRule ? Lower(entry) : entry;
}

void Append(Messages& to, const Messages& more) {
    to.insert(to.end(), more.begin(), more.end());
}

class DeviceStatusTest : public LogicTest {};

TEST_F(DeviceStatusTest, EmptySetIsUnplugWithoutAnyBuffer) {
    EXPECT_EQ(GetDeviceStatus(u"usb\\vid_1234&pid_5678", kPresentFlags), DEVICE_UNPLUG);
    EXPECT_EQ(TakeMessages(), Messages{u"DEVICE_UNPLUG"});
    EXPECT_EQ(DevSim::Calls(Op::Alloc), 0u);
    EXPECT_EQ(DevSim::Calls(Op::Destroy), 1u);
}

TEST_F(DeviceStatusTest, MatchOnSecondEntryOfThirdMemberEndsTheWalk) {
    const std::u16string csHwID = u"usb\\vid_1234&pid_5678";
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdOther}, true),
                MakeDevice(u"ROOT\\B\\0000", {u"ACPI\\PNP0A03"}, true),
                MakeDevice(u"ROOT\\C\\0000", {u"HID\\VID_0001", kIdShort}, true),
                MakeDevice(u"ROOT\\D\\0000", {kIdShort}, true)});
    EXPECT_EQ(GetDeviceStatus(csHwID, kPresentFlags), DEVICE_EXIST_AND_PLUG);

    Messages expected;
    const std::u16string memberIds[2] = {kIdOther, u"ACPI\\PNP0A03"};
    for (int i = 0; i < 2; ++i) {
        Append(expected, {u"In Loop find SetupDiEnumDeviceInfo i=" + std::u16string(1, u'0' + i),
                          u"SetupDiGetDeviceRegistryProperty OK!!!"});
        Append(expected, Compared(memberIds[i], csHwID));
        expected.push_back(u"Next HwID = " + Shown(memberIds[i]) + u"\n");
    }
    Append(expected,
           {u"In Loop find SetupDiEnumDeviceInfo i=2", u"SetupDiGetDeviceRegistryProperty OK!!!"});
    Append(expected, Compared(u"HID\\VID_0001", csHwID));
    expected.push_back(u"Next HwID = " + Shown(u"HID\\VID_0001") + u"\n");
    Append(expected, Compared(kIdShort, csHwID));
    Append(expected, {u"FOUND!!! HwID = " + Shown(kIdShort), u"DEVICE_EXIST_AND_PLUG"});
    EXPECT_EQ(TakeMessages(), expected);
    EXPECT_EQ(DevSim::Calls(Op::Enum), 3u);
}

TEST_F(DeviceStatusTest, FlagsDecideWhichDevicesCountAndWhatAMatchYields) {
    UseDevices({MakeDevice(u"ROOT\\P\\0000", {kIdShort}, true),
                MakeDevice(u"ROOT\\A\\0000", {kIdOther}, false)});
    EXPECT_EQ(GetDeviceStatus(u"usb\\vid_1234&pid_5678", kPresentFlags), DEVICE_EXIST_AND_PLUG);
    EXPECT_EQ(GetDeviceStatus(u"usb\\vid_1234&pid_5678", kAllFlags), DEVICE_EXIST);
    EXPECT_EQ(GetDeviceStatus(u"pci\\ven_8086&dev_1234", kPresentFlags), DEVICE_UNPLUG);
    EXPECT_EQ(GetDeviceStatus(u"pci\\ven_8086&dev_1234", kAllFlags), DEVICE_EXIST);
    const Messages messages = TakeMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), u"DEVICE_EXIST"), 2);
}

TEST_F(DeviceStatusTest, MatchRuleDiffersOnlyWhereTheProgramsDiffer) {
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdFull}, true)});
    // A proper prefix: only the prefix rule matches.
    EXPECT_EQ(GetDeviceStatus(u"usb\\vid_1234&pid_5678", kPresentFlags),
              kPrefixRule ? DEVICE_EXIST_AND_PLUG : DEVICE_UNPLUG);
    // The whole ID: both rules match, whatever the case of the entry.
    EXPECT_EQ(GetDeviceStatus(u"usb\\vid_1234&pid_5678&rev_0100", kPresentFlags),
              DEVICE_EXIST_AND_PLUG);
    // A to Z, the ends included, are lower-cased on the entry's side for both rules.
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {u"ACPI\\VEN_AZ"}, true)});
    EXPECT_EQ(GetDeviceStatus(u"acpi\\ven_az", kPresentFlags), DEVICE_EXIST_AND_PLUG);
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdFull}, true)});
    // An upper-case letter in the request: equality ignores case, prefix never matches.
    EXPECT_EQ(GetDeviceStatus(u"USB\\vid_1234&pid_5678&rev_0100", kPresentFlags),
              kPrefixRule ? DEVICE_UNPLUG : DEVICE_EXIST_AND_PLUG);
    // An empty request matches nothing under either rule, though the prefix rule finds it at
    // position 0 of every entry and says so.
    TakeMessages();
    EXPECT_EQ(GetDeviceStatus(u"", kPresentFlags), DEVICE_UNPLUG);
    Messages expected = {u"In Loop find SetupDiEnumDeviceInfo i=0",
                         u"SetupDiGetDeviceRegistryProperty OK!!!"};
    Append(expected, Compared(kIdFull, u""));
    Append(expected, {u"Next HwID = " + Shown(kIdFull) + u"\n", u"DEVICE_UNPLUG"});
    EXPECT_EQ(TakeMessages(), expected);
}

TEST_F(DeviceStatusTest, LongListIsReadAgainIntoABufferOfTheReportedSize) {
    std::vector<std::u16string> ids;
    for (int i = 0; i < 12; ++i) {
        ids.push_back(u"USB\\VID_1234&PID_5678&MI_0" + std::u16string(1, u'0' + i % 10));
    }
    DevSim::Device device = MakeDevice(u"ROOT\\A\\0000", {}, true);
    device.hardwareIds = DevSim::MultiSz({ids[0], ids[1], ids[2], ids[3], ids[4], ids[5], ids[6],
                                          ids[7], ids[8], ids[9], ids[10], kIdShort});
    ASSERT_GT(device.hardwareIds->size(), 260u);
    UseDevices({device});
    EXPECT_EQ(GetDeviceStatus(u"usb\\vid_1234&pid_5678", kAllFlags), DEVICE_EXIST);
    const Messages messages = TakeMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(),
                         u"ERROR_INSUFFICIENT_BUFFER, renew buffer and "
                         u"SetupDiGetDeviceRegistryProperty again!"),
              1);
    EXPECT_EQ(messages[1], u"ERROR_INSUFFICIENT_BUFFER, renew buffer and "
                           u"SetupDiGetDeviceRegistryProperty again!");
    EXPECT_EQ(DevSim::Calls(Op::GetProperty), 2u);
    EXPECT_EQ(DevSim::Calls(Op::Alloc), 2u);

    // A list that fits at once is read once.
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, true)});
    GetDeviceStatus(u"usb\\vid_1234&pid_5678", kAllFlags);
    EXPECT_EQ(DevSim::Calls(Op::GetProperty), 1u);
}

TEST_F(DeviceStatusTest, UnreadableDevicesAreSkippedWithTheirRecords) {
    DevSim::Device noIds = MakeDevice(u"ROOT\\N\\0000", {}, true);
    noIds.hardwareIds.reset();
    UseDevices({MakeDevice(u"ROOT\\B\\0000", {kIdShort}, true), noIds,
                MakeDevice(u"ROOT\\C\\0000", {kIdShort}, true)});
    TraceLevel(2);
    // With the log file on, each record opens and appends to it, which on Windows changes the
    // thread's last error: the second record after a failed renewal still shows the renewal's.
    TraceSettings.LOGFILE = 1;
    LogFileName = u"walk.log";
    DevSim::AddFault(Fail(Op::Alloc, 1, 8));                 // member 0: its first buffer
    DevSim::AddFault(Fail(Op::GetProperty, 2, 122, 1, 600)); // member 2 asks for more ...
    DevSim::AddFault(Fail(Op::Alloc, 4, 14));                // ... which cannot be had
    DevSim::AddFault(Fail(Op::Destroy, 1, 6));
    EXPECT_EQ(GetDeviceStatus(u"usb\\vid_1234&pid_5678", kPresentFlags), DEVICE_UNPLUG);
    EXPECT_EQ(TakeMessages(),
              (Messages{u"new szbuf fail = 8 XXXXXXXXXXXXXXXXXXXX",
                        u"SetupDiGetDeviceRegistryProperty fail = d XXXXXXXXXXXXXXXXXXXX",
                        u"ERROR_INSUFFICIENT_BUFFER, renew buffer and "
                        u"SetupDiGetDeviceRegistryProperty again!",
                        u"Renew szbuf fail = e XXXXXXXXXXXXXXXXXXXX",
                        u"SetupDiGetDeviceRegistryProperty fail = e XXXXXXXXXXXXXXXXXXXX",
                        u"SetupDiDestroyDeviceInfoList failed!"}));

    DevSim::AddFault(Fail(Op::GetClassDevs, 2, 5));
    EXPECT_EQ(GetDeviceStatus(u"usb\\vid_1234&pid_5678", kPresentFlags), -1);
    EXPECT_EQ(TakeMessages(), Messages{u"DeviceInfoSet == INVALID_HANDLE_VALUE"});

    // One byte of list data holds no entry, though the byte after it in the buffer is zero.
    DevSim::Device oneByte = MakeDevice(u"ROOT\\O\\0000", {}, true);
    oneByte.hardwareIds = std::vector<uint8_t>{0x41};
    UseDevices({oneByte});
    TraceLevel(1);
    EXPECT_EQ(GetDeviceStatus(u"a", kPresentFlags), DEVICE_UNPLUG);
    EXPECT_EQ(TakeMessages(),
              (Messages{u"In Loop find SetupDiEnumDeviceInfo i=0",
                        u"SetupDiGetDeviceRegistryProperty OK!!!", u"DEVICE_UNPLUG"}));
}

TEST_F(DeviceStatusTest, SystemThatKeepsAskingForMoreCannotHoldTheWalk) {
    const std::u16string fail = u"SetupDiGetDeviceRegistryProperty fail = 7a XXXXXXXXXXXXXXXXXXXX";
    const std::u16string renew =
        u"ERROR_INSUFFICIENT_BUFFER, renew buffer and SetupDiGetDeviceRegistryProperty again!";
    // A required size of 0, one that does not grow, one just past the largest list believed
    // (16 MiB), and one whose +2 would overflow.
    for (uint32_t required : {0u, 260u, 16u * 1024 * 1024 + 1, 0xFFFFFFFFu}) {
        UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, true)});
        TraceLevel(2);
        DevSim::AddFault(Fail(Op::GetProperty, 1, 122, 0, required));
        EXPECT_EQ(GetDeviceStatus(u"usb\\vid_1234&pid_5678", kPresentFlags), DEVICE_UNPLUG);
        EXPECT_EQ(TakeMessages(), Messages{fail}) << required;
        EXPECT_EQ(DevSim::Calls(Op::GetProperty), 1u);
    }
    // Exactly the largest list believed is renewed for.
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, true)});
    DevSim::AddFault(Fail(Op::GetProperty, 1, 122, 1, 16u * 1024 * 1024));
    EXPECT_EQ(GetDeviceStatus(u"usb\\vid_1234&pid_5678", kPresentFlags), DEVICE_EXIST_AND_PLUG);
    EXPECT_EQ(TakeMessages(), Messages{renew});
    // A size that grows every time but is never enough: renewed a bounded number of times.
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, true)});
    for (uint32_t call = 1; call <= 64; ++call) {
        DevSim::AddFault(Fail(Op::GetProperty, call, 122, 1, 1000 * call));
    }
    EXPECT_EQ(GetDeviceStatus(u"usb\\vid_1234&pid_5678", kPresentFlags), DEVICE_UNPLUG);
    Messages expected(8, renew);
    expected.push_back(fail);
    EXPECT_EQ(TakeMessages(), expected);
}

TEST_F(DeviceStatusTest, MalformedListsAreReadOnlyWithinTheirBytes) {
    auto raw = [](std::u16string text, size_t extraBytes) {
        std::vector<uint8_t> bytes(text.size() * 2 + extraBytes, 0x41);
        std::memcpy(bytes.data(), text.data(), text.size() * 2);
        return bytes;
    };
    DevSim::Device unterminated = MakeDevice(u"ROOT\\A\\0000", {}, true);
    unterminated.hardwareIds =
        raw(u"PCI\\X" + std::u16string(1, u'\0') + u"USB\\VID_1234&PID_5678", 0);
    DevSim::Device odd = MakeDevice(u"ROOT\\B\\0000", {}, true);
    odd.hardwareIds = raw(u"USB\\VID", 1);
    UseDevices({unterminated, odd});
    EXPECT_EQ(GetDeviceStatus(u"usb\\vid_1234&pid_5678", kPresentFlags), DEVICE_EXIST_AND_PLUG);
    GetDeviceStatus(u"usb\\vid_9999", kPresentFlags);
    const Messages messages = TakeMessages();
    EXPECT_NE(
        std::find(messages.begin(), messages.end(), u"Next HwID = " + Shown(u"USB\\VID") + u"\n"),
        messages.end());
}

} // namespace
