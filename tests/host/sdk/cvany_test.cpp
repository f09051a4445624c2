#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "corvanta/CVAny.h"

using corvanta::CVAny;
using corvanta::CVAnyMap;

namespace {

// The message of the std::invalid_argument that converting value to T throws.
template <class T>
std::string conversionError(const CVAny& value) {
    try {
        CVAny::convert<T>(value);
    } catch (const std::invalid_argument& error) {
        return error.what();
    }
    ADD_FAILURE() << "converting " << value.toString() << " did not throw";
    return {};
}

}  // namespace

TEST(CVAnyConvert, NumbersAndBoolsConvertIntoEachOther) {
    EXPECT_FLOAT_EQ(CVAny::convert<float>(CVAny(0.25)), 0.25f);
    EXPECT_FLOAT_EQ(CVAny::convert<float>(CVAny(3)), 3.0f);
    EXPECT_FLOAT_EQ(CVAny::convert<float>(CVAny(true)), 1.0f);
    EXPECT_DOUBLE_EQ(CVAny::convert<double>(CVAny(0.5f)), 0.5);
    EXPECT_EQ(CVAny::convert<int>(CVAny(4.0)), 4);
    EXPECT_EQ(CVAny::convert<int64_t>(CVAny(int64_t{1} << 40)), int64_t{1} << 40);
    EXPECT_TRUE(CVAny::convert<bool>(CVAny(2)));
    EXPECT_FALSE(CVAny::convert<bool>(CVAny(0.0f)));
}

TEST(CVAnyConvert, StringsConvertToNumbersOnlyWhenWhollyNumeric) {
    EXPECT_FLOAT_EQ(CVAny::convert<float>(CVAny("0.75")), 0.75f);
    EXPECT_DOUBLE_EQ(CVAny::convert<double>(CVAny("-1e-3")), -1e-3);
    EXPECT_EQ(CVAny::convert<int>(CVAny("42")), 42);
    EXPECT_EQ(CVAny::convert<int>(CVAny("42.0")), 42);
    EXPECT_TRUE(CVAny::convert<bool>(CVAny("true")));
    EXPECT_FALSE(CVAny::convert<bool>(CVAny("false")));

    for (const char* text : {"0.5x", "abc", "", " 0.5", "0.5 ", "nan", "inf", "1,5"}) {
        EXPECT_THROW(CVAny::convert<float>(CVAny(text)), std::invalid_argument) << '"' << text << '"';
    }
    EXPECT_THROW(CVAny::convert<bool>(CVAny("yes")), std::invalid_argument);
}

TEST(CVAnyConvert, LossyIntegerConversionsAreRefused) {
    EXPECT_THROW(CVAny::convert<int>(CVAny(2.5)), std::invalid_argument);
    EXPECT_THROW(CVAny::convert<int>(CVAny("2.5")), std::invalid_argument);
    EXPECT_THROW(CVAny::convert<int>(CVAny(int64_t{1} << 40)), std::invalid_argument);
    EXPECT_THROW(CVAny::convert<int64_t>(CVAny(9.3e18)), std::invalid_argument);
    EXPECT_THROW(CVAny::convert<float>(CVAny(1e300)), std::invalid_argument);
}

TEST(CVAnyConvert, ErrorsNameTheValueAndTarget) {
    EXPECT_EQ(conversionError<float>(CVAny("0.5x")), "Cannot convert \"0.5x\" (string) to float");
    EXPECT_EQ(conversionError<int>(CVAny(2.5)), "Cannot convert 2.5 (double) to int");
    EXPECT_EQ(conversionError<float>(CVAny()), "Cannot convert empty value to float");
    EXPECT_EQ(conversionError<std::string>(CVAny(CVAnyMap{{"a", 1}})), "Cannot convert {a: 1} (map) to string");
    EXPECT_EQ(conversionError<CVAnyMap>(CVAny(7)), "Cannot convert 7 (int) to map");
}

TEST(CVAnyConvert, ToStringGivesPlainText) {
    EXPECT_EQ(CVAny::convert<std::string>(CVAny("model.onnx")), "model.onnx");
    EXPECT_EQ(CVAny::convert<std::string>(CVAny(0.5f)), "0.5");
    EXPECT_EQ(CVAny::convert<std::string>(CVAny(8.0)), "8");
    EXPECT_EQ(CVAny::convert<std::string>(CVAny(-12)), "-12");
    EXPECT_EQ(CVAny::convert<std::string>(CVAny(true)), "true");
    EXPECT_EQ(CVAny::convert<std::string>(CVAny(false)), "false");
    EXPECT_EQ(CVAny::convert<std::string>(CVAny()), "");
    // Shortest text that reads back to the same float.
    const float third = 1.0f / 3.0f;
    EXPECT_EQ(CVAny::convert<float>(CVAny(CVAny::convert<std::string>(CVAny(third)))), third);
}

TEST(CVAnyValue, KeepsTypeAndCopiesIndependently) {
    EXPECT_EQ(CVAny().type(), CVAny::Type::Empty);
    EXPECT_EQ(CVAny(1.0f).type(), CVAny::Type::Float);
    EXPECT_EQ(CVAny(1.0).type(), CVAny::Type::Double);
    EXPECT_EQ(CVAny("x").type(), CVAny::Type::String);

    CVAnyMap inner{{"k", 1}};
    CVAny original(inner);
    CVAny copy = original;
    inner["k"] = 2;  // the value holds its own map, not a reference
    EXPECT_EQ(CVAny::convert<CVAnyMap>(copy).at("k"), CVAny(1));
    EXPECT_EQ(copy, original);
    EXPECT_NE(CVAny(1), CVAny(1.0f));
}

TEST(CVAnyMapTest, IteratesInKeyOrderWhateverTheInsertionOrder) {
    CVAnyMap map{{"zeta", 1}, {"alpha", 2}, {"Mid", 3}};
    map.insert("beta", 4);
    std::vector<std::string> keys;
    for (const auto& [key, value] : map) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"Mid", "alpha", "beta", "zeta"}));
}

TEST(CVAnyMapTest, AtNamesAMissingKey) {
    const CVAnyMap map{{"threshold", 0.5f}};
    EXPECT_EQ(map.at("threshold"), CVAny(0.5f));
    try {
        (void)map.at("Threshold");
        FAIL() << "no exception";
    } catch (const std::out_of_range& error) {
        EXPECT_EQ(std::string(error.what()), "No such key: Threshold");
    }
}
