// Output that is all or nothing, and input from files or standard input.
#include "cli/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
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

}  // namespace

std::unique_ptr<OutputFile> OutputFile::open(const std::string &path, std::string *error) {
    std::unique_ptr<OutputFile> out(new OutputFile());
    if (path == "-") {
        if (isatty(1)) {
            *error = "will not write video to a terminal: give an output file or a pipe";
            return nullptr;
        }
        out->fd_ = 1;
        return out;
    }
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        *error = "cannot write " + path + ": it is a directory";
        return nullptr;
    }
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = dir + "." + base + ".quorvane5-XXXXXX";
    installSignalCleanup();
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    registerTemp(temp);
    out->fd_ = fd;
    out->path_ = path;
    out->temp_ = temp;
    return out;
}

OutputFile::~OutputFile() {
    if (!done_) discard();
}

bool OutputFile::flush(std::string *error) {
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string name = isStdout() ? "standard output" : path_;
            *error = "cannot write " + name + ": " + std::strerror(n < 0 ? errno : EIO);
            buffer_.clear();
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    buffer_.clear();
    return true;
}

bool OutputFile::write(const void *data, std::size_t size, std::string *error) {
    buffer_.append(static_cast<const char *>(data), size);
    return buffer_.size() < (1u << 20) || flush(error);
}

bool OutputFile::commit(std::string *error) {
    if (!flush(error)) return false;
    done_ = true;
    if (isStdout()) return true;
    // A file gets the permissions a newly created one would have, not the temporary's.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
    if (close(fd_) != 0) {
        *error = "cannot write " + path_ + ": " + std::strerror(errno);
        fd_ = -1;
        done_ = false;
        discard();
        return false;
    }
    fd_ = -1;
    if (rename(temp_.c_str(), path_.c_str()) != 0) {
        *error = "cannot write " + path_ + ": " + std::strerror(errno);
        done_ = false;
        discard();
        return false;
    }
    unregisterTemp(temp_);
    return true;
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
