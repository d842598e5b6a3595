// The fast number formatting of the text protocol against the formatting it
// replaced (every digit through floating point, kept here as the reference):
// the same bytes for a table of edge values and for millions of random values
// and digit counts, also when the output is cut short, and the same lines from
// the sample encoders.
#include "platform/endian/ByteOrder.h"
#include "core/DataTypes.h"
#include "server/text/AsciiEncoders.h"
#include "server/text/NumberFormat.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tarnix {
namespace {

// --- The reference: the digit-by-digit formatting as it was ------------------

namespace reference {

int digitOf(double quotient) {
    double d = std::floor(quotient);
    if (!(d >= 0.0)) return 0;
    if (d > 9.0) return 9;
    return static_cast<int>(d);
}

int leadingExponent(double value) {
    int exponent = static_cast<int>(std::floor(std::log10(value)));
    if (exponent < 0) exponent = 0;
    while (exponent > 0 && std::pow(10.0, exponent) > value) --exponent;
    while (exponent < 308 && std::pow(10.0, exponent + 1) <= value) ++exponent;
    return exponent;
}

void putDigits(TextOutput& out, uint64_t magnitude) {
    char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count > 0) out.put(digits[--count]);
}

void putIntegerPart(TextOutput& out, double integerPart) {
    if (integerPart < 9.2e18) {
        putDigits(out, static_cast<uint64_t>(integerPart));
        return;
    }
    for (int exponent = leadingExponent(integerPart); exponent >= 0 && !out.full(); --exponent) {
        double power = std::pow(10.0, exponent);
        int digit = digitOf(integerPart / power);
        out.put(static_cast<char>('0' + digit));
        integerPart -= digit * power;
        if (integerPart < 0.0) integerPart = 0.0;
    }
}

void putDouble(TextOutput& out, double value, unsigned fractionDigits) {
    if (std::isnan(value)) {
        out.put("nan");
        return;
    }
    if (std::isinf(value)) {
        out.put(value < 0.0 ? "-inf" : "inf");
        return;
    }
    if (value < 0.0) {
        out.put('-');
        value = -value;
    }
    // The library's pow at run time, as the server always called it.
    volatile double exponent = -static_cast<double>(fractionDigits);
    value += 0.5 * std::pow(10.0, exponent);
    double integerPart = std::floor(value);
    double fraction = value - integerPart;
    putIntegerPart(out, integerPart);
    if (fractionDigits == 0) return;
    out.put('.');
    for (unsigned i = 0; i < fractionDigits && !out.full(); ++i) {
        fraction *= 10.0;
        int digit = digitOf(fraction);
        out.put(static_cast<char>('0' + digit));
        fraction -= digit;
    }
}

void putInt64(TextOutput& out, int64_t value) {
    uint64_t magnitude = static_cast<uint64_t>(value);
    if (value < 0) {
        out.put('-');
        magnitude = 0 - magnitude;
    }
    putDigits(out, magnitude);
}

// One line of a record sample, as the encoders wrote it piece by piece.
void putSample(TextOutput& out, uint16_t dataType, const uint8_t* p) {
    const auto timestamp = [&] {
        out.put("TS=");
        putDouble(out, ticksToSeconds(le::get64(p)), 9);
    };
    switch (dataType) {
    case DATATYPE_DEMODSAMPLE:
        timestamp();
        out.put(", X=");
        putDouble(out, le::getDouble(p + 8), 10);
        out.put(", Y=");
        putDouble(out, le::getDouble(p + 16), 10);
        out.put(", F=");
        putDouble(out, le::getDouble(p + 24), 5);
        out.put(", Phi=");
        putDouble(out, le::getDouble(p + 32), 5);
        break;
    case DATATYPE_AUXINSAMPLE:
        timestamp();
        out.put(", Ch0=");
        putDouble(out, le::getDouble(p + 8), 6);
        out.put(", Ch1=");
        putDouble(out, le::getDouble(p + 16), 6);
        break;
    case DATATYPE_DIOSAMPLE: {
        timestamp();
        out.put(", Val=");
        putDigits(out, le::get32(p + 8));
        break;
    }
    default: break;
    }
}

std::string streamEncode(const std::string& path, uint16_t dataType, uint32_t sampleSize, const uint8_t* data,
                         uint32_t length, std::size_t capacity, bool& full) {
    std::vector<char> buffer(capacity + 1);
    TextOutput out(buffer.data(), capacity);
    out.put(path.data(), path.size());
    out.put(":\r\n");
    for (uint32_t at = 0; length - at >= sampleSize && !out.full(); at += sampleSize) {
        putSample(out, dataType, data + at);
        out.put("\r\n");
    }
    full = out.full();
    return std::string(buffer.data(), out.length());
}

}  // namespace reference

// --- Helpers ---------------------------------------------------------------

struct Text {
    std::string text;
    bool full;
};

Text fast(double value, unsigned digits, std::size_t capacity) {
    std::vector<char> buffer(capacity + 1);
    TextOutput out(buffer.data(), capacity);
    formatDouble(out, value, digits);
    return {std::string(buffer.data(), out.length()), out.full()};
}

Text slow(double value, unsigned digits, std::size_t capacity) {
    std::vector<char> buffer(capacity + 1);
    TextOutput out(buffer.data(), capacity);
    reference::putDouble(out, value, digits);
    return {std::string(buffer.data(), out.length()), out.full()};
}

double fromBits(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Compares one value at one digit count with room for everything; returns
// whether they agree (and records the first disagreement).
bool agrees(double value, unsigned digits, std::string& firstDifference) {
    const std::size_t room = 400 + digits;
    const Text a = fast(value, digits, room), b = slow(value, digits, room);
    if (a.text == b.text && a.full == b.full) return true;
    if (firstDifference.empty()) {
        char bits[40];
        uint64_t word;
        std::memcpy(&word, &value, sizeof word);
        std::snprintf(bits, sizeof bits, "0x%016llx", static_cast<unsigned long long>(word));
        firstDifference = std::string(bits) + " digits " + std::to_string(digits) + ": " + a.text + " vs " + b.text;
    }
    return false;
}

std::vector<double> edgeValues() {
    const double max = std::numeric_limits<double>::max();
    std::vector<double> values{0.0,
                               -0.0,
                               std::numeric_limits<double>::denorm_min(),
                               -std::numeric_limits<double>::denorm_min(),
                               DBL_MIN,
                               DBL_MIN * (1 - DBL_EPSILON),
                               max,
                               -max,
                               std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               1e-300,
                               1e-20,
                               1e-11,
                               5e-11,
                               4.9999999999999e-11,
                               0.5,
                               0.125,
                               0.05,
                               0.005,
                               0.0049999999999999,
                               0.015,
                               0.045,
                               1.005,
                               2.675,
                               0.1,
                               0.2,
                               0.3,
                               1.0 / 3.0,
                               2.0 / 3.0,
                               0.9999999999999999,
                               0.99999999999,
                               9.9999999999,
                               1.0,
                               10.0,
                               123456.123456789,
                               6.283185307179586,
                               9.587526218325454e-05,
                               1.1228070175438596,
                               2.245614035087719,
                               820312.5,
                               1842105.2631578948,
                               4503599627370495.5,
                               4503599627370496.0,
                               9007199254740991.0,
                               9007199254740993.0,
                               9.2e18,
                               std::nextafter(9.2e18, 0.0),
                               std::nextafter(9.2e18, 1e19),
                               9223372036854775807.0,
                               18446744073709551616.0,
                               1e19,
                               1e20,
                               1e22,
                               1e23,
                               1e300,
                               4.392195829136734e10,
                               -4.392195829136734e10};
    for (int e = -30; e <= 30; ++e) {
        const double p = std::pow(10.0, e);
        values.push_back(p);
        values.push_back(std::nextafter(p, 0.0));
        values.push_back(std::nextafter(p, max));
        values.push_back(0.5 * p);
        values.push_back(-1.5 * p);
    }
    for (int e = -60; e <= 70; ++e) {
        values.push_back(std::ldexp(1.0, e));
        values.push_back(std::ldexp(1.0, e) * (1 - DBL_EPSILON));
    }
    return values;
}

// --- Tests -----------------------------------------------------------------

TEST(FormatDoubleEquivalence, EdgeValuesAtEveryDigitCount) {
    std::string firstDifference;
    uint64_t differences = 0;
    const unsigned counts[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17,
                               18, 19, 20, 21, 25, 30, 38, 39, 40, 41, 50, 63, 64, 65, 100, 330, 400, 1100};
    for (double value : edgeValues())
        for (unsigned digits : counts) differences += agrees(value, digits, firstDifference) ? 0 : 1;
    EXPECT_EQ(differences, 0u) << firstDifference;
}

TEST(FormatDoubleEquivalence, RandomValuesAndDigitCounts) {
    std::mt19937_64 random(20240611);
    std::uniform_int_distribution<unsigned> smallCount(0, 20), largeCount(21, 80);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> decade(-40, 25);
    std::string firstDifference;
    uint64_t differences = 0, compared = 0;
    const auto check = [&](double value, unsigned digits) {
        differences += agrees(value, digits, firstDifference) ? 0 : 1;
        ++compared;
    };
    for (int i = 0; i < 300000; ++i) {
        const unsigned digits = i % 16 == 0 ? largeCount(random) : smallCount(random);
        // Any bit pattern: every exponent, subnormals, NaNs and infinities.
        check(fromBits(random()), digits);
        // Magnitudes as measurements have them.
        const double magnitude = unit(random) * std::pow(10.0, decade(random));
        check(i % 2 ? magnitude : -magnitude, digits);
        // Decimal values, where the rounding half sits on a digit.
        const unsigned places = smallCount(random);
        check(double(random() % 100000000000ull) / std::pow(10.0, places), digits);
        check((double(random() % 2000000) + 0.5) / std::pow(10.0, places % 12), places % 12);
        // Timestamps as the text protocol prints them.
        check(ticksToSeconds(random()), 9);
        check(ticksToSeconds(random() % (uint64_t(1) << 48)), 9);
        // Values near whole numbers and just below the next digit.
        const double whole = double(random() % 100000);
        check(std::nextafter(whole, 0.0), digits);
        check(std::nextafter(whole + 1.0 - std::pow(10.0, -double(digits % 16)) / 2, 0.0), digits % 16);
    }
    EXPECT_EQ(differences, 0u) << firstDifference << " (" << compared << " compared)";
}

TEST(FormatDoubleEquivalence, TheSameBytesWhenTheOutputIsCutShort) {
    std::mt19937_64 random(7);
    std::uniform_int_distribution<unsigned> digits(0, 24);
    std::uniform_int_distribution<std::size_t> room(0, 48);
    const std::vector<double> edges = edgeValues();
    for (int i = 0; i < 200000; ++i) {
        const double value = i % 3 == 0 ? edges[random() % edges.size()]
                                        : fromBits(random()) * (i % 3 == 1 ? 1.0 : 1e-300);
        const unsigned n = digits(random);
        const std::size_t capacity = room(random);
        const Text a = fast(value, n, capacity), b = slow(value, n, capacity);
        ASSERT_EQ(a.text, b.text) << value << " digits " << n << " room " << capacity;
        ASSERT_EQ(a.full, b.full) << value << " digits " << n << " room " << capacity;
    }
}

TEST(FormatIntegerEquivalence, RandomAndEdgeIntegers) {
    std::mt19937_64 random(11);
    std::vector<int64_t> values{0, 1, -1, 9, 10, -10, 99, 100, INT64_MAX, INT64_MIN, INT64_MIN + 1};
    for (int i = 0; i < 100000; ++i) values.push_back(int64_t(random() >> (random() % 64)) * (i % 2 ? 1 : -1));
    for (int64_t value : values)
        for (std::size_t capacity : {std::size_t(32), std::size_t(random() % 22)}) {
            char a[32], b[32];
            TextOutput fastOut(a, capacity), slowOut(b, capacity);
            formatInt64(fastOut, value);
            reference::putInt64(slowOut, value);
            ASSERT_EQ(std::string(a, fastOut.length()), std::string(b, slowOut.length())) << value;
            ASSERT_EQ(fastOut.full(), slowOut.full()) << value;
            TextOutput fastU(a, capacity), slowU(b, capacity);
            formatUInt32(fastU, uint32_t(value));
            reference::putDigits(slowU, uint32_t(value));
            ASSERT_EQ(std::string(a, fastU.length()), std::string(b, slowU.length())) << value;
            ASSERT_EQ(fastU.full(), slowU.full()) << value;
        }
}

// Blocks of random samples (random bit patterns and realistic values) through
// the stream encoder, whole and cut at random lengths of output.
TEST(StreamEncodeEquivalence, SampleLinesAsBefore) {
    std::mt19937_64 random(3);
    struct Kind {
        uint16_t dataType;
        uint32_t size;
    };
    const Kind kinds[] = {{DATATYPE_DEMODSAMPLE, kDemodSampleSize},
                          {DATATYPE_AUXINSAMPLE, kAuxInSampleSize},
                          {DATATYPE_DIOSAMPLE, kDIOSampleSize}};
    std::vector<uint8_t> out(1 << 20);
    for (int round = 0; round < 300; ++round) {
        const Kind kind = kinds[round % 3];
        const uint32_t samples = 1 + uint32_t(random() % 200);
        std::vector<uint8_t> block(samples * kind.size + uint32_t(random() % 3) * 7);
        for (std::size_t at = 0; at + 8 <= block.size(); at += 8) {
            const bool realistic = round % 2 == 0;
            const double value = (double(random() % 2000000) - 1e6) * std::pow(10.0, double(int(random() % 20) - 12));
            le::put64(&block[at], realistic && at % kind.size != 0 ? 0 : random());
            if (realistic && at % kind.size != 0) le::putDouble(&block[at], value);
        }
        const std::size_t capacity = round % 4 == 0 ? random() % 4000 : out.size();
        uint32_t length = 0;
        const QV_STATUS status = AsciiStreamEncode("/DEV1000/DEMODS/0/SAMPLE", 0, kind.dataType, out.data(),
                                                   uint32_t(capacity), length, block.data(), uint32_t(block.size()));
        bool full = false;
        const std::string expected = reference::streamEncode("/DEV1000/DEMODS/0/SAMPLE", kind.dataType, kind.size,
                                                             block.data(), uint32_t(block.size()), capacity, full);
        ASSERT_EQ(std::string(reinterpret_cast<const char*>(out.data()), length), expected) << "round " << round;
        ASSERT_EQ(status, full ? QV_BUFFER_TOO_SMALL : QV_NO_ERROR) << "round " << round;
    }
}

TEST(ValueEncodeEquivalence, DoublesAtEveryPrecision) {
    std::mt19937_64 random(5);
    std::vector<uint8_t> out(2048);
    for (int i = 0; i < 20000; ++i) {
        const double value = i % 2 ? fromBits(random()) : double(int64_t(random() % 2000001) - 1000000) / 1024.0;
        const uint16_t precision = uint16_t(i % 50 == 0 ? random() % 300 : random() % 17);
        uint8_t data[8];
        le::putDouble(data, value);
        uint32_t length = 0;
        EXPECT_EQ(AsciiValueEncode("/DEV1000/DEMODS/0/RATE", precision, 0, DATATYPE_DOUBLE, out.data(), uint32_t(out.size()),
                         length, data, 8), QV_NO_ERROR);
        const Text expected = slow(value, precision, 2048);
        ASSERT_EQ(std::string(reinterpret_cast<const char*>(out.data()), length),
                  "/DEV1000/DEMODS/0/RATE: " + expected.text + "\r\n")
            << value << " precision " << precision;
    }
}

}  // namespace
}  // namespace tarnix
