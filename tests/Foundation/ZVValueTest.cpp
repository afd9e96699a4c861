#include <gtest/gtest.h>

#include <cmath>

#include "ZorvanInternal.h"
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
    EXPECT_EQ(*fromBin, v);
    ZVValue precise(ZVValue::Date{0.5});  // binary dates keep fractions
    auto preciseBin = precise.toBinaryPropertyList();
    EXPECT_EQ(
        ZVValue::fromPropertyList(preciseBin.data(), preciseBin.size())->date()->secondsSince2001,
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

TEST(ZVValue, FilesAreWrittenAtomicallyAndErrorsNameTheFile) {
    zvtest::TempDir dir;
    std::string path = dir.file("Info.plist");
    ZVValue v = sample();
    std::string error;
    ASSERT_TRUE(v.writeFile(path, false, &error)) << error;
    auto back = ZVValue::readFile(path, &error);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, v);

    EXPECT_FALSE(ZVValue::readFile(dir.file("missing.plist"), &error));
    EXPECT_NE(error.find("missing.plist"), std::string::npos);
    // An unreadable file's error is in ZVStorageMessagesTest (a package's Info.plist).
    EXPECT_FALSE(v.writeFile(dir.file("no/such/dir/x.plist"), false, &error));
    EXPECT_NE(error.find("no/such/dir"), std::string::npos);
}
