#pragma once
#include <cstdint>
#include <optional>

// The register words of an auxiliary output and the values clients see of
// them. Pure conversions: no device, no state.
namespace tarnix {

// Output-select word: bits 0-3 signal field k, bits 4-7 demodulator index,
// bit 31 negative selection (Manual, or a PID output).
constexpr uint32_t kAuxOutSelectNegative = 0x80000000u;
constexpr uint32_t kAuxOutSelectFieldMax = 0xF;

// Signal codes: -1 Manual, 0 X, 1 Y, 2 R, 3 Theta, 4..15 the frequency of PLL
// code - 4, below -1 a PID output (shown with scale 0).
constexpr int64_t kAuxOutManual = -1;
constexpr int64_t kAuxOutTheta = 3;
constexpr int64_t kAuxOutFirstPll = 4;
constexpr int64_t kAuxOutLastPll = 15;

// The signal code of a word; negative selections beyond the present PIDs are
// raised to the last one.
int64_t AuxOutSignalCode(uint32_t word, uint32_t pidCount);
// The demodulator index of a word, lowered to the last demodulator (not
// limited when there is none).
uint32_t AuxOutDemodIndex(uint32_t word, uint32_t demodCount);
// The word that selects the signal `code` (a client's value: negative for
// Manual and PID outputs) of demodulator `demodIndex`; codes beyond the
// present PIDs or PLLs are limited to the last one, and every field to its
// four bits' range.
uint32_t AuxOutSelectWord(int64_t code, uint32_t demodIndex, uint32_t pidCount, uint32_t pllCount);

// The scale register g: a factor with 7 fraction bits for Manual and the
// demodulator signals, in units of 2^9 / 688170000000 for a PLL frequency.
// `gain` is the gain of the input that the demodulator listens to (1 / its
// range in V; 0 when unknown). Codes without a scale show 0.
double AuxOutScaleValue(int32_t scale, int64_t code, double gain);
// The register that shows `value` most closely, limited to the register's
// range; 0 for codes without a scale and for NaN. None for X, Y and R while
// the input's gain is unknown: every register then shows 0, so none stands
// for the value, and the stored one is to be kept.
std::optional<int32_t> AuxOutScaleRegister(double value, int64_t code, double gain);

// VALUE: the output level code 0..65535 spans -10..10 V.
double AuxOutLevelVolts(uint32_t word);

// OFFSET: the low 24 bits as a two's-complement code s; 10 s / 32767 V above 0,
// 10 s / 32768 V below. Writes are limited to -2560..2560 V and sign-extended.
double AuxOutOffsetVolts(uint32_t word);
uint32_t AuxOutOffsetWord(double volts);

}  // namespace tarnix
