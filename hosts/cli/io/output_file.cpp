// Output that is all or nothing where it can be, and input from files or standard input.
#include "cli/io/output_file.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/io/signals.h"

namespace q5cli {

namespace {

class FileSource : public FdSource {
public:
    explicit FileSource(int fd) : FdSource(fd) {}
    ~FileSource() override { close(fd_); }
};


// Whether fd writes where standard error goes: the same pipe, socket or file (a
// character device such as /dev/null may take both).
bool isStandardError(int fd) {
    struct stat ours {}, messages {};
    if (fd == 2) return !closedAtStart(2);
    return fstat(fd, &ours) == 0 && fstat(2, &messages) == 0 && !S_ISCHR(ours.st_mode) &&
           ours.st_dev == messages.st_dev && ours.st_ino == messages.st_ino;
}

// Whether renaming over an existing file in `folder` can succeed: in a sticky folder
// only the file's owner, the folder's or root may replace a file.
bool mayRenameOver(const std::string &folder, const struct stat &file) {
    struct stat dir {};
    const uid_t me = geteuid();
    return me == 0 || stat(folder.c_str(), &dir) != 0 || !(dir.st_mode & S_ISVTX) || file.st_uid == me ||
           dir.st_uid == me;
}

// A hidden temporary in `dir` named for `base` (".BASE.quorvane5-XXXXXX"), or
// ".quorvane5-XXXXXX" where that name would be longer than the folder allows.
int makeTemp(const std::string &dir, const std::string &base, std::string *temp) {
    long most = pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
    if (most <= 0) most = 255;
    const std::string suffix = ".quorvane5-XXXXXX";
    *temp = dir + (base.size() + 1 + suffix.size() <= static_cast<std::size_t>(most) ? "." + base : "") + suffix;
    return mkstemp(temp->data());
}

// "25 KB", "52 MB": what is needed rounded up, what there is rounded down.
std::string amount(unsigned long long bytes, bool up) {
    const int shift = bytes >= (10ULL << 20) ? 20 : 10;
    const unsigned long long unit = 1ULL << shift;
    return std::to_string((bytes + (up ? unit - 1 : 0)) >> shift) + (shift == 20 ? " MB" : " KB");
}

// N for /dev/stdout (1), /dev/stderr (2), /dev/fd/N and /proc/self/fd/N; else -1.
int descriptorNamed(const std::string &path) {
    if (path == "/dev/stdout") return 1;
    if (path == "/dev/stderr") return 2;
    for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        if (path.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = path.substr(prefix.size());
        if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            return -1;
        return std::stoi(digits);
    }
    return -1;
}

// The file a path names, every symbolic link followed (relative links from the
// directory they sit in). A link to nothing names the file to be made; the name of
// an open descriptor ends the chain.
bool followLinks(const std::string &path, std::string *target, std::string *error) {
    std::string p = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (descriptorNamed(p) >= 0 || lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            *target = p;
            return true;
        }
        char link[4096];
        const ssize_t n = readlink(p.c_str(), link, sizeof link);
        if (n <= 0 || n >= static_cast<ssize_t>(sizeof link)) {
            *error = "cannot write " + path + ": " + (n < 0 ? std::strerror(errno) : "unreadable link");
            return false;
        }
        const std::string next(link, static_cast<std::size_t>(n));
        const std::size_t slash = p.rfind('/');
        p = next[0] == '/' || slash == std::string::npos ? next : p.substr(0, slash + 1) + next;
    }
    *error = "cannot write " + path + ": " + std::strerror(ELOOP);
    return false;
}

int connectSocket(const std::string &path) {
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

}  // namespace

std::unique_ptr<OutputFile> OutputFile::open(const std::string &path, std::string *error) {
    std::unique_ptr<OutputFile> out(new OutputFile());
    if (path.empty()) {
        *error = "the output file name is empty";
        return nullptr;
    }
    out->name_ = path == "-" ? "standard output" : path;
    if (path != "-" && !followLinks(path, &out->path_, error)) return nullptr;
    // An open descriptor, by "-" or by name: written as it is, so that ">>" appends and
    // a pipe works; opening the name anew would truncate the file or find no pipe.
    if (const int fd = path == "-" ? 1 : descriptorNamed(out->path_); fd >= 0)
        return out->openDescriptor(fd, error) ? std::move(out) : nullptr;
    struct stat st {};
    out->existed_ = stat(out->path_.c_str(), &st) == 0;
    if (out->existed_ && S_ISDIR(st.st_mode)) {
        *error = "cannot write " + path + ": it is a directory";
        return nullptr;
    }
    // A device, FIFO or socket: renaming a file over it would destroy it.
    const bool ok = out->existed_ && !S_ISREG(st.st_mode) ? out->openSpecial(st, error) : out->openReplaced(st, error);
    return ok ? std::move(out) : nullptr;
}

bool OutputFile::openDescriptor(int fd, std::string *error) {
    // What stands on a descriptor closed at start is our /dev/null, not an output.
    if (closedAtStart(fd)) {
        *error = std::string(fd == 0 ? "standard input" : fd == 1 ? "standard output" : "standard error") +
                 " is closed: give an output file or a pipe";
        return false;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) {
        *error = "cannot write " + name_ + ": " + std::strerror(EBADF);
        return false;
    }
    fd_ = fd;
    descriptor_ = true;
    return checkDirectOutput(error);
}

bool OutputFile::openSpecial(const struct stat &st, std::string *error) {
    const int fd = S_ISSOCK(st.st_mode) ? connectSocket(path_) : ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *error = failure(std::strerror(errno));
        return false;
    }
    fd_ = fd;
    return checkDirectOutput(error);
}

// A terminal or the messages' own stream would take the video where the user reads.
bool OutputFile::checkDirectOutput(std::string *error) const {
    if (isatty(fd_)) {
        *error = "will not write video to a terminal: give an output file or a pipe";
        return false;
    }
    if (isStandardError(fd_)) {
        *error = "will not write " + name_ + ": it is standard error, where the messages go";
        return false;
    }
    return true;
}

bool OutputFile::openReplaced(const struct stat &st, std::string *error) {
    // As the shell's ">" does: a file the user may not write is not replaced, even
    // where the folder would let the rename through. Root may write anything.
    if (existed_ && geteuid() != 0 && faccessat(AT_FDCWD, path_.c_str(), W_OK, AT_EACCESS) != 0) {
        *error = failure(std::strerror(errno));
        return false;
    }
    mode_ = st.st_mode;
    owner_ = st.st_uid;
    group_ = st.st_gid;
    const std::size_t slash = path_.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    const std::string folder = dir.empty() ? "." : dir.size() == 1 ? dir : dir.substr(0, dir.size() - 1);
    // A file with other hard links is rewritten in place, so that every name sees the
    // output; so is one the rename could not replace: in a sticky folder (/tmp) a file
    // of another user's.
    inPlace_ = existed_ && (st.st_nlink > 1 || !mayRenameOver(folder, st));
    int fd = makeTemp(dir, base, &temp_);
    if (fd < 0 && existed_ && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        // A folder we may not write, holding a file we may: the output gathers elsewhere
        // and is copied into the file once complete.
        const char *tmp = std::getenv("TMPDIR");
        std::string elsewhere = tmp && *tmp ? tmp : "/tmp";
        if (elsewhere.back() != '/') elsewhere += '/';
        fd = makeTemp(elsewhere, base, &temp_);
        inPlace_ = fd >= 0;
    }
    if (fd < 0) {
        const int e = errno;
        temp_.clear();
        *error = failure(e == EACCES || e == EPERM || e == EROFS
                             ? "cannot create a file in the folder " + folder + " (" + std::strerror(e) + ")"
                             : std::strerror(e));
        return false;
    }
    rememberTemp(temp_);
    fd_ = fd;
    if (inPlace_) {
        // Opened now, so that a file we cannot write is found before any work.
        target_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (target_ < 0) {
            *error = failure(std::strerror(errno));
            return false;
        }
    }
    return true;
}

bool OutputFile::writesDirectlyInto(const ByteSource &source) const {
    const auto *fdSource = dynamic_cast<const FdSource *>(&source);
    struct stat ours {}, theirs {};
    return fdSource && temp_.empty() && fd_ >= 0 && fstat(fd_, &ours) == 0 &&
           fstat(fdSource->fd(), &theirs) == 0 && S_ISREG(ours.st_mode) && ours.st_dev == theirs.st_dev &&
           ours.st_ino == theirs.st_ino;
}

bool OutputFile::endsUpAs(const ByteSource &source) const {
    const auto *fdSource = dynamic_cast<const FdSource *>(&source);
    struct stat ours {}, theirs {};
    if (!fdSource || fstat(fdSource->fd(), &theirs) != 0 || !S_ISREG(theirs.st_mode)) return false;
    const bool known = temp_.empty() ? fd_ >= 0 && fstat(fd_, &ours) == 0 : existed_ && stat(path_.c_str(), &ours) == 0;
    return known && ours.st_dev == theirs.st_dev && ours.st_ino == theirs.st_ino;
}

OutputFile::~OutputFile() {
    if (!done_) discard();
    if (target_ >= 0) close(target_);
}

std::string OutputFile::failure(const std::string &what) const {
    return "cannot write " + name_ + ": " + what;
}

bool OutputFile::writeAll(const char *data, std::size_t size, std::string *error) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd_, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = failure(std::strerror(n < 0 ? errno : EIO));
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool OutputFile::flush(std::string *error) {
    const bool ok = writeAll(buffer_.data(), buffer_.size(), error);
    buffer_.clear();
    return ok;
}

bool OutputFile::write(const void *data, std::size_t size, std::string *error) {
    constexpr std::size_t kBuffer = 1 << 16;
    // Small pieces (headers, frame markers) gather in the buffer; a frame goes out
    // from where it lies, without a copy.
    if (buffer_.size() + size <= kBuffer) {
        buffer_.append(static_cast<const char *>(data), size);
        return true;
    }
    return flush(error) && (size < kBuffer ? (buffer_.append(static_cast<const char *>(data), size), true)
                                           : writeAll(static_cast<const char *>(data), size, error));
}

bool OutputFile::commit(std::string *error) {
    if (!flush(error)) return false;
    done_ = true;
    if (descriptor_) return true;
    if (temp_.empty()) {
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0) {
            *error = failure(std::strerror(errno));
            return false;
        }
        return true;
    }
    if (inPlace_) return copyIntoPlace(error);
    if (existed_) {
        // The replacement takes over the file's owner, group and permissions; the owner
        // first, because changing it clears the set-id bits. Without the privilege to
        // give a file away, the new file stays ours.
        if (geteuid() == 0) {
            if (fchown(fd_, owner_, group_) != 0) {}
        } else if (group_ != getegid()) {
            if (fchown(fd_, static_cast<uid_t>(-1), group_) != 0) {}
        }
        fchmod(fd_, mode_ & 07777);
    } else {
        // A new file gets the permissions a newly created one would have, not the temporary's.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd_, 0666 & ~mask);
    }
    if (close(fd_) != 0) {
        *error = failure(std::strerror(errno));
        fd_ = -1;
        done_ = false;
        discard();
        return false;
    }
    fd_ = -1;
    if (rename(temp_.c_str(), path_.c_str()) != 0) {
        *error = failure(std::strerror(errno));
        done_ = false;
        discard();
        return false;
    }
    forgetTemp(temp_);
    return true;
}

// A file with other hard links is rewritten in place, so that every one of its names
// sees the new content. The whole output is in the temporary by now; only a failure
// of this last copy can leave the file incomplete, and the message says so. Once the
// file is truncated its old content is gone, so a signal waits until the copy is done.
bool OutputFile::copyIntoPlace(std::string *error) {
    const SignalsHeld held;
    const int target = target_;
    target_ = -1;
    // A copy the disk cannot hold would leave the file half rewritten: it is not begun.
    // Truncating frees the file's own blocks, and the output needs its length.
    struct stat output {}, old {};
    struct statvfs disk {};
    if (fstat(fd_, &output) == 0 && fstat(target, &old) == 0 && fstatvfs(target, &disk) == 0) {
        const unsigned long long room = static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize +
                                        static_cast<unsigned long long>(old.st_blocks) * 512;
        if (static_cast<unsigned long long>(output.st_size) > room) {
            *error = failure("the output needs " + amount(static_cast<unsigned long long>(output.st_size), true) +
                             " and its file system has room for " + amount(room, false) + "; the file is left as it was");
            close(target);
            discard();
            return false;
        }
    }
    int failed = ftruncate(target, 0) == 0 && lseek(fd_, 0, SEEK_SET) == 0 ? 0 : errno;
    std::string chunk(1 << 20, '\0');
    while (!failed) {
        const ssize_t n = ::read(fd_, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) failed = errno;
            break;
        }
        for (ssize_t done = 0; done < n && !failed;) {
            const ssize_t w = ::write(target, chunk.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) failed = w < 0 ? errno : EIO;
            else done += w;
        }
    }
    if (close(target) != 0 && !failed) failed = errno;
    discard();
    if (failed) *error = failure(std::string(std::strerror(failed)) + " (the file is left incomplete)");
    return !failed;
}

void OutputFile::discard() {
    done_ = true;
    if (descriptor_) return;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temp_.empty()) {
        unlink(temp_.c_str());
        forgetTemp(temp_);
        temp_.clear();
    }
}

bool namesStandardInput(const std::string &path) {
    return path == "-" || path == "/dev/stdin" || descriptorNamed(path) == 0;
}

std::unique_ptr<ByteSource> openInput(const std::string &path, std::string *error) {
    if (const int fd = path == "-" || path == "/dev/stdin" ? 0 : descriptorNamed(path); fd >= 0) {
        if (closedAtStart(fd)) {
            *error = std::string(fd == 0 ? "standard input" : fd == 1 ? "standard output" : "standard error") +
                     " is closed: give an input file or a pipe";
            return nullptr;
        }
        return std::make_unique<FdSource>(fd);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        *error = "cannot read " + path + ": it is a directory";
        return nullptr;
    }
    return std::make_unique<FileSource>(fd);
}

long long inputFileSize(const ByteSource &source) {
    const auto *fdSource = dynamic_cast<const FdSource *>(&source);
    struct stat st {};
    if (!fdSource || fstat(fdSource->fd(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return std::max(0LL, static_cast<long long>(st.st_size) - fdSource->startOffset());
}

}  // namespace q5cli

namespace q5cli {

bool isSameFile(const std::string &path, const ByteSource &source) {
    const auto *fdSource = dynamic_cast<const FdSource *>(&source);
    struct stat named {}, opened {};
    return fdSource && stat(path.c_str(), &named) == 0 && fstat(fdSource->fd(), &opened) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

}  // namespace q5cli
