// Output that is all or nothing where it can be, and input from files or standard input.
#include "cli/io/output_file.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace q5cli {

namespace {

// Temporaries to remove if a signal ends the program: fixed storage, because the
// handler may only call async-signal-safe functions.
constexpr int kMaxTemps = 8;
char tempPaths[kMaxTemps][4096];
volatile sig_atomic_t tempUsed[kMaxTemps];

extern "C" void removeTempsAndDie(int sig) {
    for (int i = 0; i < kMaxTemps; ++i)
        if (tempUsed[i]) unlink(tempPaths[i]);
    signal(sig, SIG_DFL);
    raise(sig);
}

void installSignalCleanup() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction sa {};
        sa.sa_handler = removeTempsAndDie;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
}

int registerTemp(const std::string &path) {
    if (path.size() >= sizeof tempPaths[0]) return -1;
    for (int i = 0; i < kMaxTemps; ++i)
        if (!tempUsed[i]) {
            std::memcpy(tempPaths[i], path.c_str(), path.size() + 1);
            tempUsed[i] = 1;
            return i;
        }
    return -1;
}

void unregisterTemp(const std::string &path) {
    for (int i = 0; i < kMaxTemps; ++i)
        if (tempUsed[i] && path == tempPaths[i]) tempUsed[i] = 0;
}

class FileSource : public FdSource {
public:
    explicit FileSource(int fd) : FdSource(fd) {}
    ~FileSource() override { close(fd_); }
};


// The file a path names, every symbolic link followed (relative links from the
// directory they sit in). A link to nothing names the file to be made.
bool followLinks(const std::string &path, std::string *target, std::string *error) {
    std::string p = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
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
    if (path == "-") {
        if (isatty(1)) {
            *error = "will not write video to a terminal: give an output file or a pipe";
            return nullptr;
        }
        out->fd_ = 1;
        out->stdout_ = true;
        out->name_ = "standard output";
        return out;
    }
    out->name_ = path;
    if (!followLinks(path, &out->path_, error)) return nullptr;
    struct stat st {};
    out->existed_ = stat(out->path_.c_str(), &st) == 0;
    if (out->existed_ && S_ISDIR(st.st_mode)) {
        *error = "cannot write " + path + ": it is a directory";
        return nullptr;
    }
    if (out->existed_ && !S_ISREG(st.st_mode)) {
        // A device, FIFO or socket: renaming a file over it would destroy it.
        const int fd = S_ISSOCK(st.st_mode)
                           ? connectSocket(out->path_)
                           : ::open(out->path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            *error = "cannot write " + path + ": " + std::strerror(errno);
            return nullptr;
        }
        out->fd_ = fd;
        if (isatty(fd)) {
            *error = "will not write video to a terminal: give an output file or a pipe";
            return nullptr;
        }
        return out;
    }
    out->mode_ = st.st_mode;
    out->owner_ = st.st_uid;
    out->group_ = st.st_gid;
    out->linked_ = out->existed_ && st.st_nlink > 1;
    const std::size_t slash = out->path_.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : out->path_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? out->path_ : out->path_.substr(slash + 1);
    std::string temp = dir + "." + base + ".quorvane5-XXXXXX";
    installSignalCleanup();
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    registerTemp(temp);
    out->fd_ = fd;
    out->temp_ = temp;
    return out;
}

OutputFile::~OutputFile() {
    if (!done_) discard();
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
    if (isStdout()) return true;
    if (temp_.empty()) {
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0) {
            *error = failure(std::strerror(errno));
            return false;
        }
        return true;
    }
    if (linked_) return copyIntoPlace(error);
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
    unregisterTemp(temp_);
    return true;
}

// A file with other hard links is rewritten in place, so that every one of its names
// sees the new content. The whole output is in the temporary by now; only a failure
// of this last copy can leave the file incomplete, and the message says so.
bool OutputFile::copyIntoPlace(std::string *error) {
    const int target = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (target < 0) {
        *error = failure(std::strerror(errno));
        discard();
        return false;
    }
    int failed = lseek(fd_, 0, SEEK_SET) == 0 ? 0 : errno;
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
    if (isStdout()) return;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temp_.empty()) {
        unlink(temp_.c_str());
        unregisterTemp(temp_);
        temp_.clear();
    }
}

std::unique_ptr<ByteSource> openInput(const std::string &path, std::string *error) {
    if (path == "-") return std::make_unique<FdSource>(0);
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
    return static_cast<long long>(st.st_size);
}

}  // namespace q5cli
