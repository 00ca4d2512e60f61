#include "Host/Core/TrackingInstrument.h"

// TrackingInstrument is header-only; this unit checks that its header stands alone.
