#pragma once

#include <string>

namespace Corvexis::Files {

// Writes a file so that its final name only ever holds a complete file: the bytes go to a temporary
// file beside it ("<path>.tmp-XXXXXX"), and commit() syncs it to the disk, renames it over the final
// name and syncs the directory. Destroyed without commit(), the temporary file is removed.
// Caller synchronises.
class AtomicFileWriter
{
public:
    AtomicFileWriter() = default;
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file. False with error() on failure (for example a missing directory).
    bool open(const std::string& path);
    // The open temporary file, -1 when none.
    int fd() const { return fd_; }
    // Where the bytes go, for writers that open files by name themselves (after closeFd()).
    const std::string& temporaryPath() const { return temporaryPath_; }
    // Closes the descriptor but keeps the temporary file for a writer that opens it by name.
    void closeFd();
    // Syncs, renames onto the final path and syncs the directory. False with error() on failure, and
    // then the temporary file is removed and nothing stands under the final name that was not there.
    // With `replace` false an existing file at the final path is never replaced: commit() fails instead.
    bool commit(bool replace = true);
    // Removes the temporary file.
    void abort();

    const std::string& error() const { return error_; }

private:
    std::string path_;
    std::string temporaryPath_;
    std::string error_;
    int fd_ = -1;
};

// Syncs the directory that holds `path`, so that a rename or a new name in it survives a crash.
void syncParentDirectory(const std::string& path);

}  // namespace Corvexis::Files
