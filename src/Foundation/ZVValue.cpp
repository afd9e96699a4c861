#include "Foundation/ZVValue.h"

#include "Foundation/ZVBinaryPlistReader.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>

bool ZVValue::boolValue(bool fallback) const {
    switch (kind()) {
        case Kind::Bool:
            return std::get<bool>(_v);
        case Kind::Integer:
            return std::get<int64_t>(_v) != 0;
        case Kind::Real:
            return std::get<double>(_v) != 0;
        default:
            return fallback;
    }
}

int64_t ZVValue::intValue(int64_t fallback) const {
    switch (kind()) {
        case Kind::Bool:
            return std::get<bool>(_v) ? 1 : 0;
        case Kind::Integer:
            return std::get<int64_t>(_v);
        case Kind::Real: {
            double d = std::get<double>(_v);
            // Out-of-range and NaN reals are no integer; never convert them (undefined).
            if (!(d >= -9.2e18 && d <= 9.2e18)) return fallback;
            return static_cast<int64_t>(d);
        }
        default:
            return fallback;
    }
}

double ZVValue::doubleValue(double fallback) const {
    switch (kind()) {
        case Kind::Bool:
            return std::get<bool>(_v) ? 1.0 : 0.0;
        case Kind::Integer:
            return static_cast<double>(std::get<int64_t>(_v));
        case Kind::Real:
            return std::get<double>(_v);
        default:
            return fallback;
    }
}

std::string ZVValue::stringValue(std::string fallback) const {
    if (auto* s = std::get_if<std::string>(&_v)) return *s;
    return fallback;
}

std::optional<ZVValue::Date> ZVValue::date() const {
    if (auto* d = std::get_if<Date>(&_v)) return *d;
    return std::nullopt;
}

const ZVValue* ZVValue::get(std::string_view key) const {
    auto* d = std::get_if<Dict>(&_v);
    if (!d) return nullptr;
    for (auto& [k, v] : *d)
        if (k == key) return &v;
    return nullptr;
}

ZVValue* ZVValue::get(std::string_view key) {
    return const_cast<ZVValue*>(static_cast<const ZVValue*>(this)->get(key));
}

ZVValue& ZVValue::set(std::string_view key, ZVValue value) {
    if (isNull()) _v = Dict{};
    auto& d = std::get<Dict>(_v);  // throws bad_variant_access on misuse, never corrupts
    for (auto& [k, v] : d) {
        if (k == key) {
            v = std::move(value);
            return v;
        }
    }
    d.emplace_back(std::string(key), std::move(value));
    return d.back().second;
}

bool ZVValue::remove(std::string_view key) {
    auto* d = std::get_if<Dict>(&_v);
    if (!d) return false;
    for (auto it = d->begin(); it != d->end(); ++it) {
        if (it->first == key) {
            d->erase(it);
            return true;
        }
    }
    return false;
}

void ZVValue::append(ZVValue value) {
    if (isNull()) _v = Array{};
    std::get<Array>(_v).push_back(std::move(value));
}

size_t ZVValue::size() const {
    if (auto* a = std::get_if<Array>(&_v)) return a->size();
    if (auto* d = std::get_if<Dict>(&_v)) return d->size();
    return 0;
}

namespace {

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// Property lists nest; a hostile file must not exhaust the stack.
constexpr int kMaxDepth = 256;

std::optional<ZVValue> fromNode(plist_t node, int depth) {
    if (!node || depth > kMaxDepth) return std::nullopt;
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return ZVValue(b != 0);
        }
        case PLIST_UINT: {
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            return ZVValue(
                static_cast<int64_t>(u));  // negative integers are stored two's complement
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return ZVValue(d);
        }
        case PLIST_STRING: {
            uint64_t len = 0;
            const char* s = plist_get_string_ptr(node, &len);
            return ZVValue(std::string(s ? s : "", s ? len : 0));
        }
        case PLIST_KEY: {
            uint64_t len = 0;
            const char* s = plist_get_string_ptr(node, &len);
            return ZVValue(std::string(s ? s : "", s ? len : 0));
        }
        case PLIST_DATA: {
            uint64_t len = 0;
            const char* p = plist_get_data_ptr(node, &len);
            if (!p) return ZVValue(ZVValue::Data{});
            return ZVValue(ZVValue::Data(reinterpret_cast<const uint8_t*>(p),
                                         reinterpret_cast<const uint8_t*>(p) + len));
        }
        case PLIST_DATE: {
            int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            return ZVValue(ZVValue::Date{sec + usec * 1e-6});
        }
        case PLIST_UID: {
            uint64_t u = 0;
            plist_get_uid_val(node, &u);
            return ZVValue(static_cast<int64_t>(u));
        }
        case PLIST_ARRAY: {
            ZVValue::Array items;
            uint32_t n = plist_array_get_size(node);
            items.reserve(n);
            for (uint32_t i = 0; i < n; ++i) {
                auto item = fromNode(plist_array_get_item(node, i), depth + 1);
                if (!item) return std::nullopt;
                items.push_back(std::move(*item));
            }
            return ZVValue(std::move(items));
        }
        case PLIST_DICT: {
            ZVValue::Dict items;
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            if (!it) return ZVValue(std::move(items));
            for (;;) {
                // The key is fetched separately and checked: a damaged binary list can
                // hold a dictionary whose "key" is no key, which libplist asserts on.
                plist_t child = nullptr;
                plist_dict_next_item(node, it, nullptr, &child);
                if (!child) break;
                plist_t keyNode = plist_dict_item_get_key(child);
                if (!keyNode || plist_get_node_type(keyNode) != PLIST_KEY) {
                    free(it);
                    return std::nullopt;
                }
                char* key = nullptr;
                plist_get_key_val(keyNode, &key);
                auto v = fromNode(child, depth + 1);
                std::string k = key ? key : "";
                free(key);
                if (!v) {
                    free(it);
                    return std::nullopt;
                }
                items.emplace_back(std::move(k), std::move(*v));
            }
            free(it);
            return ZVValue(std::move(items));
        }
        default:
            return std::nullopt;
    }
}

plist_t toNode(const ZVValue& v) {
    switch (v.kind()) {
        case ZVValue::Kind::Null:
            return plist_new_string("");
        case ZVValue::Kind::Bool:
            return plist_new_bool(v.boolValue());
        case ZVValue::Kind::Integer:
            return plist_new_uint(static_cast<uint64_t>(v.intValue()));
        case ZVValue::Kind::Real:
            return plist_new_real(v.doubleValue());
        case ZVValue::Kind::String:
            return plist_new_string(v.stringValue().c_str());
        case ZVValue::Kind::Data: {
            auto* d = v.data();
            return plist_new_data(reinterpret_cast<const char*>(d->data()), d->size());
        }
        case ZVValue::Kind::Date: {
            double s = v.date()->secondsSince2001;
            // libplist keeps dates as 32-bit seconds: clamp what does not fit.
            if (!(s >= -2147483648.0)) s = -2147483648.0;
            if (!(s <= 2147483647.0)) s = 2147483647.0;
            double whole = std::floor(s);
            return plist_new_date(static_cast<int32_t>(whole),
                                  static_cast<int32_t>(std::lround((s - whole) * 1e6)));
        }
        case ZVValue::Kind::Array: {
            plist_t a = plist_new_array();
            for (auto& item : *v.arrayItems()) plist_array_append_item(a, toNode(item));
            return a;
        }
        case ZVValue::Kind::Dict: {
            plist_t d = plist_new_dict();
            for (auto& [k, item] : *v.dictItems()) plist_dict_set_item(d, k.c_str(), toNode(item));
            return d;
        }
    }
    return plist_new_string("");
}

}  // namespace

std::optional<ZVValue> ZVValue::fromPropertyList(const void* bytes, size_t length) {
    if (!bytes || length == 0 || length > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    const char* p = static_cast<const char*>(bytes);
    plist_t root = nullptr;
    if (length >= 8 && std::memcmp(p, "bplist00", 8) == 0) {
        return ZVReadBinaryPropertyList(static_cast<const uint8_t*>(bytes), length);
    } else {
        // The XML parser wants text; a NUL inside the bytes ends it early, which is fine.
        std::string text(p, length);
        plist_from_xml(text.c_str(), static_cast<uint32_t>(text.size()), &root);
    }
    PlistPtr guard(root);
    return fromNode(root, 0);
}

std::string ZVValue::toXMLPropertyList() const {
    PlistPtr node(toNode(*this));
    char* xml = nullptr;
    uint32_t len = 0;
    plist_to_xml(node.get(), &xml, &len);
    std::string out(xml ? xml : "", xml ? len : 0);
    plist_to_xml_free(xml);
    return out;
}

ZVValue::Data ZVValue::toBinaryPropertyList() const {
    PlistPtr node(toNode(*this));
    char* bin = nullptr;
    uint32_t len = 0;
    plist_to_bin(node.get(), &bin, &len);
    Data out;
    if (bin) out.assign(reinterpret_cast<uint8_t*>(bin), reinterpret_cast<uint8_t*>(bin) + len);
    plist_to_bin_free(bin);
    return out;
}

std::optional<ZVValue> ZVValue::readFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    std::string bytes = ss.str();
    auto v = fromPropertyList(bytes.data(), bytes.size());
    if (!v && error) *error = path + ": not a property list";
    return v;
}

bool ZVValue::writeFile(const std::string& path, bool binary, std::string* error) const {
    std::string tmp = path + ".tmp-XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        if (error) *error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string xml;
    Data bin;
    const void* p;
    size_t n;
    if (binary) {
        bin = toBinaryPropertyList();
        p = bin.data();
        n = bin.size();
    } else {
        xml = toXMLPropertyList();
        p = xml.data();
        n = xml.size();
    }
    bool ok = true;
    const char* c = static_cast<const char*>(p);
    while (n > 0) {
        ssize_t w = ::write(fd, c, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            ok = false;
            break;
        }
        c += w;
        n -= static_cast<size_t>(w);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    int savedErrno = errno;
    fchmod(fd, 0644);
    ::close(fd);
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        if (error) *error = path + ": " + std::strerror(savedErrno);
    }
    return ok;
}
