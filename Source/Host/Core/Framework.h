#pragma once

#include "Host/Core/Version.h"

namespace Corvexis::Framework {

// The version of the host framework libraries this process runs with. It changes with the binary
// interface of the host (the plug-in descriptor's "hostversion" carries the same number) and is written
// into serialised data so that a reader can tell a foreign writer. Thread-safe.
Utils::Version version();

}  // namespace Corvexis::Framework
