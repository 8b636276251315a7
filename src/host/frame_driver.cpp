// The per-frame entry point: checks the frame, rounds its size to whole 16 x 16
// blocks for the duration of the call, keeps the three-slot ring of analysed
// frames up to date and runs the stages, each as one dispatch on the host's threads.
#include <cstdio>
#include <cstring>

#include "abi/settings.h"
#include "analysis/analysis.h"
#include "core/control_word.h"
#include "core/core.h"
#include "core/size_class.h"
#include "host/callbacks.h"
#include "host/frame_ring.h"
#include "output/output_stage.h"
#include "output/rounding.h"
#include "platform/platform.h"
#include "prefilter/prefilter.h"
#include "temporal/temporal.h"

FrameRing frameRing = {{kEmptySlot, kEmptySlot, kEmptySlot}};

void emptyFrameRing() noexcept {
    for (int &marker : frameRing.slotFrame) marker = kEmptySlot;
}

namespace {

// 「システムの設定」の「最大画像サイズ」の「高さ」を %d 以上に設定し、AviUtlを再起動してください
const char kHeightMessage[] =
    "\x81u\x83V\x83X\x83" "e\x83\x80\x82\xCC\x90\xDD\x92\xE8\x81v\x82\xCC\x81u\x8D\xC5\x91\xE5"
    "\x89\xE6\x91\x9C\x83T\x83" "C\x83Y\x81v\x82\xCC\x81u\x8D\x82\x82\xB3\x81v\x82\xF0 %d \x88"
    "\xC8\x8F\xE3\x82\xC9\x90\xDD\x92\xE8\x82\xB5\x81" "AAviUtl\x82\xF0\x8D\xC4\x8BN\x93\xAE\x82"
    "\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2";
// 「システムの設定」の「最大画像サイズ」の「幅」を %d 以上に設定し、AviUtlを再起動してください
const char kWidthMessage[] =
    "\x81u\x83V\x83X\x83" "e\x83\x80\x82\xCC\x90\xDD\x92\xE8\x81v\x82\xCC\x81u\x8D\xC5\x91\xE5"
    "\x89\xE6\x91\x9C\x83T\x83" "C\x83Y\x81v\x82\xCC\x81u\x95\x9D\x81v\x82\xF0 %d \x88\xC8\x8F"
    "\xE3\x82\xC9\x90\xDD\x92\xE8\x82\xB5\x81" "AAviUtl\x82\xF0\x8D\xC4\x8BN\x93\xAE\x82\xB5\x82"
    "\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2";
// The caption reads "Quorvane4 Lite", not Quorvane5: it is the system's own text for
// these two messages, kept as it is.
const char kMessageCaption[] = "Quorvane4 Lite";

void showSizeMessage(const char *format, int size) noexcept {
    char text[200];
    std::snprintf(text, sizeof text, format, size);
    MessageBoxA(GetDesktopWindow(), text, kMessageCaption, MB_OK);
}

// Working buffers that could not be allocated: said once, at the first black frame
// it causes. The allocation is tried again only when the frame size changes, so the
// message comes at most once per size change, not with every frame.
bool memoryShortageReported = false;

void reportMemoryShortage(int w, int h) noexcept {
    if (memoryShortageReported) return;
    memoryShortageReported = true;
    char text[80];
    std::snprintf(text, sizeof text, "not enough memory for %d \x81\x7E %d", w, h);  // Shift_JIS multiplication sign
    MessageBoxA(GetDesktopWindow(), text, "Quorvane5", MB_OK);
}

// Never past the host image, whatever height the host reports.
void blankRows(FILTER_PROC_INFO *fpip, int rowCount) noexcept {
    if (rowCount > fpip->max_h) rowCount = fpip->max_h;
    if (rowCount > 0 && fpip->max_w > 0)
        std::memset(fpip->ycp_edit, 0,
                    static_cast<std::size_t>(fpip->max_w) * rowCount * sizeof(PIXEL_YC));
}


// Row of the real picture that fills padding row j: reflection about the last
// real row without repeating it, reflected again for pictures so short that one
// reflection would reach above row 0.
int paddingSourceRow(int j, int realHeight) noexcept {
    if (realHeight <= 1) return 0;
    const int period = 2 * (realHeight - 1);
    const int m = j % period;
    return m < realHeight ? m : period - m;
}

void padBottom(PIXEL_YC *image, int realHeight, const FILTER_PROC_INFO *fpip) noexcept {
    const std::size_t pitch = static_cast<std::size_t>(fpip->max_w);
    for (int j = realHeight; j < fpip->h; ++j)
        std::memcpy(image + j * pitch, image + paddingSourceRow(j, realHeight) * pitch,
                    static_cast<std::size_t>(fpip->w) * sizeof(PIXEL_YC));
}

// Reflection about the first and the last frame of the clip, without repeating them.
int mirrorFrame(int n, int frameCount) noexcept {
    if (n < 0) return -n;
    if (n >= frameCount) return 2 * frameCount - n - 2;
    return n;
}

// What one frame runs with, built once at the top of func_proc: the strengths of
// the last settings update and the check boxes and pre-pass sliders as they stand,
// and the kernel tables and buffers every stage works with. Every stage's parameter
// record is built from it.
struct FrameSettings {
    const NrStrengths *strengths;
    bool fieldBox;  // per-field processing as the box stands: the pre-passes and rounding
    bool blockNr, mosquitoNr, rounding;
    int blockNrSlider, mosqNrSlider, roundingSlider;
    StageContext context;  // its threadsSeen is where the next dispatch notes the host's thread count
};

// How many threads the host ran the last stage on, as its thread 0 noted it; the
// driver gives the next stages octet scratch for that many.
int hostThreads = 1;

FrameSettings frameSettings(const FILTER *fp) noexcept {
    return {&nrStrengths,
            checkOn(fp, CheckBox::Fields),
            checkOn(fp, CheckBox::BlockNr),
            checkOn(fp, CheckBox::MosquitoNr),
            checkOn(fp, CheckBox::Rounding),
            sliderValue(fp, Slider::BlockNr),
            sliderValue(fp, Slider::MosqNr),
            sliderValue(fp, Slider::Rounding),
            {&moduleKernels, &workBuffers, &hostThreads}};
}

// The pre-pass kernels' memory on each thread: its octet scratch, which the
// analysis that follows overwrites anyway. Threads without one get none.
int prepassScratch(const WorkBuffers &buffers, PrepassScratch (&scratch)[kMaxThreads]) noexcept {
    if (!buffersReady) return 0;
    const int threads = kScratchSets + buffers.extraOctetCount;
    // octetScratch aligns the block's start on 32 bytes, which may take that many.
    const std::size_t bytes = workBufferSizes(buffers.planes).scratchOctets - 32;
    for (int t = 0; t < threads; ++t) scratch[t] = {octetScratch(buffers, t), bytes};
    return threads;
}

// The optional block and mosquito passes; returns the image the analysis reads:
// the fetched frame, or the last pass's result (ycp_edit, then ycp_temp).
// The parameter records live on this call's stack: each dispatch returns only when
// every worker has finished with them.
PIXEL_YC *runPrepasses(FILTER *fp, FILTER_PROC_INFO *fpip, PIXEL_YC *p, int mirrored, int realHeight,
                       const FrameSettings &settings) noexcept {
    EXFUNC *ex = fp->exfunc;
    PrepassScratch scratch[kMaxThreads];
    PrepassParams both{};
    both.fieldCount = settings.fieldBox ? 2 : 1;
    both.animeMode = settings.strengths->animeMode;
    both.scratch = scratch;
    const bool anyPass = settings.blockNr || settings.mosquitoNr;
    both.scratchCount = anyPass ? prepassScratch(*settings.context.buffers, scratch) : 0;
    both.kernels = settings.context.kernels;
    if (settings.blockNr) {
        PrepassParams params = both;
        params.source = p;
        params.strengthA = 8 * settings.blockNrSlider;
        params.strengthB = 16 * settings.blockNrSlider;
        ex->exec_multi_thread_func(&blockNrWorker, &params, fpip);
        p = fpip->ycp_edit;
    }
    if (settings.mosquitoNr) {
        PrepassParams params = both;
        params.source = p;
        // The strength is how far both members of a pair may lie from the target, in
        // YC48 steps (16 to an 8-bit code value). The small class takes 8 per slider
        // step (MosqNR 5: 40, some 2.5 code values: faint ringing only); the large
        // classes take 90 (450, some 28 code values), so at HD sizes the pass also
        // evens out low-contrast detail and the slider is best kept low there. The
        // jump is not a scaling by frame size: the two factors are part of the filter's
        // defined output and stay as they are, and frames beyond 1920 x 1088 take 90 too.
        params.strengthC = mosquitoStepFactor(settings.context.buffers->planes) * settings.mosqNrSlider;
        // A missing neighbour is the frame itself.
        PIXEL_YC *prev = mirrored - 1 < 0 ? nullptr
                         : ex->get_ycp_filtering_cache_ex(fp, fpip->editp, mirrored - 1, nullptr, nullptr);
        PIXEL_YC *next = mirrored + 1 >= fpip->frame_n ? nullptr
                         : ex->get_ycp_filtering_cache_ex(fp, fpip->editp, mirrored + 1, nullptr, nullptr);
        // The pass reads the neighbours down to the last padded row, which the host
        // never wrote: they get the same reflection as the frame itself, so the
        // result does not depend on what the host's memory held there.
        if (realHeight < fpip->h) {
            if (prev) padBottom(prev, realHeight, fpip);
            if (next) padBottom(next, realHeight, fpip);
        }
        params.prevFrame = prev ? prev : p;
        params.nextFrame = next ? next : p;
        ex->exec_multi_thread_func(&mosquitoNrWorker, &params, fpip);
        p = fpip->ycp_temp;
    }
    return p;
}

// Fetches frame n of the clip into the ring, with its pre-passes and analysis.
void analyseIntoSlot(FILTER *fp, FILTER_PROC_INFO *fpip, int n, int slot, int realHeight,
                     const FrameSettings &settings) noexcept {
    EXFUNC *ex = fp->exfunc;
    ex->set_ycp_filtering_cache_size(fp, fpip->max_w, fpip->max_h, 5, 0);
    const int mirrored = mirrorFrame(n, fpip->frame_n);
    PIXEL_YC *p = ex->get_ycp_filtering_cache_ex(fp, fpip->editp, mirrored, nullptr, nullptr);
    if (!p) {
        frameRing.slotFrame[slot] = kEmptySlot;
        return;
    }
    if (realHeight < fpip->h) padBottom(p, realHeight, fpip);
    p = runPrepasses(fp, fpip, p, mirrored, realHeight, settings);

    AnalysisParams params{p, slot, settings.strengths, settings.context};
    ex->exec_multi_thread_func(verticalAnalysisWorker, &params, fpip);
    ensureOctetScratch(*settings.context.buffers, *settings.context.threadsSeen);
    ex->exec_multi_thread_func(horizontalAnalysisWorker, &params, fpip);
    frameRing.slotFrame[slot] = mirrored;
}

// The frames n - 1, n and n + 1 into the ring, as far as they are not there yet.
void bringRingUpToDate(FILTER *fp, FILTER_PROC_INFO *fpip, int realHeight, const FrameSettings &settings) noexcept {
    for (int offset = -1; offset <= 1; ++offset) {
        const int n = fpip->frame + offset;
        const int slot = (n + 3) % 3;
        if (frameRing.slotFrame[slot] == n) continue;
        analyseIntoSlot(fp, fpip, n, slot, realHeight, settings);
    }
}

// The current frame rebuilt from the ring into ycp_edit, with the rounding correction.
void rebuildFrame(FILTER *fp, FILTER_PROC_INFO *fpip, const FrameSettings &settings) noexcept {
    EXFUNC *ex = fp->exfunc;
    const int frame = fpip->frame;
    const NrStrengths &strengths = *settings.strengths;
    TemporalParams temporal{makeTemporalJob(frame, frameRing.slotFrame[(frame + 2) % 3] == kEmptySlot,
                                            frameRing.slotFrame[(frame + 1) % 3] == kEmptySlot),
                            strengths.temporalThreshold, strengths.fieldMode, settings.context};
    ex->exec_multi_thread_func(temporalChromaWorker, &temporal, fpip);
    OutputRoundingParams last{temporal, {settings.roundingSlider, settings.fieldBox, settings.context}};
    // The rounding correction follows the luma sweep band by band where the two agree
    // on the fields and the host's threads all have remainders (the last dispatch
    // showed how many the host runs); else each runs over the whole frame.
    const bool fused = settings.fieldBox == strengths.fieldMode && *settings.context.threadsSeen <= kScratchSets;
    if (settings.rounding && fused) {
        ex->exec_multi_thread_func(outputRoundingWorker, &last, fpip);
    } else {
        ex->exec_multi_thread_func(lumaOutputWorker, &temporal, fpip);
        if (settings.rounding) ex->exec_multi_thread_func(roundingWorker, &last.rounding, fpip);
    }
}

// Steps 3 to 5 of a frame's checks: the size messages, and frames the filter cannot
// process. True when the frame is refused (and already blanked).
bool refuseFrame(FILTER_PROC_INFO *fpip, int w16, int h16) noexcept {
    const int hostW = fpip->w, hostH = fpip->h;
    bool messageShown = false;
    if (h16 > fpip->max_h) {
        showSizeMessage(kHeightMessage, h16);
        messageShown = true;
    }
    if (w16 > fpip->max_w) {
        showSizeMessage(kWidthMessage, w16);
        messageShown = true;
    }
    // An empty picture, or a frame number outside any clip, has nothing to analyse
    // (and would index the ring out of bounds); it is handled like an oversized frame.
    const bool malformed = hostW <= 0 || hostH <= 0 || fpip->frame < 0 || fpip->frame_n <= 0;
    if (messageShown || hostH > kMaxFrameHeight || hostW > kMaxFrameWidth || malformed || CpuLevel != 2) {
        blankRows(fpip, hostH);
        return true;
    }
    return false;
}

}  // namespace

BOOL func_proc(FILTER *fp, FILTER_PROC_INFO *fpip) noexcept {
    ControlWordScope controlWord(kProcControlWord);

    const int hostW = fpip->w;
    const int hostH = fpip->h;
    // Rounded up to whole 16 x 16 blocks in 16-bit arithmetic: the mask clears the low
    // four bits and everything from bit 15 up, so the rounded size is 0..32752 whatever
    // the host reports. A negative or oversized frame may thus round to a small size
    // here; the checks on the host's own size refuse it.
    const int w = (hostW + 15) & 0x7FF0;
    const int h = (hostH + 15) & 0x7FF0;
    if (refuseFrame(fpip, w, h)) return TRUE;

    fpip->w = w;
    fpip->h = h;
    if (w != lastW || h != lastH) {
        buffersReady = allocateWorkBuffers(workBuffers, sizeClassFor(w, h));
        memoryShortageReported = false;
        emptyFrameRing();
        lastW = w;
        lastH = h;
    }
    if (!buffersReady) {
        reportMemoryShortage(hostW, hostH);
        blankRows(fpip, h);
    } else {
        // The wavelet stages share their work among all of the host's threads. Threads
        // beyond the four scratch sets get their octet scratch once a stage has shown
        // the host runs them (until then a stage splits among those with scratch, with
        // the same result), so the host sees no dispatch beyond the filter's own stages.
        ensureOctetScratch(workBuffers, hostThreads);
        // The wavelet stages take per-field processing from the settings of the last
        // update (NrStrengths); the pre-passes and the rounding correction take it from
        // the check box as it stands for this frame. The two differ only before the
        // first update.
        const FrameSettings settings = frameSettings(fp);
        bringRingUpToDate(fp, fpip, hostH, settings);
        // Without the current frame there is nothing to rebuild: the frame is returned
        // black rather than made from whatever the slot held before.
        if (frameRing.slotFrame[fpip->frame % 3] == kEmptySlot)
            blankRows(fpip, h);
        else
            rebuildFrame(fp, fpip, settings);
    }
    fpip->w = hostW;
    fpip->h = hostH;
    return TRUE;
}
