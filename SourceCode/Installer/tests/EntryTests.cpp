#include <string>
#include <vector>

#include "AppFrameworkHost.h"
#include "Entry.h"
#include "LogicTestSupport.h"
#include "XTrace.h"

using DevSim::MakeDevice;
using DevSim::Op;
using Messages = std::vector<std::u16string>;

namespace {

class EntryTest : public LogicTest {
  protected:
    int Run(std::vector<const char16_t*> argv) {
        const int argc = static_cast<int>(argv.size());
        argv.push_back(nullptr);
        return Installer::_tmain(argc, argv.data());
    }
};

TEST_F(EntryTest, WrongArgumentCountsAreTracedAndChangeNothing) {
    const Messages kBad = {u"_tmain==> Parameter not correct!"};
    EXPECT_EQ(Run({u"Installer"}), 0);
    EXPECT_EQ(TakeMessages(),
              (Messages{u"argc =1", u"csHwID =", u"pInfFullName =(null)", kBad[0]}));
    EXPECT_EQ(Run({u"Installer", u"USB\\VID_1234"}), 0);
    EXPECT_EQ(TakeMessages(),
              (Messages{u"argc =2", u"csHwID =USB\\VID_1234", u"pInfFullName =(null)", kBad[0]}));
    EXPECT_EQ(Run({u"Installer", u"USB\\VID_1234", u"C:\\d.inf", u"extra"}), 0);
    EXPECT_EQ(TakeMessages(), (Messages{u"argc =4", u"csHwID =USB\\VID_1234",
                                        u"pInfFullName =C:\\d.inf", kBad[0]}));
    EXPECT_EQ(DevSim::Calls(Op::GetClassDevs), 0u);
    EXPECT_EQ(Run({}), 0);
}

TEST_F(EntryTest, FrameworkFailureEndsTheRun) {
    AppFrameworkHostFailNext(true);
    EXPECT_EQ(Run({u"Installer", u"USB\\VID_1234", u"C:\\d.inf"}), 0);
    // The message carries its own line feed, so the record is followed by an empty line.
    EXPECT_EQ(TakeMessages().back(), u"Fatal Error: MFC initialization failed\n");
    EXPECT_EQ(DevSim::Calls(Op::GetClassDevs), 0u);
}

TEST_F(EntryTest, TwoArgumentsRunTheInstallationWithTheIdAsReceived) {
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0)});
    const std::u16string inf = MakeInf();
    EXPECT_EQ(Run({u"Installer", u"USB\\Vid_1234&PID_5678", inf.c_str()}), 0);
    const Messages messages = TakeMessages();
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[1], u"csHwID =USB\\Vid_1234&PID_5678");
    EXPECT_EQ(messages[2], u"pInfFullName =" + inf);
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[0]), 0x20u);
}

TEST_F(EntryTest, DefaultSettingsWriteNothing) {
    std::filesystem::remove(dir_ / "TqDbgCfg.ini");
    UseDevices({MakeDevice(u"ROOT\\A\\0000", {kIdShort}, false, 0)});
    EXPECT_EQ(Run({u"Installer", u"USB\\VID_1234&PID_5678", MakeInf().c_str()}), 0);
    EXPECT_EQ(Run({u"Installer"}), 0);
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(FlagsOf(DevSim::Current().devices[0]), 0x20u);
    EXPECT_TRUE(LogFileName.empty());
}

} // namespace
