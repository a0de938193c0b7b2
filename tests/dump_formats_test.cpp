// Dump formats: each written by hand from its description, read, written back; the UID
// order of each; files that are refused and what they are refused for.
#include "dump_files.h"
#include "flipper_nfc.h"
#include "proxmark_json.h"
#include "qx4_json.h"
#include "restore_plan.h"

#include <gtest/gtest.h>

namespace {

using namespace qx4dump;

// Every UID byte different, so a reversed or shifted UID cannot pass.
const Uid kUid{0x6F, 0x5E, 0x4D, 0x3C, 0x2B, 0x1A, 0x07, 0xE0}; // as the reader delivers it

const char* kProxmark = R"({
  "Created": "proxmark3",
  "FileType": "15693 v4",
  "Card": {
    "uid": "6F5E4D3C2B1A07E0",
    "dsfid": "11", "dsfidlock": "01", "afi": "22", "afilock": "00",
    "bytesperpage": "04", "pagescount": "04", "ic": "03",
    "locks": "00010001", "random": "1234", "privacypasswd": "00000000", "state": "00"
  },
  "blocks": {"0": "00112233", "1": "44556677", "2": "8899AABB", "3": "CCDDEEFF"}
})";

const char* kFlipper = R"(Filetype: Flipper NFC device
Version: 4
# comments anywhere
Device type: SLIX
UID: E0 07 1A 2B 3C 4D 5E 6F
Block Size: 04
Block Count: 4
DSFID: 11
AFI: 22
IC Reference: 03
Lock DSFID: true
Lock AFI: false
Data Content: 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF
Security Status: 00 01 00 01
# The SLIX part, kept aside
Password Privacy: 7F FD 6E 5B
Privacy Mode: false
)";

void ExpectTheTag(const TagDump& tag) {
    EXPECT_EQ(tag.uid, kUid);
    EXPECT_EQ(UidText(tag.uid), "E0071A2B3C4D5E6F");
    EXPECT_EQ((tag.dsfid), 0x11);
    EXPECT_EQ(tag.afi, 0x22);
    EXPECT_EQ(tag.dsfidLocked, true);
    EXPECT_EQ(tag.afiLocked, false);
    EXPECT_EQ(tag.icReference, 0x03);
    ASSERT_EQ(tag.blocks.size(), 4u);
    EXPECT_EQ(ToHex(tag.blocks[2].data), "8899AABB");
    EXPECT_EQ(tag.blocks[1].locked, true);
    EXPECT_EQ(tag.blocks[2].locked, false);
    EXPECT_EQ(tag.blocks[3].locked, true);
}

TEST(DumpFormats, EachFormatReadsTheSameTagAndRoundTrips) {
    EXPECT_EQ(DetectFormat(kProxmark, "p"), Format::Proxmark);
    EXPECT_EQ(DetectFormat(kFlipper, "f"), Format::Flipper);
    const TagDump fromProxmark = ParseDump(kProxmark, "p").at(0);
    const TagDump fromFlipper = ParseDump(kFlipper, "f").at(0);
    ExpectTheTag(fromProxmark);
    ExpectTheTag(fromFlipper);
    for (Format format : {Format::Qx4, Format::Proxmark, Format::Flipper}) {
        const std::string text = WriteDump({fromFlipper}, format);
        EXPECT_EQ(DetectFormat(text, "w"), format);
        const TagDump back = ParseDump(text, "w").at(0);
        ExpectTheTag(back);
        EXPECT_TRUE(Compare(fromFlipper, back).empty()) << FormatName(format);
    }
}

TEST(DumpFormats, UidOrderOfEachFormat) {
    TagDump tag;
    tag.uid = kUid;
    tag.blocks = {{{1, 2, 3, 4}, false}};
    EXPECT_NE(WriteQx4Json({tag}).find("\"uid\": \"E0071A2B3C4D5E6F\""), std::string::npos);
    EXPECT_NE(WriteProxmarkJson(tag).find("\"uid\": \"6F5E4D3C2B1A07E0\""), std::string::npos);
    EXPECT_NE(WriteFlipperNfc(tag).find("UID: E0 07 1A 2B 3C 4D 5E 6F\n"), std::string::npos);
}

TEST(DumpFormats, ProxmarkV5CountsInTwoBytesAndLargeTagsAreWrittenSo) {
    std::string v5 = kProxmark;
    v5.replace(v5.find("15693 v4"), 8, "15693 v5");
    v5.replace(v5.find("\"pagescount\": \"04\""), 18, "\"pagescount\": \"0400\"");
    EXPECT_EQ(ParseDump(v5, "p").at(0).blocks.size(), 4u);
    TagDump big;
    big.blockSize = 1;
    big.blocks.assign(256, {{0xAB}, false});
    const std::string text = WriteProxmarkJson(big);
    EXPECT_NE(text.find("\"pagescount\": \"0001\""), std::string::npos);
    EXPECT_EQ(ParseProxmarkJson(text, "p").blocks.size(), 256u);
}

// A file broken by replacing `what` with `with` is refused, the message naming `names`.
void ExpectRefused(std::string text, const std::string& what, const std::string& with,
                   const std::string& names) {
    const size_t at = text.find(what);
    ASSERT_NE(at, std::string::npos) << "not in the file: " << what;
    text.replace(at, what.size(), with);
    try {
        ParseDump(text, "broken.file");
        ADD_FAILURE() << "accepted: " << with;
    } catch (const FormatError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("broken.file"), std::string::npos) << message;
        EXPECT_NE(message.find(names), std::string::npos) << message << " / " << names;
    }
}

TEST(DumpFormats, MalformedFilesAreRefusedWithWhereAndWhat) {
    ExpectRefused(kProxmark, "6F5E4D3C2B1A07E0", "6F5E4D3C2B1A07", "\"uid\" holds 7 bytes");
    ExpectRefused(kProxmark, "\"04\", \"ic\"", "\"05\", \"ic\"", "for 5 blocks");
    ExpectRefused(kProxmark, "8899AABB", "8899AAB", "pairs of hex digits");
    ExpectRefused(kProxmark, "\"bytesperpage\": \"04\"", "\"bytesperpage\": \"21\"",
                  "block size 33");
    ExpectRefused(kProxmark, "15693 v4", "15693 v9", "FileType");
    ExpectRefused(kProxmark, "\"dsfid\": \"11\"", "\"dsfid\": 17",
                  "\"dsfid\" must be hex digits in double quotes");
    ExpectRefused(kProxmark, "\"CCDDEEFF\"}", "\"CCDDEEFF\"", "not valid JSON"); // cut short
    ExpectRefused(kFlipper, "Block Count: 4", "Block Count: 5", "line 13: \"Data Content\"");
    ExpectRefused(kFlipper, "Block Count: 4", "Block Count: 300", "outside 1 to 256");
    ExpectRefused(kFlipper, "UID: E0 07 1A 2B 3C 4D 5E 6F", "UID: E0 07 1A 2B 3C 4D 5E", "\"UID\"");
    ExpectRefused(kFlipper, "Block Size: 04", "Block Size: 21", "\"Block Size\"");
    ExpectRefused(kFlipper, "Lock AFI: false", "Lock AFI: maybe",
                  "\"Lock AFI\" must be true or false, not \"maybe\"");
    ExpectRefused(kFlipper, "Device type: SLIX", "Device type: NTAG/Ultralight", "ISO 15693");
    ExpectRefused(kFlipper, "Security Status: 00 01 00 01", "Security Status: 00 01", "4 blocks");
    ExpectRefused(kFlipper, "Data Content: 00 11", "Data Content: 0 011", "must be hex bytes");
    ExpectRefused(R"({"tags": [{"uid": "E0071A2B3C4D5E6F", "blockSize": 4, "blockCount": 2,
                    "blocks": [{"data": "00112233"}]}]})",
                  "\"blockCount\": 2", "\"blockCount\": 3", "\"blockCount\" says 3");
    ExpectRefused(R"({"tags": [{"uid": "E0071A2B3C4D5E6F", "blocks": [{"data": "00112233"}]}]})",
                  "00112233", "001122", "holds 3 bytes");
    // A key given twice, in JSON or in a Flipper file, would leave one of its values unread.
    ExpectRefused(kProxmark, "\"afi\": \"22\"", "\"afi\": \"22\", \"afi\": \"33\"",
                  "\"afi\" appears twice");
    ExpectRefused(kFlipper, "AFI: 22", "AFI: 22\nAFI: 33", "\"AFI\" appears again");
    // What a file says reaches a message escaped: no terminal control from a dump.
    ExpectRefused(R"({"tags": [{"uid": "E0071A2B3C4D5E6F", "blocks": [{"data": "00112233"}]}]})",
                  "\"uid\"", "\"type\": \"\\u001b[2J\", \"uid\"", "\"\\x1B[2J\"");
    ExpectRefused(R"({"tags": [{"uid": "E0071A2B3C4D5E6F", "blocks": [{"data": "00112233"}]}]})",
                  "\"uid\"", "\"blockSize\": 99, \"uid\"",
                  "\"blockSize\" must be a whole number from 1 to 32, not 99");
    // A byte order mark is no reason to refuse a file.
    EXPECT_EQ(ParseDump("\xEF\xBB\xBF" + std::string(kFlipper), "bom").size(), 1u);
    EXPECT_THROW(ParseDump("PK\x03\x04 zip?", "x"), FormatError);
    EXPECT_THROW(ParseDump("", "x"), FormatError);
}

TEST(DumpFormats, DumpsWrittenBeforeTheFormatFieldStillLoad) {
    const auto tags = ParseDump(R"({"tags": [{"type": "my-d", "uid": "E005109876543210",
        "dsfid": 0, "afi": 0, "icReference": 3, "infoFlags": 15, "blockSize": 8,
        "afiLocked": false, "dsfidLocked": false,
        "blocks": [{"data": "0102030405060708", "locked": true}]}]})",
                                "old.json");
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_EQ(tags[0].type, TagType::Myd);
    EXPECT_TRUE(tags[0].blocks[0].locked);
}

TEST(RestorePlan, WritesWhatDiffersInRunsAndLocksOnlyOnRequest) {
    TagDump dump, tag;
    dump.blocks.assign(8, {{1, 1, 1, 1}, false});
    tag.blocks.assign(8, {{0, 0, 0, 0}, false});
    for (int b : {0, 5})
        tag.blocks[size_t(b)].data = dump.blocks[size_t(b)].data;
    tag.blocks[3].locked = true;
    dump.blocks[6].locked = true;
    dump.afi = 7;
    tag.dsfidLocked = true;
    dump.dsfid = 9;
    const RestorePlan plan = PlanRestore(dump, tag, false, false);
    EXPECT_EQ(plan.write, (std::vector<int>{1, 2, 4, 6, 7}));
    EXPECT_EQ(plan.same, (std::vector<int>{0, 5}));
    EXPECT_EQ(plan.lockedOnTag, (std::vector<int>{3}));
    EXPECT_TRUE(plan.writeAfi);
    EXPECT_TRUE(plan.dsfidLockedOnTag);
    EXPECT_TRUE(plan.lockBlocks.empty());
    EXPECT_EQ(PlanRestore(dump, tag, false, true).lockBlocks, std::vector<int>{6});
    const auto runs = Runs(plan.write, 2);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ((std::pair{runs[0].first, runs[0].count}), (std::pair{1, 2}));
    EXPECT_EQ((std::pair{runs[2].first, runs[2].count}), (std::pair{6, 2}));
    EXPECT_EQ(Mismatches(dump, tag).size(), 0u);
    EXPECT_EQ(SizeMismatch(dump, tag), "");
    tag.blockSize = 8;
    tag.uid[0] = 1;
    EXPECT_EQ(Mismatches(dump, tag).size(), 1u);
    EXPECT_EQ(SizeMismatch(dump, tag), "the dump's blocks hold 4 bytes, the tag's 8");
}

TEST(RestorePlan, WhatEitherSideDoesNotKnowIsLeftAlone) {
    TagDump dump, tag;
    dump.blocks = tag.blocks = {{{1, 2, 3, 4}, false}};
    tag.afi = 0x10;
    tag.dsfid = 0x20;
    dump.afi.reset();
    dump.dsfid.reset();
    dump.afiLocked = true;
    tag.afiLocked.reset();
    RestorePlan plan = PlanRestore(dump, tag, false, false);
    EXPECT_FALSE(plan.writeAfi || plan.writeDsfid || plan.afiLockedOnTag);
    EXPECT_TRUE(plan.afiUnknown && plan.dsfidUnknown);
    EXPECT_TRUE(Compare(dump, tag).empty());
    EXPECT_EQ(Unknowns(dump, tag),
              (std::vector<std::string>{"the dump does not hold the AFI",
                                        "the dump does not hold the DSFID",
                                        "the tag does not tell its AFI lock"}));
    // A lock the tag's state does not rule out is still applied on request.
    EXPECT_TRUE(PlanRestore(dump, tag, false, true).lockAfi);
    // Known on both sides: compared and written as before.
    dump.afi = 0x11;
    dump.dsfid = 0x20;
    plan = PlanRestore(dump, tag, false, false);
    EXPECT_TRUE(plan.writeAfi);
    EXPECT_FALSE(plan.writeDsfid || plan.dsfidUnknown);
    ASSERT_EQ(Compare(dump, tag).size(), 1u);
    EXPECT_EQ(Compare(dump, tag)[0].what, "afi");
}

TEST(DumpFormats, UnknownFactsStayUnknownThroughOurJson) {
    TagDump tag;
    tag.blocks = {{{1, 2, 3, 4}, false}};
    tag.afi.reset();
    tag.dsfidLocked.reset();
    tag.infoFlags = 0x0D; // no AFI announced
    const std::string text = WriteDump({tag}, Format::Qx4);
    EXPECT_NE(text.find("\"afi\": null"), std::string::npos) << text;
    const TagDump back = ParseDump(text, "t.json").front();
    EXPECT_FALSE(back.afi.has_value());
    EXPECT_FALSE(back.dsfidLocked.has_value());
    EXPECT_EQ(back.dsfid, 0);
    EXPECT_EQ(back.afiLocked, false);
    // Other formats have no "unknown": defaults are written, marked as such, and read
    // back as unknown.
    const TagDump flipper = ParseDump(WriteDump({tag}, Format::Flipper), "t.nfc").front();
    EXPECT_FALSE(flipper.afi.has_value());
    EXPECT_FALSE(flipper.dsfidLocked.has_value());
    // Dumps written before "null" existed held 0 for what the tag did not announce.
    const auto old = ParseDump(R"({"tags": [{"uid": "E004010012345678", "dsfid": 0, "afi": 0,
        "infoFlags": 0, "blocks": [{"data": "00000000"}]}]})",
                               "old.json");
    EXPECT_FALSE(old[0].afi.has_value() || old[0].dsfid.has_value());
}

} // namespace
