#include "Host/Core/TrackerID.h"

// TrackerID is header-only; this unit checks that its header stands alone.
