#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "QelClasses.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr TQelGuid kMainGuid = TQelGuid::Parse("{7AF6D7FF-618B-41D9-882E-419D500DF28B}");
constexpr TQelGuid kHelpGuid = TQelGuid::Parse("{3F084D7D-FB21-44A5-BA4F-B6FF3AE0B41D}");
constexpr TQelGuid kEditorGuid = TQelGuid::Parse("{C0F4C248-34D7-4014-8116-24BEE9AB5C30}");

// Runs Fn on a writer over a fresh memory stream and returns what it wrote.
template <class Fn>
Bytes Written(Fn fn) {
    TQelMemoryOutputStream out;
    {
        TQelSDFWriter w(&out, false);
        fn(w);
    }
    return out.Bytes();
}

struct CountingStream : TQelOutputStream {
    static inline int destroyed = 0;
    int writes = 0;
    ~CountingStream() override { ++destroyed; }
    void Write(const uint8_t*, size_t) override { ++writes; }
};

}  // namespace

TEST(TQelGuid, ParsesTheBracedFormAndRejectsAnythingElse) {
    TQelGuid g;
    ASSERT_TRUE(TQelGuid::TryParse("{7af6d7ff-618b-41d9-882e-419d500df28b}", g));
    EXPECT_TRUE(g == kMainGuid);
    EXPECT_EQ(g.Data1, 0x7AF6D7FFu);
    EXPECT_EQ(g.Data2, 0x618B);
    EXPECT_EQ(g.Data3, 0x41D9);
    EXPECT_EQ(g.Data4[0], 0x88);
    EXPECT_EQ(g.Data4[7], 0x8B);
    EXPECT_FALSE(g == kHelpGuid);

    const TQelGuid before = g;
    for (const char* bad : {"", "7AF6D7FF-618B-41D9-882E-419D500DF28B", "{7AF6D7FF-618B-41D9-882E-419D500DF28}",
                            "{7AF6D7FF-618B-41D9-882E-419D500DF28BB}", "{7AF6D7FF+618B-41D9-882E-419D500DF28B}",
                            "{7AF6D7FG-618B-41D9-882E-419D500DF28B}",
                            "(7AF6D7FF-618B-41D9-882E-419D500DF28B)"}) {
        EXPECT_FALSE(TQelGuid::TryParse(bad, g)) << bad;
        EXPECT_TRUE(g == before) << bad;
    }
    EXPECT_THROW(TQelGuid::Parse("{nonsense}"), EQelError);
}

TEST(TQelSDFWriter, WritesTheDocumentedBytes) {
    const Bytes example = Written([](TQelSDFWriter& w) {
        w.BeginNode(1, kMainGuid);
        w.WriteInteger(1, 1033);
        w.EndNode();
    });
    const Bytes expected = {0xD5, 0x01, 0x0D, 0x10, 0xFF, 0xD7, 0xF6, 0x7A, 0x8B, 0x61, 0xD9, 0x41, 0x88, 0x2E, 0x41,
                            0x9D, 0x50, 0x0D, 0xF2, 0x8B, 0x55, 0x01, 0x05, 0x04, 0x09, 0x04, 0x00, 0x00, 0x00};
    EXPECT_EQ(example, expected);

    EXPECT_EQ(Written([](TQelSDFWriter& w) { w.WriteWideString(3, u""); }), (Bytes{0x54, 0x03, 0x0C}));
    // A zero value keeps its four data bytes; only zero header fields vanish.
    EXPECT_EQ(Written([](TQelSDFWriter& w) { w.WriteInteger(7, 0); }),
              (Bytes{0x55, 0x07, 0x05, 0x04, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Written([](TQelSDFWriter& w) { w.WriteBoolean(2, true); }), (Bytes{0x55, 0x02, 0x01, 0x01, 0x01}));
    EXPECT_EQ(Written([](TQelSDFWriter& w) { w.BeginNodeInt(1, 3); }),
              (Bytes{0xD5, 0x01, 0x05, 0x04, 0x03, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Written([](TQelSDFWriter& w) { w.BeginNodeInt(0, -1); }),
              (Bytes{0xC5, 0x05, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Written([](TQelSDFWriter& w) { w.WriteInteger(0x1234, 5); }),
              (Bytes{0x65, 0x34, 0x12, 0x05, 0x04, 0x05, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Written([](TQelSDFWriter& w) { w.WriteData(4, nullptr, 0); }), (Bytes{0x54, 0x04, 0x0E}));
    EXPECT_EQ(Written([](TQelSDFWriter& w) { w.WriteWideString(9, u"A\u00e9\u4e2d"); }),
              (Bytes{0x55, 0x09, 0x0C, 0x06, 0x41, 0x00, 0xE9, 0x00, 0x2D, 0x4E}));

    const Bytes text128 = Written([](TQelSDFWriter& w) { w.WriteWideString(1, std::u16string(128, u'a')); });
    ASSERT_EQ(text128.size(), 261u);
    EXPECT_EQ(Bytes(text128.begin(), text128.begin() + 5), (Bytes{0x56, 0x01, 0x0C, 0x00, 0x01}));

    const Bytes big(70000, 0xAB);
    const Bytes bigRecord = Written([&](TQelSDFWriter& w) { w.WriteData(2, big.data(), big.size()); });
    ASSERT_EQ(bigRecord.size(), 1 + 1 + 1 + 4 + big.size());
    EXPECT_EQ(Bytes(bigRecord.begin(), bigRecord.begin() + 7), (Bytes{0x57, 0x02, 0x0E, 0x70, 0x11, 0x01, 0x00}));
}

TEST(TQelSDFWriter, WritesOneCallPerRecordNothingWithoutStreamAndFreesOwnedStream) {
    TQelSDFWriter none(nullptr, true);
    none.BeginNode(1, kMainGuid);
    none.WriteWideString(1, u"x");
    none.EndNode();

    CountingStream::destroyed = 0;
    CountingStream kept;
    {
        TQelSDFWriter w(&kept, false);
        w.BeginNode(1, kMainGuid);
        w.WriteData(2, "abc", 3);
        w.EndNode();
    }
    EXPECT_EQ(kept.writes, 3);
    EXPECT_EQ(CountingStream::destroyed, 0);
    { TQelSDFWriter owner(new CountingStream, true); }
    EXPECT_EQ(CountingStream::destroyed, 1);
}

TEST(TQelSDFReader, FindsNodesByGuidOrIdOnTheCurrentLevelOnly) {
    const TQelGuid g1 = kMainGuid, g2 = kHelpGuid;
    TQelSDFReader r(Written([&](TQelSDFWriter& w) {
        w.BeginNode(1, g1);
        w.WriteInteger(1, 1);
        w.WriteInteger(1, 99);  // same id again: the first one wins
        w.BeginNode(1, kEditorGuid);
        w.WriteInteger(1, 5);
        w.EndNode();
        w.EndNode();
        w.BeginNode(1, g2);
        w.WriteInteger(1, 2);
        w.EndNode();
        w.BeginNodeInt(1, 7);
        w.EndNode();
        w.BeginNodeInt(2, 7);
        w.EndNode();
    }));
    int32_t v = 0;
    EXPECT_FALSE(r.ReadInteger(0, v));  // the root has no payload
    EXPECT_FALSE(r.OpenNode(1, kEditorGuid)) << "a grandchild is not on the root level";

    ASSERT_TRUE(r.OpenNode(1, g2));
    EXPECT_TRUE(r.ReadInteger(1, v));
    EXPECT_EQ(v, 2);
    r.CloseNode();
    ASSERT_TRUE(r.OpenNode(1, g1));
    EXPECT_TRUE(r.ReadInteger(1, v));
    EXPECT_EQ(v, 1);
    ASSERT_TRUE(r.OpenNode(1, kEditorGuid));
    EXPECT_TRUE(r.ReadInteger(1, v));
    EXPECT_EQ(v, 5);
    r.CloseNode();
    r.CloseNode();
    EXPECT_EQ(r.CurrentNode(), nullptr);
    r.CloseNode();  // stays at the root
    EXPECT_EQ(r.CurrentNode(), nullptr);

    // A failed open leaves the current node alone.
    EXPECT_FALSE(r.OpenNode(3, g1));
    EXPECT_EQ(r.CurrentNode(), nullptr);

    ASSERT_TRUE(r.OpenNodeById(1));
    TQelGuid payload;
    ASSERT_TRUE(r.ReadData(0, &payload, sizeof payload));
    EXPECT_TRUE(payload == g1);
    r.CloseNode();
    ASSERT_TRUE(r.OpenNodeById(2));
    EXPECT_TRUE(r.ReadInteger(0, v));
    EXPECT_EQ(v, 7);
    r.CloseNode();
    EXPECT_FALSE(r.OpenNodeById(3));

    // An integer node with the GUID's id is passed over by OpenNode.
    TQelSDFReader onlyInt(Written([](TQelSDFWriter& w) {
        w.BeginNodeInt(1, 7);
        w.EndNode();
    }));
    EXPECT_FALSE(onlyInt.OpenNode(1, g1));

    TQelSDFReader empty;
    EXPECT_FALSE(empty.OpenNode(1, g1));
    EXPECT_FALSE(empty.OpenNodeById(0));
    EXPECT_FALSE(empty.ReadInteger(0, v));
}

TEST(TQelSDFReader, ReadsEachIntegerTypeAndLeavesValuesOfOtherShapesAlone) {
    // Hand-made elements: id, type and length 1 byte each.
    const Bytes s = {
        0x55, 1, 1, 1, 0xFF,              // int8 -1
        0x55, 2, 2, 1, 0xFF,              // uint8 255
        0x55, 3, 3, 2, 0xFF, 0xFF,        // int16 -1
        0x55, 4, 4, 2, 0xFF, 0xFF,        // uint16 65535
        0x55, 5, 5, 2, 0x01, 0x00,        // int32 with a wrong length
        0x55, 6, 12, 3, 'h', 0, 'i',      // text with an odd last byte
        0x55, 7, 99, 4, 1, 2, 3, 4,       // unknown type
        0x55, 8, 1, 1, 0x00,              // int8 0
        0x55, 9, 5, 4, 0x00, 0x00, 0x00, 0x80,  // int32 min
        0x54, 10, 5,                      // int32 without data
    };
    TQelSDFReader r(s);
    int32_t v = 0;
    EXPECT_TRUE(r.ReadInteger(1, v));
    EXPECT_EQ(v, -1);
    EXPECT_TRUE(r.ReadInteger(2, v));
    EXPECT_EQ(v, 255);
    EXPECT_TRUE(r.ReadInteger(3, v));
    EXPECT_EQ(v, -1);
    EXPECT_TRUE(r.ReadInteger(4, v));
    EXPECT_EQ(v, 65535);
    EXPECT_TRUE(r.ReadInteger(9, v));
    EXPECT_EQ(v, INT32_MIN);
    for (uint32_t id : {5u, 6u, 7u, 10u}) {
        v = 42;
        EXPECT_TRUE(r.ReadInteger(id, v)) << id;
        EXPECT_EQ(v, 42) << id;
    }
    EXPECT_FALSE(r.ReadInteger(11, v));
    EXPECT_FALSE(r.ReadInteger(0, v));

    bool b = false;
    EXPECT_TRUE(r.ReadBoolean(2, b));
    EXPECT_TRUE(b);
    EXPECT_TRUE(r.ReadBoolean(8, b));
    EXPECT_FALSE(b);
    b = true;
    EXPECT_TRUE(r.ReadBoolean(5, b));  // not an integer: unchanged
    EXPECT_TRUE(b);
    EXPECT_FALSE(r.ReadBoolean(11, b));

    std::u16string t = u"keep";
    EXPECT_TRUE(r.ReadWideString(6, t));
    EXPECT_EQ(t, u"h");
    t = u"keep";
    EXPECT_TRUE(r.ReadWideString(1, t));
    EXPECT_EQ(t, u"keep");
    EXPECT_FALSE(r.ReadWideString(11, t));

    uint8_t buf[4] = {9, 9, 9, 9};
    EXPECT_TRUE(r.ReadData(7, buf, 4));  // any type, as long as the length fits
    EXPECT_EQ(buf[3], 4);
    EXPECT_FALSE(r.ReadData(7, buf, 3));
    EXPECT_FALSE(r.ReadData(11, buf, 4));
    EXPECT_TRUE(r.ReadData(10, nullptr, 0));
}

TEST(TQelSDFReader, RoundTripsEveryWriterRecord) {
    const std::u16string text = u"Caf\u00e9 \U0001F600 " + std::u16string(300, u'z');
    const uint8_t placement[44] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                                   23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 44};
    TQelSDFReader r(Written([&](TQelSDFWriter& w) {
        w.BeginNode(1, kMainGuid);
        w.WriteData(2, placement, sizeof placement);
        w.WriteWideString(4, text);
        w.BeginNodeInt(70000, 12);
        w.WriteInteger(0x10000, 8);
        w.EndNode();
        w.EndNode();
    }));
    ASSERT_TRUE(r.OpenNode(1, kMainGuid));
    uint8_t got[44] = {};
    ASSERT_TRUE(r.ReadData(2, got, sizeof got));
    EXPECT_EQ(std::memcmp(got, placement, sizeof got), 0);
    std::u16string t;
    EXPECT_TRUE(r.ReadWideString(4, t));
    EXPECT_EQ(t, text);
    ASSERT_TRUE(r.OpenNodeById(70000));
    int32_t v = 0;
    EXPECT_TRUE(r.ReadInteger(0, v));
    EXPECT_EQ(v, 12);
    EXPECT_TRUE(r.ReadInteger(0x10000, v));
    EXPECT_EQ(v, 8);
}

TEST(TQelSDFReader, EndRecordsAndOldNodeKinds) {
    const Bytes s = {
        0x90, 0x01,                // kind 2 with a 1-byte id: a node begin too
        0x55, 1, 5, 4, 3, 0, 0, 0, // its element
        0x15, 0xAA, 0xBB, 0x05,    // kind 0 with fields ends the node; its length skips nothing
        0x55, 1, 5, 4, 4, 0, 0, 0, // root element
        0x00,                      // end at the root: parsing stops here
        0x55, 2, 5, 4, 5, 0, 0, 0, // never read
    };
    TQelSDFReader r(s);
    int32_t v = 0;
    EXPECT_TRUE(r.ReadInteger(1, v));
    EXPECT_EQ(v, 4);
    EXPECT_FALSE(r.ReadInteger(2, v));
    ASSERT_TRUE(r.OpenNodeById(1));
    EXPECT_TRUE(r.ReadInteger(1, v));
    EXPECT_EQ(v, 3);
    // Element id 0 is never an element: it is the node's own (empty) payload.
    const Bytes zeroId = {0xC0, 0x45, 5, 4, 1, 0, 0, 0};
    TQelSDFReader z(zeroId);
    ASSERT_TRUE(z.OpenNodeById(0));
    v = 42;
    EXPECT_TRUE(z.ReadInteger(0, v));
    EXPECT_EQ(v, 42);
}

// Damaged data: a read whose bytes are not all in the stream changes nothing,
// and no allocation is sized from an unchecked length.
TEST(TQelSDFReader, DataRunningPastTheEndIsNeverRead) {
    Bytes placement = Written([](TQelSDFWriter& w) {
        const uint8_t rec[44] = {7};
        w.WriteData(2, rec, sizeof rec);
    });
    placement.resize(4 + 10);  // header and 10 of 44 bytes
    TQelSDFReader cut(placement);
    uint8_t buf[44];
    std::memset(buf, 0x5A, sizeof buf);
    EXPECT_FALSE(cut.ReadData(2, buf, 44));
    EXPECT_EQ(buf[0], 0x5A);

    Bytes number = Written([](TQelSDFWriter& w) { w.WriteInteger(1, 1033); });
    number.pop_back();
    TQelSDFReader cutNumber(number);
    int32_t v = 42;
    EXPECT_TRUE(cutNumber.ReadInteger(1, v));
    EXPECT_EQ(v, 42);
    bool b = false;
    EXPECT_TRUE(cutNumber.ReadBoolean(1, b));
    EXPECT_FALSE(b);

    Bytes text = Written([](TQelSDFWriter& w) { w.WriteInteger(1, 5); });
    const Bytes huge = {0x57, 0x02, 0x0C, 0xF0, 0xFF, 0xFF, 0xFF, 'a', 0};
    text.insert(text.end(), huge.begin(), huge.end());
    TQelSDFReader r(text);
    std::u16string t = u"default";
    EXPECT_TRUE(r.ReadWideString(2, t));
    EXPECT_EQ(t, u"default");
    EXPECT_TRUE(r.ReadInteger(1, v));
    EXPECT_EQ(v, 5);

    // A node whose GUID is cut cannot be opened by GUID, but by id.
    Bytes node = Written([](TQelSDFWriter& w) { w.BeginNode(1, kMainGuid); });
    node.resize(10);
    TQelSDFReader cutNode(node);
    EXPECT_FALSE(cutNode.OpenNode(1, kMainGuid));
    EXPECT_TRUE(cutNode.OpenNodeById(1));
}

// A settings file cut at every possible length: each module whose node lies
// before the cut gets everything back, the cut module gets what precedes the
// cut, and nothing else is read.
TEST(TQelSDFReader, TruncatedSettingsFileKeepsWhatPrecedesTheCut) {
    const TQelGuid guids[3] = {kMainGuid, kHelpGuid, kEditorGuid};
    TQelMemoryOutputStream out;
    TQelSDFWriter w(&out, false);
    std::vector<std::vector<size_t>> ends(3);  // end offset of each element
    std::vector<size_t> headerEnds;
    for (int m = 0; m < 3; ++m) {
        w.BeginNode(1, guids[m]);
        headerEnds.push_back(out.Bytes().size());
        for (int i = 1; i <= 4; ++i) {
            w.WriteInteger(uint32_t(i), m * 100 + i * 1000);
            ends[size_t(m)].push_back(out.Bytes().size());
        }
        w.EndNode();
    }
    const Bytes full = out.Bytes();
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        TQelSDFReader r(Bytes(full.begin(), full.begin() + long(cut)));
        for (int m = 0; m < 3; ++m) {
            const bool open = r.OpenNode(1, guids[m]);
            ASSERT_EQ(open, cut >= headerEnds[size_t(m)]) << "cut " << cut << " module " << m;
            if (!open) continue;
            for (int i = 1; i <= 4; ++i) {
                int32_t v = -1;
                r.ReadInteger(uint32_t(i), v);
                const bool whole = cut >= ends[size_t(m)][size_t(i - 1)];
                EXPECT_EQ(v, whole ? m * 100 + i * 1000 : -1) << "cut " << cut << " module " << m << " item " << i;
            }
            r.CloseNode();
        }
    }
}

TEST(TQelSDFReader, SurvivesDeepNestingAndRandomStreams) {
    {
        // Every 0xC0 opens one more level; neither parsing nor freeing recurses.
        TQelSDFReader deep(Bytes(1000000, 0xC0));
        int depth = 0;
        while (depth < 1000 && deep.OpenNodeById(0)) ++depth;
        EXPECT_EQ(depth, 1000);
        int32_t v = 42;
        EXPECT_TRUE(deep.ReadInteger(0, v));
        EXPECT_EQ(v, 42);
        for (int i = 0; i < 2000; ++i) deep.CloseNode();
        EXPECT_EQ(deep.CurrentNode(), nullptr);
    }

    // Random bytes drawn mostly from plausible headers and small values, plus
    // every prefix of a real stream with random bytes flipped.
    std::mt19937 rng(20240611);
    const uint8_t plausible[] = {0x00, 0x54, 0x55, 0x56, 0x57, 0x5F, 0xC0, 0xD5, 0x80, 0xFF, 0x01, 0x04, 0x05, 0x0C, 0x0D, 0x0E};
    const Bytes real = Written([](TQelSDFWriter& w) {
        w.BeginNode(1, kMainGuid);
        w.WriteInteger(1, 1033);
        w.WriteWideString(2, u"text");
        w.BeginNodeInt(3, 4);
        w.WriteData(1, "xyz", 3);
        w.EndNode();
        w.EndNode();
    });
    for (int round = 0; round < 3000; ++round) {
        Bytes s;
        if (round % 2) {
            s.assign(real.begin(), real.begin() + long(rng() % (real.size() + 1)));
            if (!s.empty()) s[rng() % s.size()] = uint8_t(rng());
        } else {
            s.resize(rng() % 64);
            for (auto& c : s) c = rng() % 3 ? plausible[rng() % sizeof plausible] : uint8_t(rng());
        }
        TQelSDFReader r(s);
        for (int op = 0; op < 20; ++op) {
            const uint32_t id = rng() % 6;
            int32_t v = 0;
            bool b = false;
            std::u16string t;
            uint8_t buf[16];
            switch (rng() % 7) {
                case 0: r.OpenNodeById(id); break;
                case 1: r.OpenNode(id, kMainGuid); break;
                case 2: r.CloseNode(); break;
                case 3: r.ReadInteger(id, v); break;
                case 4: r.ReadBoolean(id, b); break;
                case 5:
                    r.ReadWideString(id, t);
                    EXPECT_LE(t.size() * 2, s.size());
                    break;
                default: r.ReadData(id, buf, rng() % 17); break;
            }
        }
    }
}
