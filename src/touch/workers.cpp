#include "touch/workers.h"

WorkerList::WorkerList() {}

void StartAllWorkers() {}

void StopAllWorkers() {}
