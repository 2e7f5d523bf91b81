// Reading scenario files: what a well-formed file turns into, and where the
// messages for a broken one point.
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "driver/protocol.h"
#include "scenario.h"

namespace {

using runner::parse_scenario;
using runner::RegistryValueEntry;
using runner::Scenario;
using runner::ScenarioError;
using runner::Step;
namespace stimuli = runner::stimuli;

constexpr const char* kFile = "t.toml";

// One touchscreen, so that steps may name touchscreen 0.
const std::string kOneScreen = "[[touchscreen]]\nserial = \"TS-1\"\n";

struct BadCase {
    const char* name;
    std::string text;
    int line;
    int column;  // 0: not checked
    const char* key;
    const char* says;  // a piece of the message
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

class BrokenScenario : public testing::TestWithParam<BadCase> {};

TEST_P(BrokenScenario, NamesFileLineAndKey) {
    const BadCase& c = GetParam();
    try {
        parse_scenario(c.text, kFile);
        FAIL() << "accepted:\n" << c.text;
    } catch (const ScenarioError& e) {
        EXPECT_EQ(e.pos().file, kFile);
        EXPECT_EQ(e.pos().line, c.line) << e.what();
        if (c.column) {
            EXPECT_EQ(e.pos().column, c.column) << e.what();
        }
        EXPECT_EQ(e.key(), c.key) << e.what();
        EXPECT_NE(e.message().find(c.says), std::string::npos) << e.what();
        const std::string where = std::string(kFile) + ":" + std::to_string(c.line) + ":";
        EXPECT_EQ(std::string(e.what()).rfind(where, 0), 0u) << e.what();
        if (*c.key) {
            EXPECT_NE(std::string(e.what()).find(std::string(c.key) + ": "), std::string::npos) << e.what();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, BrokenScenario,
    testing::Values(
        BadCase{"TomlSyntax", "[machine]\nwindows = \"98\nx = 1\n", 2, 0, "", ""},
        BadCase{"UnknownSection", "[machin]\nwindows = \"98\"\n", 1, 2, "machin", "unknown key"},
        BadCase{"UnknownMachineKey", "[machine]\nwindows = \"98\"\nmonitor = []\n", 3, 1, "machine.monitor",
                "known here: windows, monitors"},
        BadCase{"MistypedBool", "[machine]\n\ndriver = \"yes\"\n", 3, 1, "machine.driver", "must be true or false"},
        BadCase{"UnknownWindows", "[machine]\nwindows = \"2003\"\n", 2, 1, "machine.windows", "unknown Windows version"},
        BadCase{"OpenVxdSpelling", "[machine]\nopen_vxd_handle = \"absent\"\n", 2, 1, "machine.open_vxd_handle",
                "\"missing\""},
        BadCase{"EmptyMonitor",
                "[machine]\nmonitors = [ { left = 0, top = 0, right = 1024, bottom = 768 },\n"
                "  { left = 1024, top = 0, right = 1024, bottom = 768 } ]\n",
                3, 27, "machine.monitors[1].right", "greater than left"},
        BadCase{"MonitorWithoutBottom", "[machine]\nmonitors = [ { left = 0, top = 0, right = 10 } ]\n", 2, 0,
                "machine.monitors[0]", "needs `bottom`"},
        BadCase{"ExistingObjectNotString", "[machine]\nexisting_objects = [\"A\", 3]\n", 2, 0,
                "machine.existing_objects[1]", "object name"},
        BadCase{"RegistryFloat", "[registry]\n'SYSTEM\\X' = { A = 1, B = 2.5 }\n", 2, 23, "registry.'SYSTEM\\X'.B",
                "REG_DWORD"},
        BadCase{"RegistryDwordTooBig", "[registry]\n'K' = { A = 4294967296 }\n", 2, 9, "registry.'K'.A", "32 bits"},
        BadCase{"RegistryByte", "[registry]\n'K' = { A = { binary = [1, 256] } }\n", 2, 0, "registry.'K'.A.binary[1]",
                "0 to 255"},
        BadCase{"RegistryBinaryKey", "[registry]\n'K' = { A = { bytes = [1] } }\n", 2, 0, "registry.'K'.A",
                "needs `binary`"},
        BadCase{"RegistryReadOnlyType", "[registry]\n'K' = { read_only = 1 }\n", 2, 9, "registry.'K'.read_only",
                "true or false"},
        BadCase{"TouchscreenWithoutSerial", "[[touchscreen]]\nmonitor = 0\n", 1, 0, "touchscreen[0]", "needs `serial`"},
        BadCase{"AlignmentTypo", kOneScreen + "alignment = { OffsetX = 1, ScrDX = 2 }\n", 3, 28,
                "touchscreen[0].alignment.ScrDX", "unknown key"},
        BadCase{"CalibrationNever", "[calibration]\nready_after_ms = -2\n", 2, 1, "calibration.ready_after_ms",
                "from -1"},
        BadCase{"RefuseUnknownRequest", "[[refuse]]\nrequest = \"REQ_GET_TOUCHES\"\ntimes = 1\n", 2, 1,
                "refuse[0].request", "REQ_GET_TOUCH,"},
        BadCase{"RefuseIndexOnOtherRequest", "[[refuse]]\nrequest = \"REQ_GET_TOUCH\"\nindex = 0\n", 3, 1,
                "refuse[0].index", "REQ_GET_TOUCHSCREEN"},
        BadCase{"RefuseNothing", "[[refuse]]\nrequest = \"REQ_GET_TOUCH\"\n", 1, 0, "refuse[0]", "refuses nothing"},
        BadCase{"StepTwoStimuli", kOneScreen + "[[step]]\nwait_ms = 5\nclose = true\n", 5, 1, "step[1].close",
                "already has `wait_ms`"},
        BadCase{"StepNoStimulus", "[[step]]\nnote = \"nothing\"\n", 1, 0, "step[1]", "needs one stimulus"},
        BadCase{"StepUnknownKey", "[[step]]\nwait_ms = 5\n[[step]]\nclsoe = true\n", 4, 1, "step[2].clsoe",
                "known here: note, touch, tap"},
        BadCase{"TouchFlagTypo", kOneScreen + "[[step]]\ntouch = { screen = 0, x = 1, y = 2, kind = 5, relase = true }\n",
                4, 47, "step[1].touch.relase", "unknown key"},
        BadCase{"TouchWithoutKind", kOneScreen + "[[step]]\ntouch = { screen = 0, x = 1, y = 2 }\n", 4, 0,
                "step[1].touch", "needs `kind`"},
        BadCase{"TouchKindRange", kOneScreen + "[[step]]\ntouch = { screen = 0, x = 1, y = 2, kind = 256 }\n", 4, 0,
                "step[1].touch.kind", "0 to 255"},
        BadCase{"QuickOnQuickKind",
                kOneScreen + "[[step]]\ntouch = { screen = 0, x = 1, y = 2, kind = 0x81, quick = true }\n", 4, 0,
                "step[1].touch.quick", "0x80"},
        BadCase{"TouchScreenMissing", kOneScreen + "[[step]]\ntap = { screen = 1, x = 1, y = 2 }\n", 4, 0,
                "step[1].tap.screen", "no touchscreen 1"},
        BadCase{"TapAtOutOfRange", kOneScreen + "[[step]]\ntap = { screen = 0, at = [1.5, 0] }\n", 4, 0,
                "step[1].tap.at[0]", "0 to 1"},
        BadCase{"TapAtAndXY", kOneScreen + "[[step]]\ntap = { screen = 0, at = [0.5, 0.5], x = 3 }\n", 4, 0,
                "step[1].tap.at", "not both"},
        BadCase{"CommandLparamRange", "[[step]]\ncommand = { wparam = 1, lparam = 0x100000000 }\n", 2, 0,
                "step[1].command.lparam", "4294967295"},
        BadCase{"CloseFalse", "[[step]]\nclose = false\n", 2, 1, "step[1].close", "only be true"},
        BadCase{"DisplayWithoutMonitors", "[[step]]\ndisplay = { }\n", 2, 0, "step[1].display", "needs `monitors`"},
        BadCase{"StepsWrittenAsTable", "[step]\nwait_ms = 1\n", 1, 0, "step", "[[step]]"},
        BadCase{"SettleNotBool", "[[step]]\nwait_ms = 1\nsettle = 0\n", 3, 0, "step[1].settle", ""},
        BadCase{"RegistryStepBadValue", "[[step]]\nregistry = { 'SOFTWARE\\RykXyLdr' = { Trace = 1.5 } }\n", 2, 0,
                "step[1].registry.'SOFTWARE\\RykXyLdr'.Trace", "REG_DWORD"}),
    [](const testing::TestParamInfo<BadCase>& i) { return std::string(i.param.name); });

TEST(ScenarioFile, MissingFileIsNamed) {
    try {
        runner::load_scenario("/nonexistent/dir/x.toml");
        FAIL();
    } catch (const ScenarioError& e) {
        EXPECT_EQ(e.pos().file, "/nonexistent/dir/x.toml");
        EXPECT_NE(std::string(e.what()).find("cannot open"), std::string::npos);
    }
}

// The packet flags a touch step hands to the driver.
struct FlagCase {
    const char* touch;
    uint32_t flags;
};

void PrintTo(const FlagCase& c, std::ostream* os) { *os << c.touch; }

class TouchFlags : public testing::TestWithParam<FlagCase> {};

TEST_P(TouchFlags, ComposeKindAndFlagBits) {
    const Scenario sc = parse_scenario(kOneScreen + "[[step]]\ntouch = { screen = 0, x = 3, y = 4, " +
                                           GetParam().touch + " }\n",
                                       kFile);
    ASSERT_EQ(sc.steps.size(), 1u);
    ASSERT_TRUE(std::holds_alternative<stimuli::Touch>(sc.steps[0].stimulus));
    EXPECT_EQ(std::get<stimuli::Touch>(sc.steps[0].stimulus).flags, GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(Steps, TouchFlags,
                         testing::Values(FlagCase{"kind = 5", 5}, FlagCase{"kind = 5, release = true", 0x105},
                                         FlagCase{"kind = 0, quick = true", 0x80},
                                         FlagCase{"kind = 1, quick = true, far = true", 0x281},
                                         FlagCase{"kind = 6, quick = true, far = true, release = true", 0x386},
                                         FlagCase{"kind = 0x85", 0x85},
                                         FlagCase{"kind = 5, release = false, far = false", 5}));

TEST(ScenarioFile, WholeFileBecomesMachineAndSteps) {
    const Scenario sc = parse_scenario(R"(
[machine]
windows = "nt4"
monitors = [ { left = 0, top = 0, right = 800, bottom = 600, work = { left = 0, top = 0, right = 800, bottom = 570 } },
             { left = -640, top = 0, right = 0, bottom = 480 } ]
driver = false
open_vxd_handle = "returns-zero"
existing_objects = ["RykXyLdrAppMutex", "event:Other"]
system_directory = 'D:\WINNT\system32'

[registry]
'SYSTEM\CurrentControlSet\Services\Orvane' = { MouseMode = 6, Neg = -1, Name = "x", Lang = { binary = [0, 255] } }
'Enum\Ryk\TS-1' = { read_only = true }

[[touchscreen]]
serial = "TS-1"
monitor = 1
registry_path = 'Enum\Ryk\TS-1'
alignment = { OffsetX = 10, Dy = 2900 }
quick_touch = { dx = 50, dy = 60 }

[calibration]
ready_after_ms = -1
sets_exit_event_after_ms = 500

[[refuse]]
request = "REQ_GET_TOUCHSCREEN"
index = 0

[[step]]
tap = { screen = 0, at = [0, 1] }
note = "first"

[[step]]
add_touchscreen = { serial = "TS-2", signal = false }

[[step]]
quick_touch_params = { screen = 1, dx = 5, dy = 6 }

[[step]]
command = { wparam = 1, lparam = 0xFFFF0000 }

[[step]]
refuse = { request = "REQ_GET_TOUCH", always = true, touchscreen = 1 }

[[step]]
display = { monitors = [ { left = 0, top = 0, right = 1024, bottom = 768 } ] }

[[step]]
wait_ms = 250
)",
                                       kFile);
    EXPECT_EQ(sc.config.windows, sim::Windows::nt4);
    ASSERT_EQ(sc.config.monitors.size(), 2u);
    EXPECT_EQ(sc.config.monitors[0].work.bottom, 570);
    EXPECT_EQ(sc.config.monitors[1].rc.left, -640);
    EXPECT_EQ(sc.config.monitors[1].work.right, 0);  // no work area: the whole monitor
    EXPECT_FALSE(sc.config.driver);
    EXPECT_EQ(sc.config.open_vxd_handle, sim::OpenVxd::returns_zero);
    EXPECT_EQ(sc.config.existing_objects, (std::vector<std::string>{"RykXyLdrAppMutex", "event:Other"}));
    EXPECT_EQ(sc.config.system_directory, "D:\\WINNT\\system32");
    EXPECT_EQ(runner::calibration_program_path(sc.config.system_directory), "D:\\WINNT\\system32\\Quavel.exe");

    ASSERT_EQ(sc.registry.size(), 2u);
    const auto& service = sc.registry[0];  // in file order
    EXPECT_EQ(service.path, "SYSTEM\\CurrentControlSet\\Services\\Orvane");
    EXPECT_FALSE(service.read_only);
    auto value = [&](const std::string& name) {
        for (const auto& v : service.values)
            if (v.name == name) return v;
        ADD_FAILURE() << "no value " << name;
        return RegistryValueEntry{};
    };
    EXPECT_EQ(value("MouseMode").type, RegistryValueEntry::Type::dword);
    EXPECT_EQ(value("MouseMode").dword, 6u);
    EXPECT_EQ(value("Neg").dword, 0xFFFFFFFFu);
    EXPECT_EQ(value("Name").type, RegistryValueEntry::Type::sz);
    EXPECT_EQ(value("Name").text, "x");
    EXPECT_EQ(value("Lang").type, RegistryValueEntry::Type::binary);
    EXPECT_EQ(value("Lang").bytes, (std::vector<uint8_t>{0, 255}));
    EXPECT_TRUE(sc.registry[1].read_only);
    EXPECT_TRUE(sc.registry[1].values.empty());

    ASSERT_EQ(sc.touchscreens.size(), 1u);
    const auto& ts = sc.touchscreens[0];
    EXPECT_EQ(ts.monitor, 1);
    EXPECT_EQ(ts.registry_path, "Enum\\Ryk\\TS-1");
    ASSERT_TRUE(ts.alignment.has_value());
    EXPECT_EQ(ts.alignment->OffsetX, 10);
    EXPECT_EQ(ts.alignment->Dy, 2900);
    EXPECT_EQ(ts.alignment->ScrDx, 0);
    EXPECT_EQ(ts.quick_dx, 50);
    EXPECT_EQ(ts.quick_dy, 60);

    ASSERT_TRUE(sc.calibration.has_value());
    EXPECT_EQ(sc.calibration->ready_after_ms, -1);
    EXPECT_EQ(sc.calibration->sets_exit_event_after_ms, 500);
    EXPECT_FALSE(sc.calibration->console);

    ASSERT_EQ(sc.refusals.size(), 1u);
    EXPECT_EQ(sc.refusals[0].code, REQ_GET_TOUCHSCREEN);
    EXPECT_EQ(sc.refusals[0].rule.index, 0);
    EXPECT_EQ(sc.refusals[0].rule.touchscreen, -1);

    ASSERT_EQ(sc.steps.size(), 7u);
    const Step& tap = sc.steps[0];
    ASSERT_TRUE(std::holds_alternative<stimuli::Tap>(tap.stimulus));
    EXPECT_EQ(tap.action, "tap");
    EXPECT_EQ(tap.number, 1);
    EXPECT_EQ(tap.pos.line, 30);  // its [[step]] line
    const runner::TouchPoint& point = std::get<stimuli::Tap>(tap.stimulus).point;
    EXPECT_EQ(point.screen, 0);
    EXPECT_TRUE(point.at);
    EXPECT_EQ(point.u, 0.0);
    EXPECT_EQ(point.v, 1.0);
    EXPECT_EQ(tap.note, "first");
    EXPECT_EQ(tap.args.dump(), R"({"at":[0,1],"screen":0})");

    const auto& added = std::get<stimuli::AddTouchscreen>(sc.steps[1].stimulus);
    EXPECT_EQ(added.touchscreen.serial, "TS-2");
    EXPECT_EQ(added.touchscreen.monitor, -1);
    EXPECT_FALSE(added.signal);
    EXPECT_EQ(std::get<stimuli::QuickTouchParams>(sc.steps[2].stimulus).screen, 1);  // the touchscreen added in step 2
    const auto& command = std::get<stimuli::Command>(sc.steps[3].stimulus);
    EXPECT_EQ(command.wparam, 1u);
    EXPECT_EQ(command.lparam, static_cast<int32_t>(0xFFFF0000u));
    EXPECT_EQ(command.message, "RykPlexor4683");
    const runner::RefusalRule& refusal = std::get<stimuli::Refuse>(sc.steps[4].stimulus).refusal;
    EXPECT_EQ(refusal.code, REQ_GET_TOUCH);
    EXPECT_TRUE(refusal.rule.always);
    EXPECT_EQ(refusal.rule.touchscreen, 1);
    const auto& monitors = std::get<stimuli::Display>(sc.steps[5].stimulus).monitors;
    ASSERT_EQ(monitors.size(), 1u);
    EXPECT_EQ(monitors[0].rc.right, 1024);
    EXPECT_EQ(std::get<stimuli::Wait>(sc.steps[6].stimulus).ms, 250u);
}

TEST(ScenarioFile, SettleAndRegistrySteps) {
    const Scenario sc = parse_scenario(
        "[[step]]\nwait_ms = 5\nsettle = false\n"
        "[[step]]\nregistry = { 'SOFTWARE\\RykXyLdr' = { HoldTimeMs = 500, Trace = 1 } }\n",
        kFile);
    ASSERT_EQ(sc.steps.size(), 2u);
    EXPECT_FALSE(sc.steps[0].settle);
    EXPECT_TRUE(sc.steps[1].settle);
    ASSERT_TRUE(std::holds_alternative<stimuli::Registry>(sc.steps[1].stimulus));
    const auto& keys = std::get<stimuli::Registry>(sc.steps[1].stimulus).keys;
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].path, "SOFTWARE\\RykXyLdr");
    ASSERT_EQ(keys[0].values.size(), 2u);
    EXPECT_EQ(keys[0].values[0].name, "HoldTimeMs");
    EXPECT_EQ(keys[0].values[0].dword, 500u);
}

TEST(ScenarioFile, EmptyFileIsTheDefaultMachine) {
    const Scenario sc = parse_scenario("", kFile);
    EXPECT_EQ(sc.config.windows, sim::Windows::v98);
    EXPECT_TRUE(sc.config.driver);
    EXPECT_TRUE(sc.touchscreens.empty());
    EXPECT_FALSE(sc.calibration.has_value());
    EXPECT_TRUE(sc.steps.empty());
}

}  // namespace
