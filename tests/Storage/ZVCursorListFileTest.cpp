// The cursor list file: what the recorder's list becomes on disk in a package, how it comes
// back, and that a damaged file is refused with a reason instead of reaching the frames.
// (The exact reasons are in ZVStorageMessagesTest.)
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "Storage/ZVCursorListFile.h"
#include "support/ZVCursorSamples.h"
#include "support/ZVTestSupport.h"

using zvtest::TempDir;

namespace {

// A square cursor of one opaque BGRA colour.
ZVCursorEntry solidCursor(int32_t id, int side, uint8_t b, uint8_t g, uint8_t r) {
    return zvtest::makeCursor(side, side, {}, id, uint32_t(b | g << 8 | r << 16 | 0xFFu << 24));
}

void expectSameList(const std::vector<ZVCursorEntry>& a, const std::vector<ZVCursorEntry>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].id, b[i].id) << i;
        EXPECT_EQ(std::memcmp(&a[i].info, &b[i].info, sizeof(ZVCursorInfo)), 0) << i;
        ASSERT_TRUE(a[i].data && b[i].data) << i;
        EXPECT_EQ(*a[i].data, *b[i].data) << i;
    }
}

}  // namespace

// (Where the list lies in a package is ZVFomixXManagerTest's.)
TEST(ZVCursorListFile, RoundTrip) {
    TempDir dir;
    const std::string path = dir.file("cursors.dat");

    // The last one as a machine of the other byte order recorded it: its record is checked
    // in that order, and drawing it is ZVMovieFrameTest's.
    std::vector<ZVCursorEntry> cursors = {solidCursor(0, 2, 0, 0, 255),
                                          solidCursor(1, 16, 255, 0, 0),
                                          zvtest::otherByteOrder(solidCursor(2, 1, 0, 255, 0))};
    cursors[1].info.hotSpot = ZVPoint{7.5f, 3.25f};
    std::string error;
    ASSERT_TRUE(ZVCursorListFile::write(path, cursors, &error)) << error;

    // On disk: a binary property list of {"Id", "Info", "Data"} dictionaries, in order.
    std::string bytes = zvtest::readText(path);
    EXPECT_EQ(bytes.substr(0, 8), "bplist00");
    auto plist = ZVValue::fromPropertyList(bytes.data(), bytes.size());
    ASSERT_TRUE(plist && plist->isArray());
    ASSERT_EQ(plist->size(), 3u);
    const ZVValue& second = (*plist->arrayItems())[1];
    EXPECT_EQ(second.get("Id")->intValue(), 1);
    EXPECT_EQ(second.get("Id")->kind(), ZVValue::Kind::Integer);
    EXPECT_EQ(second.get("Info")->data()->size(), 44u);
    EXPECT_EQ(second.get("Data")->data()->size(), 16u * 16u * 4u);

    auto back = ZVCursorListFile::read(path, &error);
    ASSERT_TRUE(back) << error;
    expectSameList(cursors, *back);

    // An empty list is a list too.
    ASSERT_TRUE(ZVCursorListFile::write(path, {}));
    auto none = ZVCursorListFile::read(path);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

TEST(ZVCursorListFile, EntriesMustMatchTheirRecord) {
    ZVCursorEntry e = solidCursor(5, 2, 1, 1, 1);
    // A null data pointer is written as no pixels; a record that still claims 16 bytes
    // is refused when read back.
    ZVCursorEntry empty = e;
    empty.data.reset();
    auto list = ZVCursorListFile::toPropertyList({empty});
    EXPECT_EQ((*list.arrayItems())[0].get("Data")->data()->size(), 0u);
    EXPECT_FALSE(ZVCursorListFile::fromPropertyList(list));

    // Identifiers are kept as they are, in the order given, negative ones included.
    e.id = -3;
    auto back = ZVCursorListFile::fromPropertyList(ZVCursorListFile::toPropertyList({e, e}));
    ASSERT_TRUE(back);
    EXPECT_EQ((*back)[0].id, -3);
    EXPECT_EQ(back->size(), 2u);
}
