// Runs a clip through the module in forward playback, once per settings string,
// and writes every output picture, so that the Linux module's output for the same
// clip and settings can be compared byte for byte.
#include <cstdio>
#include <sstream>

#include "win32/checks.h"
#include "win32/clip_file.h"
#include "win32/commands.h"
#include "win32/win_host.h"

namespace q5win {

namespace {

// "t0,t1,t2,t3,t4,t5/c0,c1,c2,c3,c4"
bool parseSettings(const std::string &text, std::vector<int> &tracks, std::vector<int> &checks) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) return false;
    auto parseList = [](const std::string &list, std::vector<int> &values) {
        std::stringstream in(list);
        std::string item;
        values.clear();
        while (std::getline(in, item, ',')) {
            try {
                values.push_back(std::stoi(item));
            } catch (...) {
                return false;
            }
        }
        return true;
    };
    return parseList(text.substr(0, slash), tracks) && parseList(text.substr(slash + 1), checks) &&
           tracks.size() == kSliderCount && checks.size() == kCheckBoxCount;
}

}  // namespace

int runCommand(const std::string &modulePath, const std::string &clipPath,
               const std::string &outPath, int threads, const std::vector<std::string> &settings) {
    Checks checks("run");
    q5clip::ClipFile input;
    std::string error;
    if (!checks.expect(q5clip::readClipFile(clipPath, input, &error), error)) return checks.finish();
    q5host::ClipInfo clip;
    clip.width = input.width;
    clip.height = input.height;
    clip.maxW = q5host::capacityFor(clip.width, clip.maxW);
    clip.maxH = q5host::capacityFor(clip.height, clip.maxH);
    clip.frameCount = static_cast<int>(input.frames.size());

    FilterModule module(modulePath);
    if (!checks.expect(module.ok(), module.error())) return checks.finish();
    const std::unique_ptr<q5host::Host> editor = module.host(threads);
    q5host::Host &host = *editor;
    checks.expectEq(host.init(), TRUE, "func_init");

    q5clip::ClipFile output{clip.width, clip.height, {}};
    for (const std::string &s : settings) {
        std::vector<int> tracks, boxes;
        if (!checks.expect(parseSettings(s, tracks, boxes), "settings " + s)) break;
        for (int i = 0; i < kSliderCount; ++i) host.setTrack(i, tracks[i]);
        for (int i = 0; i < kCheckBoxCount; ++i) host.setCheck(i, boxes[i]);
        host.setClip(clip, q5host::packedFrames(input.frames, input.width, input.height));
        checks.expectEq(host.update(), TRUE, "func_update");
        for (int n = 0; n < clip.frameCount; ++n) {
            checks.expectEq(host.process(n), TRUE, std::string("func_proc of frame ").append(std::to_string(n)));
            output.frames.push_back(host.outputPicture());
        }
    }
    // The information text names the layout of the working buffers that ran.
    if (host.filter()->information) std::printf("module: %s\n", host.filter()->information);
    checks.expectEq(host.exit(), TRUE, "func_exit");
    checks.expect(q5clip::writeClipFile(outPath, output), "writing " + outPath);
    return checks.finish();
}

}  // namespace q5win
