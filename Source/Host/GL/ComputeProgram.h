#pragma once

#include <memory>
#include <string>

namespace Corvexis::GL {

// A linked GLSL compute program. Needs a current context on the calling thread for every operation
// except destruction (which borrows one when the thread has none). Caller synchronises.
class ComputeProgram
{
public:
    // Compiles and links `source` (a complete shader, "#version 430" or later). Null on failure, with
    // the compiler's log in `errorLog` when given and in an error log line. Null (logged) when the
    // calling thread has no current context.
    static std::unique_ptr<ComputeProgram> compile(const std::string& source,
                                                   std::string* errorLog = nullptr);

    ~ComputeProgram();
    ComputeProgram(const ComputeProgram&) = delete;
    ComputeProgram& operator=(const ComputeProgram&) = delete;

    unsigned id() const { return id_; }
    // Location of a uniform, -1 when it does not exist (or was optimised out).
    int uniformLocation(const std::string& name) const;

    // Uses the program and dispatches `x` * `y` * `z` work groups, then makes image and texture writes
    // visible to every later command of this context (glMemoryBarrier). Other contexts need a
    // SyncObject. False when no context is current.
    bool dispatch(unsigned x, unsigned y = 1, unsigned z = 1);

private:
    explicit ComputeProgram(unsigned id) : id_(id) {}

    unsigned id_ = 0;
};

}  // namespace Corvexis::GL
