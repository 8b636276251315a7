// The Windows module proven from Linux: its file is checked as a 32-bit DLL with
// the one export, and the 32-bit Windows test host runs it under wine: the
// descriptor, the exception guard, a real settings window, and clips whose
// output must equal the Linux module's byte for byte.
//
// These tests need the Windows build and wine; they are skipped unless
// Q5_WIN32_BUILD names the Windows build folder (tests/win32/run sets it up).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "support/support.h"
#include "win32/clip_file.h"

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string output;
};

// Output goes to a file rather than a pipe: wine may leave its own services running
// (a persistent server keeps them), and they would hold a pipe open after the
// program itself has ended.
Result runShell(const std::string &command) {
    Result r;
    char logPath[] = "/tmp/q5win-output-XXXXXX";
    const int fd = mkstemp(logPath);
    if (fd < 0) return r;
    close(fd);
    const int raw = std::system((command + " </dev/null >" + logPath + " 2>&1").c_str());
    r.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (std::FILE *f = std::fopen(logPath, "rb")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) r.output.append(buffer, n);
        std::fclose(f);
    }
    std::remove(logPath);
    return r;
}

std::string quoted(const std::string &s) { return "'" + s + "'"; }

// The Windows build folder, or empty when these tests are not wanted.
fs::path win32Build() {
    const char *dir = std::getenv("Q5_WIN32_BUILD");
    return dir && *dir ? fs::absolute(dir) : fs::path();
}

// Why the Windows tests do not run here, for a newcomer who sees them skipped.
std::string whyNoWin32Build() {
    const char *wine = std::getenv("Q5_WINE");
    const std::string program = wine && *wine ? wine : "wine";
    if (std::system(("command -v '" + program + "' >/dev/null 2>&1").c_str()) != 0)
        return program + " not found: see \"Building and testing\" in the README";
    return "no Windows build given: scripts/build-windows, then tests/win32/run (see \"Building and testing\" in the README)";
}

#define REQUIRE_WIN32_BUILD()                                                              \
    const fs::path build = win32Build();                                                   \
    if (build.empty()) GTEST_SKIP() << whyNoWin32Build();                                  \
    ASSERT_TRUE(fs::exists(build / "quorvane5.auf")) << build;                             \
    ASSERT_TRUE(fs::exists(build / "hosts/win32/q5winhost.exe")) << build

// A path as the Windows program sees it: wine maps drive Z: to the Linux root.
std::string windowsPath(const fs::path &p) { return "Z:" + fs::absolute(p).string(); }

// Runs the Windows test host under wine, quietly and without installer prompts;
// environment is prefixed to the command (as "Q5_NO_AVX2=1 ").
Result runWinHost(const fs::path &build, const std::string &arguments, const std::string &environment = "") {
    setenv("WINEDEBUG", "-all", 0);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 0);
    const char *wine = std::getenv("Q5_WINE");
    return runShell(environment + std::string(wine && *wine ? wine : "wine") + " " +
                    quoted((build / "hosts/win32/q5winhost.exe").string()) + " " + arguments);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

TEST(Win32Module, IsPe32DllWithOneExportAndOnlySystemImports) {
    REQUIRE_WIN32_BUILD();
    const Result dump = runShell("i686-w64-mingw32-objdump -p " + quoted((build / "quorvane5.auf").string()));
    ASSERT_EQ(dump.status, 0) << dump.output;
    EXPECT_NE(dump.output.find("file format pei-i386"), std::string::npos);
    EXPECT_NE(dump.output.find("(PE32)"), std::string::npos);

    std::istringstream lines(dump.output);
    std::string line;
    bool dllFlag = false, inCharacteristics = false, inNames = false;
    std::vector<std::string> exports;
    std::set<std::string> imports;
    while (std::getline(lines, line)) {
        if (line.rfind("Characteristics", 0) == 0) inCharacteristics = true;
        else if (inCharacteristics && line.find_first_not_of(" \t") == std::string::npos) inCharacteristics = false;
        if (inCharacteristics && line.find("DLL") != std::string::npos) dllFlag = true;

        if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
            inNames = true;
            continue;
        }
        if (inNames) {
            const std::size_t close = line.find(']');
            if (line.find('[') == std::string::npos || close == std::string::npos) {
                inNames = false;
            } else {
                exports.push_back(line.substr(line.find_first_not_of(' ', close + 1)));
            }
        }
        const std::size_t dll = line.find("DLL Name: ");
        if (dll != std::string::npos) imports.insert(lower(line.substr(dll + 10)));
    }
    EXPECT_TRUE(dllFlag) << "not marked as a DLL";
    EXPECT_EQ(exports, std::vector<std::string>{"GetFilterTable"});
    // Nothing beyond what every Windows installation has: no compiler runtime DLLs.
    const std::set<std::string> system = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"};
    EXPECT_FALSE(imports.empty());
    for (const std::string &name : imports) EXPECT_TRUE(system.count(name)) << "imports " << name;
}

// The module must load and run on processors without AVX: AVX instructions may sit
// only in the AVX2 files' own functions, which run after the check at load. An inline
// function or template instance that such a file shares with others (a helper from a
// header) is compiled in each file, with AVX in this one, and the linker keeps a single
// copy of such link-once code for every caller. On a processor with AVX2, as ours,
// nothing at run time would notice.
TEST(Win32Module, AvxFilesShareNoAvxCodeWithTheOthers) {
    REQUIRE_WIN32_BUILD();
    std::vector<fs::path> objects;
    for (const auto &entry : fs::recursive_directory_iterator(build / "CMakeFiles"))
        if (entry.path().string().ends_with("_avx2.cpp.obj")) objects.push_back(entry.path());
    ASSERT_FALSE(objects.empty()) << "no AVX2 object files under " << build;
    for (const fs::path &object : objects) {
        const Result dump = runShell("i686-w64-mingw32-objdump -d --no-show-raw-insn " + quoted(object.string()));
        ASSERT_EQ(dump.status, 0) << dump.output;
        std::istringstream lines(dump.output);
        std::string line, section;
        std::set<std::string> shared;
        while (std::getline(lines, line)) {
            const std::string header = "Disassembly of section ";
            if (line.rfind(header, 0) == 0) {
                section = line.substr(header.size(), line.size() - header.size() - 1);  // no ':'
                continue;
            }
            // Link-once code is named .text$SYMBOL; objdump spells VEX instructions with a leading v.
            const std::size_t tab = line.find('\t');
            if (section.rfind(".text$", 0) == 0 && tab != std::string::npos &&
                (line.compare(tab + 1, 1, "v") == 0 || line.find("%ymm") != std::string::npos))
                shared.insert(section);
        }
        for (const std::string &name : shared)
            ADD_FAILURE() << object.filename() << ": AVX instructions in link-once code " << name;
    }
}

TEST(Win32Host, FindsTheDescriptorThroughGetProcAddress) {
    REQUIRE_WIN32_BUILD();
    const Result r = runWinHost(build, "describe " + quoted(windowsPath(build / "quorvane5.auf")));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(", 0 failed"), std::string::npos) << r.output;
}

TEST(Win32Host, ExceptionGuardCatchesFaultingProbes) {
    REQUIRE_WIN32_BUILD();
    const Result r = runWinHost(build, "guard");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(", 0 failed"), std::string::npos) << r.output;
}

TEST(Win32Host, SettingsWindowWorksInARealWindow) {
    REQUIRE_WIN32_BUILD();
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (tests/win32/run starts Xvfb)";
    const Result r = runWinHost(build, "window " + quoted(windowsPath(build / "quorvane5.auf")));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(", 0 failed"), std::string::npos) << r.output;
}

// ---- The same clip and settings through the Windows and the Linux module ------

struct Settings {
    int track[kSliderCount];
    int check[kCheckBoxCount];
    std::string text() const {
        std::string s;
        for (int i = 0; i < kSliderCount; ++i) s += (i ? "," : "") + std::to_string(track[i]);
        s += "/";
        for (int i = 0; i < kCheckBoxCount; ++i) s += (i ? "," : "") + std::to_string(check[i]);
        return s;
    }
};

// Noise and a sprinkle of extreme values, so that saturation paths are exercised too.
q5test::Clip parityClip(int width, int height, int frames, std::uint32_t seed) {
    q5test::Clip clip = q5test::movingPatternClip(width, height, frames, 48.0, seed);
    std::mt19937 rng(seed ^ 0x5A5A5A5Au);
    std::uniform_int_distribution<std::size_t> where(0, static_cast<std::size_t>(width) * height - 1);
    const PIXEL_YC extremes[] = {{8191, 8191, -8192}, {-8192, -8192, 8191}, {4096, 2048, -2048},
                                 {0, -2048, 2048}, {32767, -32768, 32767}, {-32768, 32767, -32768}};
    for (auto &frame : clip.frames)
        for (int i = 0; i < width * height / 97; ++i) frame[where(rng)] = extremes[i % 6];
    return clip;
}

// The Windows module's output for the clip under each settings string, with the
// kernels it chooses (AVX2 where the processor runs it), forced to SSE3 and forced
// to the scalar twins: each must equal the Linux module's byte for byte.
void expectSameOutputs(const q5test::Clip &clip, const std::vector<Settings> &settings,
                       const fs::path &build, const std::string &name) {
    const fs::path dir = build / "parity";
    fs::create_directories(dir);
    const fs::path clipPath = dir / (name + ".q5yc");
    ASSERT_TRUE(q5clip::writeClipFile(clipPath.string(), {clip.width, clip.height, clip.frames}));
    const std::size_t frames = clip.frames.size();

    constexpr int kThreads = 4;
    struct Way {
        const char *name, *environment, *suffix;
        q5clip::ClipFile output;
    } ways[] = {{"kernels as chosen at load", "", "", {}},
                {"forced to SSE3", "Q5_NO_AVX2=1 ", ".sse3", {}},
                {"forced to scalar", "Q5_MAX_TIER=scalar ", ".scalar", {}}};
    for (Way &way : ways) {
        SCOPED_TRACE(std::string("Windows module, ") + way.name);
        const fs::path outPath = dir / (name + way.suffix + ".out.q5yc");
        fs::remove(outPath);
        std::string arguments = "run " + quoted(windowsPath(build / "quorvane5.auf")) + " " +
                                quoted(windowsPath(clipPath)) + " " + quoted(windowsPath(outPath)) + " " +
                                std::to_string(kThreads);
        for (const Settings &s : settings) arguments += " " + s.text();
        const Result r = runWinHost(build, arguments, way.environment);
        ASSERT_EQ(r.status, 0) << r.output;
        std::string error;
        ASSERT_TRUE(q5clip::readClipFile(outPath.string(), way.output, &error)) << error;
        ASSERT_EQ(way.output.width, clip.width);
        ASSERT_EQ(way.output.height, clip.height);
        ASSERT_EQ(way.output.frames.size(), frames * settings.size());
    }

    q5host::Host host(q5test::moduleEntry(), kThreads);
    host.init();
    for (std::size_t k = 0; k < settings.size(); ++k) {
        SCOPED_TRACE("settings " + settings[k].text());
        for (int i = 0; i < kSliderCount; ++i) host.setTrack(i, settings[k].track[i]);
        for (int i = 0; i < kCheckBoxCount; ++i) host.setCheck(i, settings[k].check[i]);
        host.setClip(clip.info(), clip.source());
        host.update();
        const auto linux = q5test::runClip(host, clip);
        for (std::size_t n = 0; n < frames; ++n) {
            for (const Way &way : ways) {
                const auto &a = linux[n];
                const auto &b = way.output.frames[k * frames + n];
                const auto same = [](const PIXEL_YC &p, const PIXEL_YC &q) {
                    return p.y == q.y && p.cb == q.cb && p.cr == q.cr;
                };
                const auto diff = std::mismatch(a.begin(), a.end(), b.begin(), same);
                if (diff.first != a.end()) {
                    const std::size_t i = static_cast<std::size_t>(diff.first - a.begin());
                    ADD_FAILURE() << "frame " << n << " differs first at x " << i % clip.width << ", y "
                                  << i / clip.width << ": Linux (" << diff.first->y << ", "
                                  << diff.first->cb << ", " << diff.first->cr << "), Windows "
                                  << way.name << " (" << diff.second->y << ", " << diff.second->cb
                                  << ", " << diff.second->cr << ")";
                }
            }
        }
    }
    host.exit();
}

TEST(Win32Parity, SmallClipMatchesLinuxModuleInEveryMode) {
    REQUIRE_WIN32_BUILD();
    // Check boxes: field mode, anime, mosquito NR, block NR, rounding correction.
    const std::vector<Settings> settings = {
        {{10, 10, 16, 5, 5, 16}, {0, 1, 0, 0, 0}},   // frame mode, wavelet stages only
        {{10, 10, 16, 5, 5, 16}, {1, 1, 0, 0, 0}},   // per-field
        {{10, 10, 16, 5, 12, 16}, {0, 1, 0, 1, 0}},  // block pass
        {{10, 10, 16, 12, 5, 16}, {0, 1, 1, 0, 0}},  // mosquito pass
        {{10, 10, 16, 8, 8, 16}, {1, 0, 1, 1, 0}},   // both passes, per-field, anime off
        {{10, 10, 16, 5, 5, 16}, {1, 1, 0, 0, 1}},   // the defaults: rounding correction on
        {{10, 10, 16, 5, 5, 32}, {0, 1, 0, 0, 1}},   // rounding correction, frame mode
        {{20, 20, 20, 20, 20, 32}, {1, 1, 1, 1, 1}}, // everything at full strength
    };
    expectSameOutputs(parityClip(200, 120, 5, q5test::testSeed()), settings, build, "small");
}

TEST(Win32Parity, MidSizeClipMatchesLinuxModule) {
    REQUIRE_WIN32_BUILD();
    // Wider than 720: the next size class, with its own mosquito strength.
    const std::vector<Settings> settings = {
        {{10, 10, 16, 5, 5, 16}, {1, 1, 0, 0, 1}},
        {{15, 5, 12, 14, 9, 24}, {0, 0, 1, 1, 1}},
    };
    expectSameOutputs(parityClip(744, 232, 3, q5test::testSeed() + 1), settings, build, "mid");
}

TEST(Win32Parity, UhdClipMatchesLinuxModule) {
    REQUIRE_WIN32_BUILD();
    // A size class of its own, made for this frame size when it first arrives, in a
    // 32-bit process: the defaults, and both pre-passes per frame.
    const std::vector<Settings> settings = {
        {{10, 10, 16, 5, 5, 16}, {1, 1, 0, 0, 1}},
        {{10, 10, 16, 3, 5, 16}, {0, 1, 1, 1, 1}},
    };
    expectSameOutputs(parityClip(3840, 2160, 3, q5test::testSeed() + 2), settings, build, "uhd");
}

}  // namespace
