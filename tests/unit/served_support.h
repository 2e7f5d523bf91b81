// A fixture for tests that need touchscreens served the way start-up and
// window creation serve them: the driver open, the touchscreen list
// enumerated, gcsDriver ready, a worker list and a monitor table. Whatever
// workers a test leaves are stopped, and gcsDriver deleted after them, as
// shutdown does.
#pragma once

#include <vector>

#include "app/app.h"
#include "driver/channel.h"
#include "inventory/touchscreen_list.h"
#include "monitors/monitor_table.h"
#include "touch/workers.h"
#include "unit_support.h"

namespace unit {

class ServedFixture : public MachineTest {
protected:
    sim::Machine& Serve(const std::vector<TouchscreenConfig>& screens) { return Serve(screens, DefaultConfig()); }
    sim::Machine& Serve(const std::vector<TouchscreenConfig>& screens, sim::Config config) {
        sim::Machine& m = Boot(std::move(config), screens);
        OpenDriver();
        gpTouchscreens = new TouchscreenList(ghDriver);
        gpTouchscreens->Enumerate();
        InitializeCriticalSection(&gcsDriver);
        driver_lock_ready_ = true;
        gpWorkers = new WorkerList;
        giNumberOfMonitors = GetSystemMetrics(SM_CMONITORS);
        gnMonitorsAtStart = giNumberOfMonitors;
        EXPECT_EQ(EnumMonitors(0, INIT_MONITOR_INFO), 0);
        return m;
    }

    // The machine a test gets when it names none.
    virtual sim::Config DefaultConfig() const { return sim::Config(); }

    // The test deletes gcsDriver itself.
    void DriverLockDeleted() { driver_lock_ready_ = false; }

    void TearDown() override {
        if (gpWorkers != nullptr) StopAllWorkers();
        if (driver_lock_ready_) DeleteCriticalSection(&gcsDriver);
        MachineTest::TearDown();
    }

private:
    bool driver_lock_ready_ = false;
};

}  // namespace unit
