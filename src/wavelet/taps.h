// Filter taps shared by the scalar and SSE2 wavelet kernels, laid out as the
// 4-wide lanes the SSE2 kernels multiply, so that both sum in the same order.
// Every value is a single-precision constant; zero lanes pad the windows.
#pragma once

namespace wavelet_taps {

// Daubechies-4 low pass h and its high-pass partner g = (h3, -h2, h1, -h0).
inline constexpr float h0 = 0.482962906f, h1 = 0.836516321f, h2 = 0.224143863f,
                       h3 = -0.129409522f;

// ---- forwardLevel -----------------------------------------------------------
// One step makes the outputs m (even) and m + 1 from the twelve samples
// x[2m - 4 .. 2m + 7]: three aligned vectors. The ten-tap L and H1 filters sit at
// lanes 0..9 for the even output and at lanes 2..11 for the odd one.
inline constexpr float kForwardLEven[12] = {
    -0.0301851816f, -0.05228227f, 0.257657647f, 0.478628516f, 0.397747576f, 0.397747576f,
    0.0958957449f, -0.125075132f, -0.0140089914f, 0.00808809511f, 0.0f, 0.0f};
inline constexpr float kForwardLOdd[12] = {
    0.0f, 0.0f, -0.0301851816f, -0.05228227f, 0.257657647f, 0.478628516f,
    0.397747576f, 0.397747576f, 0.0958957449f, -0.125075132f, -0.0140089914f, 0.00808809511f};
inline constexpr float kForwardH1Even[12] = {
    0.00808809511f, 0.0140089914f, -0.125075132f, -0.225305259f, 0.173603699f, 0.438768744f,
    -0.00433439715f, -0.257657647f, -0.05228227f, 0.0301851816f, 0.0f, 0.0f};
inline constexpr float kForwardH1Odd[12] = {
    0.0f, 0.0f, 0.00808809511f, 0.0140089914f, -0.125075132f, -0.225305259f,
    0.173603699f, 0.438768744f, -0.00433439715f, -0.257657647f, -0.05228227f, 0.0301851816f};
// H2 reads x[2m .. 2m + 3] (one vector, the second of the window) for the even
// output and x[2m + 2 .. 2m + 5] (lanes 2..3 of it and 0..1 of the third) for the odd.
inline constexpr float kForwardH2Even[4] = {-0.129409522f, -0.224143863f, 0.836516321f,
                                            -0.482962906f};
inline constexpr float kForwardH2Odd[8] = {0.0f, 0.0f, -0.129409522f, -0.224143863f,
                                           0.836516321f, -0.482962906f, 0.0f, 0.0f};

// ---- inverseLevel -----------------------------------------------------------
// Each output pair m is a dot product of three vectors:
// (L[m-2..m+1]), (H1[m-2..m+1]) and (L[m+2], H1[m+2], H2[m-1], H2[m]).
inline constexpr float kInverseEven[12] = {
    -0.0140089914f, 0.0958957449f, 0.397747576f, 0.257657647f,
    -0.05228227f, -0.00433439715f, 0.173603699f, -0.125075132f,
    -0.0301851816f, 0.00808809511f, 0.836516321f, -0.129409522f};
inline constexpr float kInverseOdd[12] = {
    0.00808809511f, -0.125075132f, 0.397747576f, 0.478628516f,
    0.0301851816f, -0.257657647f, 0.438768744f, -0.225305259f,
    -0.05228227f, 0.0140089914f, -0.482962906f, -0.224143863f};

// ---- mergeLowBand -----------------------------------------------------------
// Taps at offsets -1, 0, +1, +2 on L (a) and on H1 (b).
inline constexpr float kMergeL[4] = {-0.0625f, 0.5625f, 0.5625f, -0.0625f};
inline constexpr float kMergeH1[4] = {-0.233253181f, 0.483253181f, -0.266746819f,
                                      0.0167468246f};

// ---- flatMask / coreBands ---------------------------------------------------
// Luma with anime mode off keeps positions where a detail is this small.
inline constexpr float kKeepSmallBound = 0.4f;
// A coring threshold of exactly 0 would core nothing that is not exactly 0.
inline constexpr float kZeroThresholdReplacement = 0.0001f;

}  // namespace wavelet_taps
