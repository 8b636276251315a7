// Where the output goes. A regular file (new or existing) appears only when it is
// complete: it is written to a temporary beside it and renamed over it at the end
// (or, where it has other hard links or the rename cannot replace it, copied into it),
// keeping an existing file's permissions (and owner and group when run as root);
// the temporary is removed on failure, on interruption and when the program ends
// without committing it. Symbolic links are followed, so the file they name is
// replaced and the links stay links. What cannot be replaced by renaming is written
// directly: standard output, devices, FIFOs and sockets.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>

#include "cli/io/y4m.h"

namespace q5cli {

class OutputFile : public ByteSink {
public:
    /// "-" is standard output; /dev/stdout, /dev/stderr, /dev/fd/N and /proc/self/fd/N
    /// are that open descriptor (appending where it appends). An existing file the
    /// user may not write is refused unless run as root. Creates the temporary (or opens a direct output) at
    /// once, so an unwritable place is found before any work; null with a message.
    static std::unique_ptr<OutputFile> open(const std::string &path, std::string *error);
    ~OutputFile() override;

    bool write(const void *data, std::size_t size, std::string *error) override;
    /// Flushes and puts the output in place (renames or copies the temporary).
    bool commit(std::string *error);
    /// Removes the temporary (also done by the destructor when not committed).
    void discard();
    /// Standard output ("-", /dev/stdout, /dev/fd/1, ...).
    bool isStdout() const { return descriptor_ && fd_ == 1; }
    /// Whether the output is written straight into the regular file `source` reads
    /// (">> in.y4m", or /dev/stdin opened for reading and writing): it would overwrite
    /// or grow the clip as it is read. A file replaced through a temporary is safe.
    bool writesDirectlyInto(const ByteSource &source) const;
    /// Whether the file left in the end is the regular file `source` reads, by device
    /// and inode (whatever links or descriptor names lead to it).
    bool endsUpAs(const ByteSource &source) const;

private:
    OutputFile() = default;
    // The three kinds of output open() tells apart.
    bool openDescriptor(int fd, std::string *error);
    bool openSpecial(const struct stat &st, std::string *error);
    bool openReplaced(const struct stat &st, std::string *error);
    bool checkDirectOutput(std::string *error) const;
    bool flush(std::string *error);
    bool writeAll(const char *data, std::size_t size, std::string *error);
    std::string failure(const std::string &what) const;
    bool copyIntoPlace(std::string *error);

    int fd_ = -1;
    std::string name_;    // as given, for messages
    std::string path_;    // the file replaced, links followed
    std::string temp_;    // empty for a direct output
    bool existed_ = false;
    bool inPlace_ = false;  // copied into the existing file at the end (hard links, a sticky folder)
    int target_ = -1;       // that file, opened at the start
    mode_t mode_ = 0;
    uid_t owner_ = 0;
    gid_t group_ = 0;
    std::string buffer_;
    bool descriptor_ = false;  // an open descriptor of ours, written as it is
    bool done_ = false;
};

/// Reads a whole file or "-" (standard input; /dev/stdin and /dev/fd/N are the
/// descriptor too) as a y4m source; null with a message.
std::unique_ptr<ByteSource> openInput(const std::string &path, std::string *error);

/// Whether `path` names standard input: "-", /dev/stdin, /dev/fd/0 or /proc/self/fd/0.
bool namesStandardInput(const std::string &path);

/// Whether `path` names the file a source opened by openInput reads (links followed).
bool isSameFile(const std::string &path, const ByteSource &source);

/// Bytes of a regular file behind a source opened by openInput, from where reading
/// began (a shell may hand over a file already read partway) to its end; or -1.
long long inputFileSize(const ByteSource &source);

}  // namespace q5cli
