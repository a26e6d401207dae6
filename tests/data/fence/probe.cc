// Compiled by the build checks of the fence with the component's include
// paths only: as it stands it must compile (a host can be written from
// include/pramble alone); with PROBE_HOST it must not (the shipped host is
// out of the component's reach).
#include "pramble/host/services.h"
#include "pramble/quox_n_engine_interface.h"
#ifdef PROBE_HOST
#include "sqlhost/project/project.h"
#endif

int main() { return 0; }
