// NDEF on bytes: capability containers, TLVs, records and their types, built and read
// back, and malformed memory and messages refused without reading past them.
#include "capability_container.h"
#include "content_json.h"
#include "ndef_memory.h"
#include "record_json.h"
#include "record_types.h"

#include <gtest/gtest.h>

using namespace qx4ndef;

namespace {

Bytes Hex(const std::string& text) {
    return FromHex(text, "test");
}

// Parses from a buffer of exactly the given bytes, so ASan sees any read past it.
Message ParseExact(const Bytes& bytes) {
    const auto copy = std::make_unique<uint8_t[]>(bytes.size() + 1);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return ParseMessage(ByteView(copy.get(), bytes.size()));
}

} // namespace

TEST(NdefContainer, FourAndEightByteFormsOnTheirTags) {
    const auto cc = ParseCapabilityContainer(Hex("E1400E01"), 112);
    EXPECT_EQ(cc.size, 4u);
    EXPECT_EQ(cc.memoryLength, 112u);
    EXPECT_TRUE(cc.multipleBlockRead);
    EXPECT_FALSE(cc.lockBlock);
    EXPECT_TRUE(cc.Writable());
    EXPECT_EQ(AreaEnd(cc, 112), 112u); // counted with the container: never past the tag

    const auto big = ParseCapabilityContainer(Hex("E240001900000400"), 8192);
    EXPECT_EQ(big.size, 8u);
    EXPECT_EQ(big.memoryLength, 8192u);
    EXPECT_TRUE(big.multipleBlockRead && big.lockBlock && big.specialFrame);
    EXPECT_EQ(BuildCapabilityContainer(big), Hex("E240001900000400"));

    const auto readOnly = ParseCapabilityContainer(Hex("E1430D00"), 112);
    EXPECT_EQ(readOnly.write, Access::Never);
    EXPECT_FALSE(readOnly.Writable());

    // Formats: the short form up to 2040 bytes of area, the long one beyond.
    EXPECT_EQ(BuildCapabilityContainer(ContainerFor(28 * 4, true)), Hex("E1400D01"));
    EXPECT_EQ(BuildCapabilityContainer(ContainerFor(256 * 8, false)), Hex("E140FF00"));
    EXPECT_EQ(BuildCapabilityContainer(ContainerFor(256 * 32, true)), Hex("E2400001000003FF"));
}

TEST(NdefContainer, RefusesWhatIsNoContainerOrClaimsTooMuch) {
    EXPECT_THROW(ParseCapabilityContainer(Hex("00000000"), 112), NdefError);
    EXPECT_THROW(ParseCapabilityContainer(Hex("E1800E01"), 112), NdefError);         // version 2
    EXPECT_THROW(ParseCapabilityContainer(Hex("E1400F01"), 112), NdefError);         // 120 > 112
    EXPECT_THROW(ParseCapabilityContainer(Hex("E1400001"), 112), NdefError);         // long, cut
    EXPECT_THROW(ParseCapabilityContainer(Hex("E240000100000000"), 112), NdefError); // 0
    EXPECT_THROW(ParseCapabilityContainer(Hex("E140"), 112), NdefError);
}

TEST(NdefTlv, PassesControlTlvsAndAsksForWhatItLacks) {
    // NULL, lock control, proprietary, then NDEF of three bytes.
    const Bytes area = Hex("E1400E01"
                           "00"
                           "0103A01044"
                           "FD0112"
                           "0303D00000"
                           "FE");
    auto scan = ScanTlvs(area, 4, area.size());
    ASSERT_EQ(scan.status, TlvScan::Status::Found);
    EXPECT_EQ(scan.ndef.start, 13u);
    EXPECT_EQ(scan.ndef.length, 3u);
    // Cut inside the lock control TLV: it asks for the length byte... and then more.
    scan = ScanTlvs(ByteView(area).first(6), 4, 112);
    EXPECT_EQ(scan.status, TlvScan::Status::NeedMore);
    EXPECT_EQ(scan.needed, 7u);
    // Three-byte length.
    Bytes longer = Hex("E1400E01"
                       "03FF0100");
    longer.resize(4 + 4 + 256 + 1, 0);
    EXPECT_EQ(ScanTlvs(longer, 4, longer.size()).ndef.length, 256u);
    // No NDEF TLV before the terminator: a new one goes there.
    scan = ScanTlvs(Hex("E1400E01"
                        "0000FE00"),
                    4, 112);
    EXPECT_EQ(scan.status, TlvScan::Status::NoNdef);
    EXPECT_EQ(scan.freeFrom, 6u);
    // A TLV longer than the area is refused.
    EXPECT_THROW(ScanTlvs(Hex("E1400101"
                              "0305D0"),
                          4, 8),
                 NdefError);
    EXPECT_THROW(ScanTlvs(Hex("E1400101"
                              "03FF"),
                          4, 6),
                 NdefError);
    EXPECT_EQ(BuildNdefTlv(Hex("D00000"), true), Hex("0303D00000FE"));
    Bytes big(300, 0);
    const Bytes tlv = BuildNdefTlv(big, false);
    EXPECT_EQ(Bytes(tlv.begin(), tlv.begin() + 4), Hex("03FF012C"));
}

TEST(NdefRecords, EveryTypeBuiltAndReadBack) {
    const Message message{
        UriRecord("https://www.example.com/a"),
        UriRecord("urn:epc:id:sgtin:1"),
        UriRecord("geo:1,2"),
        TextRecord("hello", "en"),
        TextRecord("\xe3\x81\x93\xf0\x9f\x98\x80", "ja", true), // こ and an emoji (surrogates)
        SmartPosterRecord({UriRecord("http://x.org"), TextRecord("title", "de")}),
        MimeRecord("text/plain", Hex("414243")),
        AbsoluteUriRecord("http://example.com/type"),
        ExternalRecord("example.com:kind", Hex("00FF")),
        Record{},
        Record{Tnf::Unknown, "", Hex("01"), Hex("0203")},
        Record{Tnf::WellKnown, "Xy", {}, Bytes(300, 0x55)}, // long record, kept as bytes
    };
    const Bytes bytes = BuildMessage(message);
    EXPECT_EQ(ParseExact(bytes), message);
    EXPECT_EQ(EncodeUri("https://www.example.com/a")[0], 0x02);
    EXPECT_EQ(EncodeUri("urn:epc:id:sgtin:1")[0], 0x1E); // the longest prefix, not urn:
    EXPECT_EQ(EncodeUri("geo:1,2")[0], 0x00);

    const nlohmann::json json = MessageJson(ParseExact(bytes));
    EXPECT_EQ(json[0]["uri"], "https://www.example.com/a");
    EXPECT_EQ(json[4]["text"], "\xe3\x81\x93\xf0\x9f\x98\x80");
    EXPECT_EQ(json[4]["encoding"], "UTF-16");
    EXPECT_EQ(json[5]["records"][1]["language"], "de");
    EXPECT_EQ(json[6]["data"], "ABC");
    EXPECT_EQ(json[10]["id"], "01");
    EXPECT_EQ(json[11]["kind"], "other");
    EXPECT_EQ(RecordLine(message[5]), "Smart Poster: URI http://x.org; Text [de, UTF-8] title");
    // The JSON we read is what we build from.
    EXPECT_EQ(BuildMessage(MessageFromJson(json)), bytes);
}

TEST(NdefRecords, ChunksAreReassembledAndUtf16ByteOrdersRead) {
    // "ab" as a text record in two chunks: T with CF, then an unchanged chunk with ME.
    const Message chunked = ParseExact(Hex("B10104"
                                           "54"
                                           "02656E61"
                                           "560001"
                                           "62"));
    ASSERT_EQ(chunked.size(), 1u);
    EXPECT_EQ(DecodeText(chunked[0].payload).text, "ab");
    EXPECT_EQ(DecodeText(Hex("82656EFFFE6100")).text, "a"); // little-endian with its mark
    EXPECT_EQ(DecodeText(Hex("82656E0061")).text, "a");     // no mark: big-endian
}

TEST(NdefRecords, MalformedMessagesAreRefused) {
    for (const char* bad : {
             "D1",             // header only
             "D101",           // no payload length
             "D10105",         // type and payload past the end
             "C1010000000A55", // long payload length past the end
             "C101FFFFFFFF55", // a length that would overflow an offset
             "9101015500",     // no ME: ends without its last record
             "D101015500"
             "D10000",     // bytes after the last record
             "5101015500", // no MB on the first record
             "D60000",     // TNF 6 outside a chunk
             "D70000",     // TNF 7
             "D00100"
             "55", // empty record with a type
             "B1010155"
             "00"
             "D1010155"
             "00", // a chunk followed by a new record
         })
        EXPECT_THROW(ParseExact(Hex(bad)), NdefError) << bad;
    EXPECT_TRUE(ParseExact({}).empty());
    EXPECT_THROW(DecodeUri(Hex("24")), NdefError);            // no such prefix code
    EXPECT_THROW(DecodeUri(Hex("01FF")), NdefError);          // not UTF-8
    EXPECT_THROW(DecodeText(Hex("05656E")), NdefError);       // language past the payload
    EXPECT_THROW(DecodeText(Hex("82656E00D800")), NdefError); // lone surrogate
    EXPECT_THROW(BuildMessage({Record{Tnf::Media, std::string(256, 'a'), {}, {}}}), NdefError);

    // Smart posters nested beyond the limit decode to an error, never deeper.
    Record inner = UriRecord("http://x");
    for (int i = 0; i <= kDeepestNesting + 1; ++i)
        inner = Record{Tnf::WellKnown, "Sp", {}, BuildMessage({inner})};
    std::string text = MessageJson({inner}).dump();
    EXPECT_NE(text.find("nested deeper"), std::string::npos);
    // A bad payload keeps its bytes and says why.
    const nlohmann::json bad = RecordJson(Record{Tnf::WellKnown, "U", {}, Hex("30")});
    EXPECT_EQ(bad["payload"], "30");
    EXPECT_TRUE(bad.contains("error"));
    EXPECT_THROW(MessageFromJson(nlohmann::json::parse(R"([{"text":"a","encoding":"latin1"}])")),
                 NdefError);
}

TEST(NdefMemory, ReadsOnlyAsFarAsTheMessageAndPlacesNewOnes) {
    Bytes memory = Hex("E1400E01"
                       "0303D00000"
                       "FE");
    memory.resize(112, 0);
    EXPECT_EQ(BytesNeeded(ByteView(memory).first(2), 112), 4u);
    EXPECT_EQ(BytesNeeded(ByteView(memory).first(kFirstRead), 112), 9u);
    EXPECT_EQ(BytesNeeded(ByteView(memory).first(kFirstRead), 112, false), kFirstRead);
    const NdefContent content = ReadNdef(ByteView(memory).first(9), 112);
    ASSERT_TRUE(content.tlv);
    EXPECT_EQ(content.records.size(), 1u);
    EXPECT_EQ(content.records[0].tnf, Tnf::Empty);

    // Replaced in place, with a terminator while there is room; refused when too long.
    const Bytes message = BuildMessage({UriRecord("https://example.com")});
    Placement placement = PlaceMessage(memory, 112, message);
    EXPECT_EQ(placement.offset, 4u);
    EXPECT_EQ(placement.bytes, BuildNdefTlv(message, true));
    EXPECT_THROW(PlaceMessage(memory, 112, Bytes(107, 0)), NdefError);
    EXPECT_EQ(PlaceMessage(memory, 112, Bytes(106, 0)).bytes.size(), 108u); // no terminator

    // An eight-byte container on 4-byte blocks: the first read asks for more.
    Bytes big = Hex("E240000100000400"
                    "0300FE");
    EXPECT_EQ(BytesNeeded(ByteView(big).first(kFirstRead), 8192), 8u);
    EXPECT_EQ(BytesNeeded(ByteView(big).first(8), 8192), 9u); // then 10: one byte a step
    EXPECT_THROW(ReadNdef(Hex("E1430E01"), 112), NdefError);  // ends before its TLVs
    EXPECT_THROW(ReadNdef(Hex("E1480E01"
                              "0300FE"),
                          112),
                 NdefError); // read access not free
    const nlohmann::json json = ContentJson(ReadNdef(Hex("E1400E01"
                                                         "0000FE"),
                                                     112));
    EXPECT_EQ(json["ndef"], false);
    EXPECT_EQ(json["capabilityContainer"]["memoryLength"], 112);
}
