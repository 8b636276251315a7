// The dither registers' whole sequence, computed by the compiler: a constant in
// the module's read-only data, so no frame waits for it and no thread races to
// fill it. In a file of its own because the compiler takes some seconds over it.
#include "output/rounding_internal.h"

namespace {

constexpr rounding::RegisterSequence registerSequenceFromOne() {
    using namespace rounding;
    RegisterSequence sequence{};
    std::uint16_t x = 1;
    for (int i = 0; i < kPeriod; ++i) {
        sequence.state[i] = x;
        sequence.positionOf[x] = static_cast<std::uint16_t>(i);
        stepRegister(x);
    }
    for (int i = 0; i < kWrap; ++i) sequence.state[kPeriod + i] = sequence.state[i];
    return sequence;
}

}  // namespace

constexpr rounding::RegisterSequence rounding::kRegisterSequence = registerSequenceFromOne();

namespace {

// From 1 the register comes back to 1 after exactly kPeriod steps and not before,
// as the feedback promises: every state but 0 then has one place in the sequence.
constexpr bool periodIsMaximal() {
    std::uint16_t x = 1;
    for (int i = 1; i <= rounding::kPeriod; ++i) {
        rounding::stepRegister(x);
        if (x == 1) return i == rounding::kPeriod;
    }
    return false;
}
static_assert(periodIsMaximal(), "the dither registers' feedback is not maximal");

}  // namespace
