// The touchscreen workers: one per served touchscreen, in the one WorkerList.
#pragma once

class WorkerList {
public:
    WorkerList();
};

// Starts one worker per touchscreen of gpTouchscreens.
void StartAllWorkers();
// Stops every worker of gpWorkers.
void StopAllWorkers();
