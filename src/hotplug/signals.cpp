#include "hotplug/signals.h"

HANDLE ghAddMonDoneEvent = 0;

int ArmAddMonSignal() { return 0; }

int ArmRemoveSignal() { return 0; }

void DisarmAddMonSignal() {}

void DisarmRemoveSignal() {}
