// money!'s packed digits and vector!'s raw elements.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/money.h"
#include "datatypes/vector.h"
#include "runtime/fire.h"
#include "runtime_fixture.h"

using namespace zuv;

namespace {

using amount_t = money::amount_t;

amount_t pow10(int n) {
    amount_t p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

// The 22 digits as text, digit 1 first, read nibble by nibble.
std::string nibbles(const cell_t* c) {
    std::string out;
    const uint8_t* d = money::digits_of(c);
    for (int i = 0; i < money::DIGIT_BYTES; i++) {
        out += static_cast<char>('0' + (d[i] >> 4));
        out += static_cast<char>('0' + (d[i] & 15));
    }
    return out;
}

std::string decimal(amount_t v) {
    std::string out;
    do {
        out.insert(out.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
    } while (v != 0);
    return std::string(22 - out.size(), '0') + out;
}

class MoneyVector : public zuv::testing::Runtime {};

}  // namespace

// Amounts at the edges of the 64-bit and 8-digit chunks the packing works
// in, and at the ends of the range, keep every digit in its nibble.
TEST_F(MoneyVector, AmountsPackDigitByDigit) {
    const amount_t largest = pow10(22) - 1;
    const amount_t amounts[] = {0,
                                1,
                                9999,
                                10000,
                                99999999,
                                100000000,
                                pow10(18) - 1,
                                pow10(18),
                                amount_t(UINT64_MAX),
                                amount_t(UINT64_MAX) + 1,
                                pow10(20) + 12345,
                                largest,
                                pow10(21) * 9 + 1234567890123456789ULL};
    for (amount_t v : amounts) {
        cell_t c{};
        money::make_amount(&c, false, 0, v);
        EXPECT_EQ(nibbles(&c), decimal(v));
        EXPECT_TRUE(money::get_amount(&c) == v) << decimal(v);
    }
}

TEST_F(MoneyVector, SignificantDigitsAndSign) {
    struct row_t {
        amount_t amount;
        int32_t digits;
    } rows[] = {{0, 1}, {1, 1}, {9, 1}, {10, 2}, {100000, 6}, {pow10(21), 22}, {pow10(22) - 1, 22}};
    for (const row_t& r : rows) {
        cell_t c{};
        money::make_amount(&c, true, 0, r.amount);
        EXPECT_EQ(money::significant_digits(money::digits_of(&c)), r.digits) << decimal(r.amount);
        // A zero amount with the sign bit set is still zero.
        EXPECT_EQ(money::signum(&c), r.amount == 0 ? 0 : -1);
    }
}

// 99999999999999984.0 reads back from "9.999999999999998e16": the amount
// is those digits, not the float's binary expansion.
TEST_F(MoneyVector, FloatsBecomeTheirShortestDigits) {
    struct row_t {
        double d;
        amount_t lenient;  // hundred-thousandths
        bool strict_ok;
    } rows[] = {{0.1, 10000, true},      {0.3, 30000, true},
                {1e16, pow10(21), true}, {1.000009, 100000, false},
                {-2.5, 250000, true},    {99999999999999984.0, pow10(22) - 2000000, true},
                {1e-5, 1, true},         {123.456789, 12345678, false}};
    for (const row_t& r : rows) {
        cell_t c{};
        money::from_float(&c, r.d, false);
        EXPECT_TRUE(money::get_amount(&c) == r.lenient) << r.d;
        EXPECT_EQ(money::signum(&c), r.d < 0 ? -1 : 1);
        if (r.strict_ok) EXPECT_NO_THROW(money::from_float(&c, r.d, true)) << r.d;
        else EXPECT_THROW(money::from_float(&c, r.d, true), raised_error) << r.d;
    }
    // Out of range either way, and not numbers at all.
    for (double d : {1e17, -1e17, 9e-6, -1e-300, std::nan(""), 1.0 / 0.0}) {
        cell_t c{};
        EXPECT_THROW(money::from_float(&c, d, false), raised_error) << d;
    }
}

// Every element type and size stores a value and reads it back as the
// element holds it: integers sign-extended, characters unsigned, binary32
// rounded.
TEST_F(MoneyVector, ElementsStoreAndReadBack) {
    struct row_t {
        uint8_t type;
        uint32_t size;
        cell_t in;
        int32_t as_int;
        double as_float;
    } rows[] = {
        {TYPE_integer, 1, {TYPE_integer, 0, 200, 0}, -56, 0},
        {TYPE_integer, 1, {TYPE_integer, 0, static_cast<uint32_t>(-1), 0}, -1, 0},
        {TYPE_integer, 2, {TYPE_integer, 0, 40000, 0}, 40000 - 65536, 0},
        {TYPE_integer, 4, {TYPE_integer, 0, 0x80000000u, 0}, INT32_MIN, 0},
        {TYPE_char_, 1, {TYPE_char_, 0, 0x1F600, 0}, 0x00, 0},
        {TYPE_char_, 2, {TYPE_char_, 0, 0xFFFF, 0}, 0xFFFF, 0},
        {TYPE_char_, 4, {TYPE_char_, 0, 0x10FFFF, 0}, 0x10FFFF, 0},
    };
    for (const row_t& r : rows) {
        uint8_t raw[8] = {};
        vector::set_value(raw, r.size, &r.in);
        cell_t out;
        vector::get_value(raw, r.type, r.size, &out);
        EXPECT_EQ(type_of(&out), r.type);
        EXPECT_EQ(static_cast<int32_t>(out.data2), r.as_int) << int(r.type) << " " << r.size;
    }
    for (uint8_t type : {TYPE_float_, TYPE_percent}) {
        for (uint32_t size : {4u, 8u}) {
            cell_t in{TYPE_float_, 0, 0, 0};
            cell::put_float(&in, 0.1);
            uint8_t raw[8] = {};
            vector::set_value(raw, size, &in);
            cell_t out;
            vector::get_value(raw, type, size, &out);
            EXPECT_EQ(type_of(&out), type);
            EXPECT_EQ(cell::get_float(&out), size == 8 ? 0.1 : static_cast<double>(0.1f));
        }
    }
    uint8_t raw[8];
    cell_t word{TYPE_none, 0, 0, 0};
    EXPECT_THROW(vector::set_value(raw, 4, &word), raised_error);
}

TEST_F(MoneyVector, ElementOrder) {
    auto order = [](uint8_t type, uint32_t size, const cell_t& a, const cell_t& b) {
        uint8_t x[8] = {}, y[8] = {};
        vector::set_value(x, size, &a);
        vector::set_value(y, size, &b);
        return vector::compare_elements(x, y, type, size);
    };
    cell_t minus{TYPE_integer, 0, static_cast<uint32_t>(-1), 0}, one{TYPE_integer, 0, 1, 0};
    for (uint32_t size : {1u, 2u, 4u}) EXPECT_EQ(order(TYPE_integer, size, minus, one), -1) << size;
    cell_t high{TYPE_char_, 0, 0xFFFF, 0}, low{TYPE_char_, 0, 'a', 0};
    EXPECT_EQ(order(TYPE_char_, 2, high, low), 1);
    cell_t nan{TYPE_float_, 0, 0, 0}, two{TYPE_float_, 0, 0, 0};
    cell::put_float(&nan, std::nan(""));
    cell::put_float(&two, 2.0);
    // An unordered pair counts as equal, so sorting never fails on NaN.
    EXPECT_EQ(order(TYPE_float_, 8, nan, two), 0);
    EXPECT_EQ(order(TYPE_float_, 4, two, nan), 0);
}
