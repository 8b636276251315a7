// Where the output goes: standard output, or a file that appears only when it is
// complete (written to a temporary beside it and renamed at the end; removed on
// failure, on interruption and when the program ends without committing it).
#pragma once

#include <memory>
#include <string>

#include "cli/y4m.h"

namespace q5cli {

class OutputFile : public ByteSink {
public:
    /// "-" is standard output. Creates the temporary at once, so an unwritable place
    /// is found before any work; null with a message on failure.
    static std::unique_ptr<OutputFile> open(const std::string &path, std::string *error);
    ~OutputFile() override;

    bool write(const void *data, std::size_t size, std::string *error) override;
    /// Flushes, closes and renames the temporary into place.
    bool commit(std::string *error);
    /// Removes the temporary (also done by the destructor when not committed).
    void discard();
    bool isStdout() const { return fd_ == 1; }

private:
    OutputFile() = default;
    bool flush(std::string *error);

    int fd_ = -1;
    std::string path_, temp_;
    std::string buffer_;
    bool done_ = false;
};

/// Reads a whole file or "-" (standard input) as a y4m source; null with a message.
std::unique_ptr<ByteSource> openInput(const std::string &path, std::string *error);

/// Size of a regular file behind a source opened by openInput, or -1.
long long inputFileSize(const ByteSource &source);

}  // namespace q5cli
