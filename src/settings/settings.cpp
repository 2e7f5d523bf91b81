#include "settings/settings.h"

int LoadDriverSettings() { return 0; }
