#include "Foundation/ZVBinaryPlistReader.h"

#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

constexpr int kMaxDepth = 256;
constexpr size_t kTrailerSize = 32;

class Reader {
  public:
    Reader(const uint8_t* p, size_t n) : _p(p), _n(n) {}

    std::optional<ZVValue> read() {
        if (_n < 8 + kTrailerSize || std::memcmp(_p, "bplist0", 7) != 0) return std::nullopt;
        const uint8_t* t = _p + _n - kTrailerSize;
        _offsetSize = t[6];
        _refSize = t[7];
        uint64_t count = be(t + 8, 8), top = be(t + 16, 8), table = be(t + 24, 8);
        if (_offsetSize < 1 || _offsetSize > 8 || _refSize < 1 || _refSize > 8) return std::nullopt;
        size_t tableEnd = _n - kTrailerSize;
        if (table < 8 || table > tableEnd || count == 0 ||
            count > (tableEnd - table) / _offsetSize || top >= count)
            return std::nullopt;
        _table = _p + table;
        _count = count;
        _objectsEnd = table;
        _active.assign(count, false);
        return object(top, 0);
    }

  private:
    static uint64_t be(const uint8_t* p, size_t n) {
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
        return v;
    }

    bool offsetOf(uint64_t ref, size_t* out) const {
        if (ref >= _count) return false;
        uint64_t off = be(_table + ref * _offsetSize, _offsetSize);
        if (off < 8 || off >= _objectsEnd) return false;
        *out = static_cast<size_t>(off);
        return true;
    }

    bool has(size_t at, uint64_t bytes) const {
        return at <= _objectsEnd && bytes <= _objectsEnd - at;
    }

    // The length that follows a marker whose low nibble is 0xF: an integer object.
    bool length(size_t* at, uint8_t info, uint64_t* out) const {
        if (info != 0xF) {
            *out = info;
            return true;
        }
        if (!has(*at, 1)) return false;
        uint8_t m = _p[*at];
        if ((m & 0xF0) != 0x10 || (m & 0x0F) > 3) return false;
        size_t n = size_t{1} << (m & 0x0F);
        if (!has(*at + 1, n)) return false;
        *out = be(_p + *at + 1, n);
        *at += 1 + n;
        return true;
    }

    std::optional<ZVValue> object(uint64_t ref, int depth) {
        size_t at;
        // Shared references are legal, so a small file can describe a huge tree: every
        // object read costs budget.
        if (depth > kMaxDepth || _budget-- <= 0 || !offsetOf(ref, &at) || _active[ref])
            return std::nullopt;
        uint8_t marker = _p[at++];
        uint8_t type = marker >> 4, info = marker & 0x0F;
        switch (type) {
            case 0x0:
                if (info == 0x8) return ZVValue(false);
                if (info == 0x9) return ZVValue(true);
                return std::nullopt;
            case 0x1: {
                if (info > 4) return std::nullopt;
                size_t n = size_t{1} << info;
                if (!has(at, n)) return std::nullopt;
                // 16-byte integers keep their low 64 bits.
                return ZVValue(
                    static_cast<int64_t>(be(_p + at + (n > 8 ? n - 8 : 0), n > 8 ? 8 : n)));
            }
            case 0x2: {
                if (info != 2 && info != 3) return std::nullopt;
                size_t n = size_t{1} << info;
                if (!has(at, n)) return std::nullopt;
                uint64_t bits = be(_p + at, n);
                if (n == 4) {
                    uint32_t b32 = static_cast<uint32_t>(bits);
                    float f;
                    std::memcpy(&f, &b32, 4);
                    return ZVValue(static_cast<double>(f));
                }
                double d;
                std::memcpy(&d, &bits, 8);
                return ZVValue(d);
            }
            case 0x3: {
                if (info != 3 || !has(at, 8)) return std::nullopt;
                uint64_t bits = be(_p + at, 8);
                double d;
                std::memcpy(&d, &bits, 8);
                return ZVValue(ZVValue::Date{d});
            }
            case 0x4: {
                uint64_t n;
                if (!length(&at, info, &n) || !has(at, n)) return std::nullopt;
                return ZVValue(ZVValue::Data(_p + at, _p + at + n));
            }
            case 0x5: {
                uint64_t n;
                if (!length(&at, info, &n) || !has(at, n)) return std::nullopt;
                // A NUL cannot be written back (property-list strings are C strings
                // to the writer), so a string holding one marks a damaged list.
                if (std::memchr(_p + at, 0, n)) return std::nullopt;
                return ZVValue(std::string(reinterpret_cast<const char*>(_p + at), n));
            }
            case 0x6: {
                uint64_t n;
                if (!length(&at, info, &n) || n > _n / 2 || !has(at, n * 2)) return std::nullopt;
                std::string text = utf16(_p + at, n);
                if (text.find('\0') != std::string::npos) return std::nullopt;
                return ZVValue(std::move(text));
            }
            case 0x8: {
                size_t n = size_t{info} + 1;
                if (n > 8 || !has(at, n)) return std::nullopt;
                return ZVValue(static_cast<int64_t>(be(_p + at, n)));
            }
            case 0xA:
            case 0xD: {
                uint64_t n;
                if (!length(&at, info, &n)) return std::nullopt;
                uint64_t refs = type == 0xD ? 2 : 1;
                if (n > _n || !has(at, n * refs * _refSize)) return std::nullopt;
                _active[ref] = true;
                std::optional<ZVValue> result;
                if (type == 0xA) {
                    ZVValue::Array items;
                    items.reserve(n);
                    for (uint64_t i = 0; i < n; ++i) {
                        auto v = object(be(_p + at + i * _refSize, _refSize), depth + 1);
                        if (!v) break;
                        items.push_back(std::move(*v));
                    }
                    if (items.size() == n) result = ZVValue(std::move(items));
                } else {
                    ZVValue::Dict items;
                    items.reserve(n);
                    // A key given twice keeps its first value, the one lookups find, so
                    // what is read is what will be written back.
                    std::unordered_set<std::string> seen;
                    uint64_t i = 0;
                    for (; i < n; ++i) {
                        auto k = object(be(_p + at + i * _refSize, _refSize), depth + 1);
                        auto v = object(be(_p + at + (n + i) * _refSize, _refSize), depth + 1);
                        if (!k || !v || k->kind() != ZVValue::Kind::String) break;
                        if (seen.insert(k->stringValue()).second)
                            items.emplace_back(k->stringValue(), std::move(*v));
                    }
                    if (i == n) result = ZVValue(std::move(items));
                }
                _active[ref] = false;
                return result;
            }
            default:
                return std::nullopt;
        }
    }

    static std::string utf16(const uint8_t* p, uint64_t units) {
        std::string out;
        for (uint64_t i = 0; i < units; ++i) {
            uint32_t c = (uint32_t{p[2 * i]} << 8) | p[2 * i + 1];
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
                uint32_t lo = (uint32_t{p[2 * i + 2]} << 8) | p[2 * i + 3];
                if (lo >= 0xDC00 && lo < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                    ++i;
                }
            }
            if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // a lone surrogate
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else if (c < 0x800) {
                out += static_cast<char>(0xC0 | (c >> 6));
                out += static_cast<char>(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                out += static_cast<char>(0xE0 | (c >> 12));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (c & 0x3F));
            } else {
                out += static_cast<char>(0xF0 | (c >> 18));
                out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return out;
    }

    const uint8_t* _p;
    size_t _n;
    size_t _offsetSize = 0, _refSize = 0;
    const uint8_t* _table = nullptr;
    uint64_t _count = 0;
    size_t _objectsEnd = 0;
    std::vector<bool> _active;
    int64_t _budget = 4'000'000;  // objects being read now: a reference back to one is a cycle
};

}  // namespace

std::optional<ZVValue> ZVReadBinaryPropertyList(const uint8_t* bytes, size_t length) {
    if (!bytes) return std::nullopt;
    return Reader(bytes, length).read();
}
