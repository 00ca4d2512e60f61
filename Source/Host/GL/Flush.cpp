#include "Host/GL/Flush.h"

#include "Host/GL/ContextManager.h"
#include "Host/GL/OpenGL.h"

namespace Corvexis::GL {

bool flush()
{
    if (!ContextManager::hasCurrent())
        return false;
    glFlush();
    return true;
}

bool finish()
{
    if (!ContextManager::hasCurrent())
        return false;
    glFinish();
    return true;
}

}  // namespace Corvexis::GL
