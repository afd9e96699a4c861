#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "Zorvan.h"
#include "support/ZVTestSupport.h"

namespace {
ZVValue sample() {
    ZVValue v = ZVValue::dict();
    v.set("zeta", true);
    v.set("alpha", int64_t{-42});
    v.set("big", int64_t{1} << 40);
    v.set("real", 0.125);
    v.set("text", "Grüße ⌘");
    v.set("bytes", ZVValue::Data{0, 1, 2, 255});
    v.set("when", ZVValue::Date{123456});  // XML dates hold whole seconds
    ZVValue list = ZVValue::array();
    list.append(1);
    list.append("two");
    ZVValue inner = ZVValue::dict();
    inner.set("StartOffsetTime", 0.5);
    list.append(inner);
    v.set("list", list);
    return v;
}
}  // namespace

TEST(ZVValue, XmlAndBinaryRoundTripsKeepEveryKindAndKeyOrder) {
    ZVValue v = sample();
    std::string xml = v.toXMLPropertyList();
    auto fromXml = ZVValue::fromPropertyList(xml.data(), xml.size());
    ASSERT_TRUE(fromXml);
    EXPECT_EQ(*fromXml, v);
    auto bin = v.toBinaryPropertyList();
    auto fromBin = ZVValue::fromPropertyList(bin.data(), bin.size());
    ASSERT_TRUE(fromBin);
    EXPECT_EQ(fromBin->get("alpha")->intValue(), -42);
    EXPECT_EQ(fromBin->get("text")->stringValue(), "Grüße ⌘");
    EXPECT_EQ(fromBin->get("list")->arrayItems()->at(2).get("StartOffsetTime")->doubleValue(), 0.5);
    EXPECT_EQ(*fromBin, v);
    ZVValue precise(ZVValue::Date{0.5});  // binary dates keep fractions
    auto preciseBin = precise.toBinaryPropertyList();
    EXPECT_EQ(ZVValue::fromPropertyList(preciseBin.data(), preciseBin.size())->date()->secondsSince2001,
              0.5);
}

TEST(ZVValue, LenientAccessorsNeverThrow) {
    ZVValue v = sample();
    EXPECT_EQ(v.get("text")->intValue(7), 7);  // not a number: the fallback
    EXPECT_EQ(v.get("real")->intValue(), 0);
    EXPECT_EQ(v.get("alpha")->doubleValue(), -42.0);
    EXPECT_EQ(v.get("missing"), nullptr);
    EXPECT_EQ(ZVValue(1e300).intValue(5), 5);  // out of range converts to nothing
    EXPECT_EQ(ZVValue(std::nan("")).intValue(5), 5);
    EXPECT_TRUE(v.remove("zeta"));
    EXPECT_FALSE(v.remove("zeta"));
    EXPECT_EQ(ZVValue(3).get("x"), nullptr);
}

TEST(ZVValue, DamagedBytesAreNoPropertyList) {
    const std::string bad[] = {"", "<plist><dict><key>a</key>", "bplist00\x01\x02",
                               std::string("bplist00") + std::string(40, '\xff'), "just text"};
    for (auto& b : bad) EXPECT_FALSE(ZVValue::fromPropertyList(b.data(), b.size())) << b;

    // An array that contains itself, and a dictionary whose key is a number.
    auto bplist = [](std::vector<uint8_t> objects, int count) {
        std::vector<uint8_t> f = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
        f.insert(f.end(), objects.begin(), objects.end());
        uint8_t table = static_cast<uint8_t>(f.size());
        for (int i = 0; i < count; ++i) f.push_back(static_cast<uint8_t>(8 + 2 * i));
        std::vector<uint8_t> trailer(32, 0);
        trailer[6] = trailer[7] = 1;
        trailer[15] = static_cast<uint8_t>(count);
        trailer[31] = table;
        f.insert(f.end(), trailer.begin(), trailer.end());
        return f;
    };
    auto cycle = bplist({0xA1, 0x00}, 1);
    EXPECT_FALSE(ZVValue::fromPropertyList(cycle.data(), cycle.size()));
    auto numberKey = bplist({0xD1, 0x01, 0x01, 0x10, 0x05}, 2);
    numberKey[8 + 5 + 1] = 11;  // object 1, the integer, sits 3 bytes after the dictionary
    EXPECT_FALSE(ZVValue::fromPropertyList(numberKey.data(), numberKey.size()));
    auto fine = bplist({0xA1, 0x01, 0x10, 0x05}, 2);
    auto parsed = ZVValue::fromPropertyList(fine.data(), fine.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->arrayItems()->at(0).intValue(), 5);
}

TEST(ZVValue, FilesAreWrittenAtomicallyAndErrorsNameTheFile) {
    zvtest::TempDir dir;
    std::string path = dir.file("Info.plist");
    ZVValue v = sample();
    std::string error;
    ASSERT_TRUE(v.writeFile(path, false, &error)) << error;
    auto back = ZVValue::readFile(path, &error);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, v);
    ASSERT_TRUE(v.writeFile(path, true));
    EXPECT_EQ(*ZVValue::readFile(path), *back);

    EXPECT_FALSE(ZVValue::readFile(dir.file("missing.plist"), &error));
    EXPECT_NE(error.find("missing.plist"), std::string::npos);
    std::ofstream(dir.file("junk.plist")) << "not a plist";
    EXPECT_FALSE(ZVValue::readFile(dir.file("junk.plist"), &error));
    EXPECT_NE(error.find("junk.plist: not a property list"), std::string::npos);
    EXPECT_FALSE(v.writeFile(dir.file("no/such/dir/x.plist"), false, &error));
    EXPECT_NE(error.find("no/such/dir"), std::string::npos);
}
