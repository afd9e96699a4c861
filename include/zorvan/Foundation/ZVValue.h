#pragma once
// A property-list value: the tree that dictionaries of settings, package Info.plist files,
// notification userInfo and the cursor list are made of. Read and written as XML or
// binary property lists.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

class ZVValue {
  public:
    using Data = std::vector<uint8_t>;
    using Array = std::vector<ZVValue>;
    // Keys keep their order of insertion.
    using Dict = std::vector<std::pair<std::string, ZVValue>>;
    struct Date {
        double secondsSince2001 = 0;
        bool operator==(const Date&) const = default;
    };
    enum class Kind { Null, Bool, Integer, Real, String, Data, Date, Array, Dict };

    ZVValue() = default;
    ZVValue(bool b) : _v(b) {}
    ZVValue(int v) : _v(static_cast<int64_t>(v)) {}
    ZVValue(int64_t v) : _v(v) {}
    ZVValue(uint32_t v) : _v(static_cast<int64_t>(v)) {}
    ZVValue(double v) : _v(v) {}
    ZVValue(const char* s) : _v(std::string(s)) {}
    ZVValue(std::string s) : _v(std::move(s)) {}
    ZVValue(std::string_view s) : _v(std::string(s)) {}
    ZVValue(Data d) : _v(std::move(d)) {}
    ZVValue(Date d) : _v(d) {}
    ZVValue(Array a) : _v(std::move(a)) {}
    ZVValue(Dict d) : _v(std::move(d)) {}

    static ZVValue dict() { return ZVValue(Dict{}); }
    static ZVValue array() { return ZVValue(Array{}); }

    Kind kind() const { return static_cast<Kind>(_v.index()); }
    bool isNull() const { return kind() == Kind::Null; }
    bool isDict() const { return kind() == Kind::Dict; }
    bool isArray() const { return kind() == Kind::Array; }
    bool isNumber() const {
        return kind() == Kind::Integer || kind() == Kind::Real || kind() == Kind::Bool;
    }

    // Lenient readers: numbers convert among themselves; anything else gives the fallback.
    bool boolValue(bool fallback = false) const;
    int64_t intValue(int64_t fallback = 0) const;
    double doubleValue(double fallback = 0) const;
    // The string, or the fallback when this is not a string.
    std::string stringValue(std::string fallback = {}) const;
    const Data* data() const { return std::get_if<Data>(&_v); }
    const Array* arrayItems() const { return std::get_if<Array>(&_v); }
    Array* arrayItems() { return std::get_if<Array>(&_v); }
    const Dict* dictItems() const { return std::get_if<Dict>(&_v); }
    std::optional<Date> date() const;

    // Dictionary access: nullptr when this is no dictionary or the key is absent.
    const ZVValue* get(std::string_view key) const;
    ZVValue* get(std::string_view key);
    // Sets or replaces a key (turning a null value into a dictionary first).
    ZVValue& set(std::string_view key, ZVValue value);
    bool remove(std::string_view key);
    // Appends to an array (turning a null value into an array first).
    void append(ZVValue value);
    size_t size() const;

    bool operator==(const ZVValue& other) const { return _v == other._v; }

    // Parses an XML or a binary property list (detected from the bytes); nullopt when the
    // bytes are no property list.
    static std::optional<ZVValue> fromPropertyList(const void* bytes, size_t length);
    std::string toXMLPropertyList() const;
    Data toBinaryPropertyList() const;

    // File helpers. Reading gives nullopt (and *error, when given, says why) for a missing
    // or unreadable file; writing is atomic (temporary file, then rename) and returns false
    // with *error on failure.
    static std::optional<ZVValue> readFile(const std::string& path, std::string* error = nullptr);
    bool writeFile(const std::string& path, bool binary, std::string* error = nullptr) const;

  private:
    std::variant<std::monostate, bool, int64_t, double, std::string, Data, Date, Array, Dict> _v;
};
