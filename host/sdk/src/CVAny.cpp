#include "corvanta/CVAny.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace corvanta {

CVAny::CVAny() = default;
CVAny::CVAny(bool value) : data(value) {}
CVAny::CVAny(int value) : data(int64_t{value}) {}
CVAny::CVAny(int64_t value) : data(value) {}
CVAny::CVAny(float value) : data(value) {}
CVAny::CVAny(double value) : data(value) {}
CVAny::CVAny(const char* value) : data(std::string(value == nullptr ? "" : value)) {}
CVAny::CVAny(const std::string& value) : data(value) {}
CVAny::CVAny(std::string&& value) : data(std::move(value)) {}
CVAny::CVAny(const CVAnyMap& value) : data(std::make_shared<const CVAnyMap>(value)) {}

CVAny::CVAny(const CVAny&) = default;
CVAny::CVAny(CVAny&&) noexcept = default;
CVAny& CVAny::operator=(const CVAny&) = default;
CVAny& CVAny::operator=(CVAny&&) noexcept = default;
CVAny::~CVAny() = default;

CVAny::Type CVAny::type() const {
    return static_cast<Type>(data.index());  // alternatives are declared in Type's order
}

bool CVAny::isEmpty() const {
    return std::holds_alternative<std::monostate>(data);
}

bool CVAny::operator==(const CVAny& other) const {
    const auto* map = std::get_if<MapPtr>(&data);
    const auto* otherMap = std::get_if<MapPtr>(&other.data);
    if (map != nullptr && otherMap != nullptr) return **map == **otherMap;
    return data == other.data;
}

namespace {

const char* typeName(CVAny::Type type) {
    switch (type) {
        case CVAny::Type::Empty: return "empty";
        case CVAny::Type::Bool: return "bool";
        case CVAny::Type::Int: return "int";
        case CVAny::Type::Float: return "float";
        case CVAny::Type::Double: return "double";
        case CVAny::Type::String: return "string";
        case CVAny::Type::Map: return "map";
    }
    return "unknown";
}

// Shortest text that reads back to the same value, e.g. 0.5 -> "0.5", 8.0 -> "8".
template <class Number>
std::string numberText(Number value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// The value as a message shows it: its text, quoted when it is a string, and its type.
std::string describe(const CVAny& value) {
    if (value.type() == CVAny::Type::Empty) return "empty value";
    if (value.type() == CVAny::Type::String) return "\"" + value.toString() + "\" (string)";
    return value.toString() + " (" + typeName(value.type()) + ")";
}

[[noreturn]] void throwCannotConvert(const CVAny& value, const char* target) {
    throw std::invalid_argument("Cannot convert " + describe(value) + " to " + target);
}

// Parses the whole text as a finite decimal number; anything else (blanks,
// trailing junk, "nan", "inf", an empty string) is refused.
std::optional<double> parseDouble(const std::string& text) {
    double parsed = 0.0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, parsed);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(parsed)) return std::nullopt;
    return parsed;
}

std::optional<int64_t> parseInteger(const std::string& text) {
    int64_t parsed = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, parsed);
    if (result.ec != std::errc() || result.ptr != end) return std::nullopt;
    return parsed;
}

// Any number as a double; strings must parse completely.
double toDouble(const CVAny& value, const char* target) {
    switch (value.type()) {
        case CVAny::Type::Bool: return CVAny::convert<bool>(value) ? 1.0 : 0.0;
        case CVAny::Type::Int: return static_cast<double>(CVAny::convert<int64_t>(value));
        case CVAny::Type::Float:
        case CVAny::Type::Double: return CVAny::convert<double>(value);
        case CVAny::Type::String:
            if (auto parsed = parseDouble(value.toString())) return *parsed;
            break;
        default: break;
    }
    throwCannotConvert(value, target);
}

// The value as a whole number, or nothing when it has a fraction or lies
// beyond 64 bits: dropping a fraction or wrapping around would be a silently
// wrong answer.
std::optional<int64_t> wholeNumber(const CVAny& value, const char* target) {
    if (value.type() == CVAny::Type::Int) return CVAny::convert<int64_t>(value);
    if (value.type() == CVAny::Type::String) {
        if (auto parsed = parseInteger(value.toString())) return parsed;
    }
    const double number = toDouble(value, target);
    // 2^63 is exactly representable as a double; the range test must exclude it.
    if (number != std::trunc(number) || number < -9223372036854775808.0 || number >= 9223372036854775808.0) {
        return std::nullopt;
    }
    return static_cast<int64_t>(number);
}

template <class Integer>
Integer toInteger(const CVAny& value, const char* target) {
    const auto whole = wholeNumber(value, target);
    if (!whole || *whole < std::numeric_limits<Integer>::min() || *whole > std::numeric_limits<Integer>::max()) {
        throwCannotConvert(value, target);
    }
    return static_cast<Integer>(*whole);
}

}  // namespace

std::string CVAny::toString() const {
    switch (type()) {
        case Type::Empty: return "";
        case Type::Bool: return std::get<bool>(data) ? "true" : "false";
        case Type::Int: return std::to_string(std::get<int64_t>(data));
        case Type::Float: return numberText(std::get<float>(data));
        case Type::Double: return numberText(std::get<double>(data));
        case Type::String: return std::get<std::string>(data);
        case Type::Map: {
            std::string text = "{";
            for (const auto& [key, value] : *std::get<MapPtr>(data)) {
                if (text.size() > 1) text += ", ";
                text += key + ": " + value.toString();
            }
            return text + "}";
        }
    }
    return "";
}

template <>
bool CVAny::convert<bool>(const CVAny& value) {
    switch (value.type()) {
        case Type::Bool: return std::get<bool>(value.data);
        case Type::Int: return std::get<int64_t>(value.data) != 0;
        case Type::Float: return std::get<float>(value.data) != 0.0f;
        case Type::Double: return std::get<double>(value.data) != 0.0;
        case Type::String: {
            const auto& text = std::get<std::string>(value.data);
            if (text == "true") return true;
            if (text == "false") return false;
            break;
        }
        default: break;
    }
    throwCannotConvert(value, "bool");
}

template <>
int64_t CVAny::convert<int64_t>(const CVAny& value) {
    if (value.type() == Type::Int) return std::get<int64_t>(value.data);
    return toInteger<int64_t>(value, "int64");
}

template <>
int CVAny::convert<int>(const CVAny& value) {
    return toInteger<int>(value, "int");
}

template <>
double CVAny::convert<double>(const CVAny& value) {
    if (value.type() == Type::Double) return std::get<double>(value.data);
    if (value.type() == Type::Float) return std::get<float>(value.data);
    return toDouble(value, "double");
}

template <>
float CVAny::convert<float>(const CVAny& value) {
    if (value.type() == Type::Float) return std::get<float>(value.data);
    const double number = toDouble(value, "float");
    // A finite value beyond float's range would silently become infinite.
    if (std::isfinite(number) && std::abs(number) > std::numeric_limits<float>::max()) {
        throwCannotConvert(value, "float");
    }
    return static_cast<float>(number);
}

template <>
std::string CVAny::convert<std::string>(const CVAny& value) {
    if (value.type() == Type::Map) throwCannotConvert(value, "string");
    return value.toString();
}

template <>
CVAnyMap CVAny::convert<CVAnyMap>(const CVAny& value) {
    if (value.type() != Type::Map) throwCannotConvert(value, "map");
    return *std::get<MapPtr>(value.data);
}

CVAnyMap::CVAnyMap(std::initializer_list<std::pair<std::string, CVAny>> initial) {
    // A repeated key keeps its last value, as repeated assignment would.
    for (const auto& [key, value] : initial) entries.insert_or_assign(key, value);
}

const CVAny& CVAnyMap::at(const std::string& key) const {
    const auto found = entries.find(key);
    if (found == entries.end()) throw std::out_of_range("No such key: " + key);
    return found->second;
}

}  // namespace corvanta
