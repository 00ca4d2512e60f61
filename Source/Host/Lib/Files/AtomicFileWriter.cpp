#include "Host/Lib/Files/AtomicFileWriter.h"

#include <stdio.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Corvexis::Files {

namespace {
std::string errnoText(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}
}  // namespace

void syncParentDirectory(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

AtomicFileWriter::~AtomicFileWriter()
{
    abort();
}

bool AtomicFileWriter::open(const std::string& path)
{
    abort();
    path_ = path;
    std::string pattern = path + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        error_ = errnoText("cannot create a file beside", path);
        return false;
    }
    ::fchmod(fd_, 0644);
    temporaryPath_ = name.data();
    error_.clear();
    return true;
}

void AtomicFileWriter::closeFd()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool AtomicFileWriter::commit(bool replace)
{
    if (temporaryPath_.empty()) {
        error_ = "no file is open";
        return false;
    }
    if (fd_ < 0)
        fd_ = ::open(temporaryPath_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0 || ::fsync(fd_) != 0) {
        error_ = errnoText("cannot sync", temporaryPath_);
        abort();
        return false;
    }
    closeFd();
    const int renamed =
        replace ? ::rename(temporaryPath_.c_str(), path_.c_str())
                : ::renameat2(AT_FDCWD, temporaryPath_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE);
    if (renamed != 0) {
        error_ = errnoText("cannot rename onto", path_);
        abort();
        return false;
    }
    temporaryPath_.clear();
    syncParentDirectory(path_);
    return true;
}

void AtomicFileWriter::abort()
{
    closeFd();
    if (!temporaryPath_.empty())
        ::unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
}

}  // namespace Corvexis::Files
