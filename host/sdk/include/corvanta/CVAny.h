#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <variant>

#include "corvanta/Export.h"

namespace corvanta {

class CVAnyMap;

// A copyable variant value: empty, bool, int, float, double, string or map.
// Configuration, properties, action parameters and answers, event payloads
// and descriptors all travel in it.
class CORVANTA_API CVAny {
public:
    enum class Type { Empty, Bool, Int, Float, Double, String, Map };

    CVAny();
    CVAny(bool value);
    CVAny(int value);
    CVAny(int64_t value);
    CVAny(float value);
    CVAny(double value);
    CVAny(const char* value);
    CVAny(const std::string& value);
    CVAny(std::string&& value);
    CVAny(const CVAnyMap& value);

    CVAny(const CVAny&);
    CVAny(CVAny&&) noexcept;
    CVAny& operator=(const CVAny&);
    CVAny& operator=(CVAny&&) noexcept;
    ~CVAny();

    Type type() const;
    bool isEmpty() const;

    // Conversions. Numbers and bools convert into each other; an integer
    // target takes only whole numbers within its range, and float only values
    // within float's range. A string converts to a number only if the whole
    // string is a finite decimal number (no blanks, no trailing text), and to
    // bool only from "true" or "false". To string: numbers give their shortest
    // exact decimal text, bools "true"/"false", strings themselves, an empty
    // value "". Anything else (an empty value to a number or bool, a map to
    // anything but a map) throws std::invalid_argument naming the value, e.g.
    // Cannot convert "0.5x" (string) to float
    template <class T>
    static T convert(const CVAny& value);

    // Human-readable rendering (strings unquoted), used in messages.
    std::string toString() const;

    bool operator==(const CVAny& other) const;

private:
    using MapPtr = std::shared_ptr<const CVAnyMap>;  // immutable, so sharing keeps value semantics
    std::variant<std::monostate, bool, int64_t, float, double, std::string, MapPtr> data;
};

// String-keyed map of values, iterated in ascending key order.
class CORVANTA_API CVAnyMap {
public:
    using Storage = std::map<std::string, CVAny>;
    using const_iterator = Storage::const_iterator;
    using iterator = Storage::iterator;

    CVAnyMap() = default;
    CVAnyMap(std::initializer_list<std::pair<std::string, CVAny>> entries);

    const_iterator begin() const { return entries.begin(); }
    const_iterator end() const { return entries.end(); }
    iterator begin() { return entries.begin(); }
    iterator end() { return entries.end(); }

    std::size_t size() const { return entries.size(); }
    bool empty() const { return entries.empty(); }
    bool contains(const std::string& key) const { return entries.count(key) != 0; }
    // Throws std::out_of_range naming the key when absent.
    const CVAny& at(const std::string& key) const;
    CVAny& operator[](const std::string& key) { return entries[key]; }
    void insert(const std::string& key, CVAny value) { entries.insert_or_assign(key, std::move(value)); }

    bool operator==(const CVAnyMap& other) const { return entries == other.entries; }

private:
    Storage entries;
};

template <> CORVANTA_API bool CVAny::convert<bool>(const CVAny&);
template <> CORVANTA_API int CVAny::convert<int>(const CVAny&);
template <> CORVANTA_API int64_t CVAny::convert<int64_t>(const CVAny&);
template <> CORVANTA_API float CVAny::convert<float>(const CVAny&);
template <> CORVANTA_API double CVAny::convert<double>(const CVAny&);
template <> CORVANTA_API std::string CVAny::convert<std::string>(const CVAny&);
template <> CORVANTA_API CVAnyMap CVAny::convert<CVAnyMap>(const CVAny&);

}  // namespace corvanta
