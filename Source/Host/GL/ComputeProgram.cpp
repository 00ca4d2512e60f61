#include "Host/GL/ComputeProgram.h"

#include <algorithm>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/OpenGL.h"

namespace Corvexis::GL {

namespace {

constexpr std::string_view kCategory = "GL.ComputeProgram";

std::string shaderLog(GLuint shader)
{
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> text(static_cast<std::size_t>(std::max(length, 1)), '\0');
    glGetShaderInfoLog(shader, static_cast<GLsizei>(text.size()), nullptr, text.data());
    return text.data();
}

std::string programLog(GLuint program)
{
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> text(static_cast<std::size_t>(std::max(length, 1)), '\0');
    glGetProgramInfoLog(program, static_cast<GLsizei>(text.size()), nullptr, text.data());
    return text.data();
}

}  // namespace

std::unique_ptr<ComputeProgram> ComputeProgram::compile(const std::string& source, std::string* errorLog)
{
    auto fail = [&](const std::string& message) {
        if (errorLog != nullptr)
            *errorLog = message;
        Log::log(Log::Level::Error, kCategory, message);
        return nullptr;
    };
    if (!ContextManager::hasCurrent())
        return fail("Cannot compile a compute program: no current OpenGL context on this thread");

    const GLuint shader = glCreateShader(GL_COMPUTE_SHADER);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled != GL_TRUE) {
        const std::string log = shaderLog(shader);
        glDeleteShader(shader);
        return fail("Compute shader does not compile: " + log);
    }
    const GLuint program = glCreateProgram();
    glAttachShader(program, shader);
    glLinkProgram(program);
    glDeleteShader(shader);  // stays alive while attached
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
        const std::string log = programLog(program);
        glDeleteProgram(program);
        return fail("Compute program does not link: " + log);
    }
    return std::unique_ptr<ComputeProgram>(new ComputeProgram(program));
}

ComputeProgram::~ComputeProgram()
{
    const GLuint id = id_;
    ContextManager::runWithOpenGL([id] { glDeleteProgram(id); });
}

int ComputeProgram::uniformLocation(const std::string& name) const
{
    if (!ContextManager::hasCurrent())
        return -1;
    return glGetUniformLocation(id_, name.c_str());
}

bool ComputeProgram::dispatch(unsigned x, unsigned y, unsigned z)
{
    if (!ContextManager::hasCurrent()) {
        Log::log(Log::Level::Error, kCategory, "Cannot dispatch: no current OpenGL context on this thread");
        return false;
    }
    glUseProgram(id_);
    glDispatchCompute(x, y, z);
    glMemoryBarrier(GL_ALL_BARRIER_BITS);
    return true;
}

}  // namespace Corvexis::GL
