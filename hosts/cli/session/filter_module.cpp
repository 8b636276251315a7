// Finding and loading the filter module.
#include "cli/session/filter_module.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace q5cli {

std::vector<std::string> modulePlaces(const std::string &given) {
    // A bare file name means the current folder, not the loader's library path.
    if (!given.empty()) return {given.find('/') == std::string::npos ? "./" + given : given};
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {q5host::defaultModulePath()};
    const std::string program(exe, static_cast<std::size_t>(n));
    const std::string dir = program.substr(0, program.rfind('/'));
    // Relative to the program, so that an installed tree still works once moved.
    std::vector<std::string> places = {dir + "/quorvane5.so",
                                       dir.substr(0, dir.rfind('/')) + "/lib/quorvane5/quorvane5.so"};
    // The module built along serves only programs run from the build tree: an installed
    // command that lost its module says so rather than quietly running another one.
#ifdef Q5_BUILD_TREE
    char tree[PATH_MAX];
    if (realpath(Q5_BUILD_TREE, tree) && (dir + "/").rfind(std::string(tree) + "/", 0) == 0)
        places.push_back(q5host::defaultModulePath());
#endif
    return places;
}

std::string findModule(const std::string &given) {
    const std::vector<std::string> places = modulePlaces(given);
    for (const std::string &path : places)
        if (access(path.c_str(), R_OK) == 0) return path;
    return places.back();
}

bool isWholeElfFile(const std::string &path, std::string *error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;  // the loader gives its own message
    struct stat st {};
    ElfW(Ehdr) header {};
    const bool haveHeader = fstat(fd, &st) == 0 && pread(fd, &header, sizeof header, 0) == sizeof header;
    if (!haveHeader || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
        close(fd);
        if (!S_ISREG(st.st_mode)) return true;
        *error = path + ": not a shared library (no ELF header)";
        return false;
    }
    if (header.e_ident[EI_CLASS] != (sizeof(void *) == 8 ? ELFCLASS64 : ELFCLASS32)) {
        close(fd);
        return true;  // a module for another machine: the loader names its class
    }
    const unsigned long long size = static_cast<unsigned long long>(st.st_size);
    unsigned long long reach = sizeof header;
    const auto cover = [&](unsigned long long offset, unsigned long long length) {
        reach = std::max(reach, offset + length);
    };
    cover(header.e_phoff, static_cast<unsigned long long>(header.e_phnum) * header.e_phentsize);
    if (header.e_shoff) cover(header.e_shoff, static_cast<unsigned long long>(header.e_shnum) * header.e_shentsize);
    if (header.e_phoff + static_cast<unsigned long long>(header.e_phnum) * sizeof(ElfW(Phdr)) <= size &&
        header.e_phentsize == sizeof(ElfW(Phdr)))
        for (int i = 0; i < header.e_phnum; ++i) {
            ElfW(Phdr) segment {};
            if (pread(fd, &segment, sizeof segment, static_cast<off_t>(header.e_phoff + i * sizeof segment)) !=
                sizeof segment)
                break;
            if (segment.p_type == PT_LOAD || segment.p_type == PT_DYNAMIC) cover(segment.p_offset, segment.p_filesz);
        }
    close(fd);
    if (reach <= size) return true;
    *error = path + " is damaged or incomplete: it is " + std::to_string(size) + " bytes long, its contents reach byte " +
             std::to_string(reach);
    return false;
}

bool loadModule(const std::string &given, LoadedFilter *filter, std::string *error) {
    const std::vector<std::string> places = modulePlaces(given);
    filter->path = findModule(given);
    if (given.empty() && access(filter->path.c_str(), F_OK) != 0) {
        *error = "no quorvane5.so ";
        for (std::size_t i = 0; i < places.size(); ++i)
            *error += (i == 0 ? "at " : i + 1 == places.size() ? " or " : ", ") + places[i];
        *error += "; give its place with --module PATH";
        return false;
    }
    if (!isWholeElfFile(filter->path, error)) return false;
    filter->module = q5host::Module::open(filter->path, error);
    if (!filter->module) return false;
    filter->descriptor = filter->entry()();
    if (!filter->descriptor) {
        *error = "the filter module " + filter->path + " gave no filter";
        return false;
    }
    return true;
}

}  // namespace q5cli
