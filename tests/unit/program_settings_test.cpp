// The program's own settings: how one registry value is judged, as a table,
// and what start-up takes from the key, on the simulated registry.
#include "settings/program_settings.h"

#include <string>
#include <vector>

#include "settings/trace.h"
#include "registry.h"
#include "unit_support.h"

namespace unit {
namespace {

struct CheckCase {
    const char* name;
    LONG lQuery;
    DWORD dwType, cbData, dwValue, dwMin, dwMax;
    bool bZeroIsOff;
    SettingOutcome outcome;
};

const CheckCase kChecks[] = {
    {"Missing", ERROR_FILE_NOT_FOUND, 0, 0, 0, 100, 5000, true, SETTING_MISSING},
    {"InRange", ERROR_SUCCESS, REG_DWORD, 4, 500, 100, 5000, true, SETTING_OK},
    {"LowEdge", ERROR_SUCCESS, REG_DWORD, 4, 100, 100, 5000, true, SETTING_OK},
    {"HighEdge", ERROR_SUCCESS, REG_DWORD, 4, 5000, 100, 5000, true, SETTING_OK},
    {"BelowRange", ERROR_SUCCESS, REG_DWORD, 4, 99, 100, 5000, true, SETTING_BAD_RANGE},
    {"AboveRange", ERROR_SUCCESS, REG_DWORD, 4, 5001, 100, 5000, true, SETTING_BAD_RANGE},
    {"ZeroIsOff", ERROR_SUCCESS, REG_DWORD, 4, 0, 100, 5000, true, SETTING_OK},
    {"ZeroNotAllowed", ERROR_SUCCESS, REG_DWORD, 4, 0, 1, 200, false, SETTING_BAD_RANGE},
    {"HugeValue", ERROR_SUCCESS, REG_DWORD, 4, 0xFFFFFFFFu, 0, 1, false, SETTING_BAD_RANGE},
    {"Text", ERROR_SUCCESS, REG_SZ, 4, 0x00303035, 100, 5000, true, SETTING_BAD_TYPE},
    {"BinaryOfFour", ERROR_SUCCESS, REG_BINARY, 4, 500, 100, 5000, true, SETTING_BAD_TYPE},
    {"ShortDword", ERROR_SUCCESS, REG_DWORD, 2, 500, 100, 5000, true, SETTING_BAD_TYPE},
    {"TooLong", ERROR_MORE_DATA, REG_BINARY, 8, 500, 100, 5000, true, SETTING_BAD_TYPE},
    {"OtherFailure", ERROR_ACCESS_DENIED, 0, 0, 0, 100, 5000, true, SETTING_BAD_TYPE},
};

class SettingCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(SettingCheck, Outcome) {
    const CheckCase& c = GetParam();
    EXPECT_EQ(CheckSetting(c.lQuery, c.dwType, c.cbData, c.dwValue, c.dwMin, c.dwMax, c.bZeroIsOff), c.outcome);
}

INSTANTIATE_TEST_SUITE_P(Values, SettingCheck, ::testing::ValuesIn(kChecks),
                         [](const ::testing::TestParamInfo<CheckCase>& p) { return std::string(p.param.name); });

class ProgramSettingsTest : public MachineTest {};

TEST_F(ProgramSettingsTest, NoKeyMeansEverythingOffAndNoOutput) {
    sim::Machine& m = Boot(sim::Config{}, {});
    gbTrace = 1;
    gdwHoldTimeMs = 700;
    gdwHoldRadius = 3;
    LoadProgramSettings();
    EXPECT_EQ(gbTrace.load(), 0);
    EXPECT_EQ(gdwHoldTimeMs.load(), 0u);
    EXPECT_EQ(gdwHoldRadius.load(), HOLD_RADIUS_DEFAULT);
    EXPECT_EQ(m.trace().count("debug_output"), 0u);
    EXPECT_EQ(m.trace().count("msgbox"), 0u);
}

TEST_F(ProgramSettingsTest, GoodValuesAreTakenAndToldOnce) {
    sim::Machine& m = Boot(sim::Config{}, {});
    m.registry().create_key(HKEY_LOCAL_MACHINE, "SOFTWARE\\RykXyLdr");
    m.registry().set_dword(HKEY_LOCAL_MACHINE, "SOFTWARE\\RykXyLdr", "HoldTimeMs", 800);
    m.registry().set_dword(HKEY_LOCAL_MACHINE, "SOFTWARE\\RykXyLdr", "HoldRadius", 12);
    m.registry().set_dword(HKEY_LOCAL_MACHINE, "SOFTWARE\\RykXyLdr", "Trace", 1);
    LoadProgramSettings();
    EXPECT_EQ(gbTrace.load(), 1);
    EXPECT_EQ(gdwHoldTimeMs.load(), 800u);
    EXPECT_EQ(gdwHoldRadius.load(), 12u);
    const auto lines = m.trace().events("debug_output");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].fields.at("text").get<std::string>(),
              "RykXyLdr: settings key=\"HKEY_LOCAL_MACHINE\\SOFTWARE\\RykXyLdr\" Trace=1 HoldTimeMs=800 HoldRadius=12\n");
    gbTrace = 0;
}

}  // namespace
}  // namespace unit
