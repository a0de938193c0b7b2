// The simulated reader's own checks and state (most of it is exercised end to end).
#include "field_file.h"
#include "link_fixture.h"

#include <cstdio>
#include <fstream>

namespace qx4test {
namespace {

Bytes WithSum(Bytes frame, int delta) {
    frame[frame.size() - 2] = static_cast<uint8_t>(frame[frame.size() - 2] + delta);
    return frame;
}

TEST(SimulatedReader, ChecksFramesAsAReaderWould) {
    qx4sim::SimulatedReader reader;
    auto answer = [&](const Bytes& request) { return reader.Respond(request).at(0); };
    EXPECT_EQ(answer(WithSum(qx4sim::EncodeFrame(0x4F, {0x90, 0x00}), 1)),
              qx4sim::EncodeFrame(0x31, {0x42}));
    EXPECT_EQ(answer(qx4sim::EncodeFrame(0x4F, {0x90})), qx4sim::EncodeFrame(0x31, {0x41}));
    EXPECT_EQ(answer(qx4sim::EncodeFrame(0x4E, {0x9E})), qx4sim::EncodeFrame(0x31, {0x41}));
    EXPECT_EQ(answer(qx4sim::EncodeFrame(0x4F, {0xEE})), qx4sim::EncodeFrame(0x31, {0x44}));
    EXPECT_EQ(answer(qx4sim::EncodeFrame(0x7F, {})), qx4sim::EncodeFrame(0x31, {0x44}));
    EXPECT_EQ(answer(qx4sim::EncodeFrame(0x78, {0x20, 0x00, 0x00, 0x00})),
              qx4sim::EncodeFrame(0x31, {0x41})); // one byte too many for a block read
}

TEST(SimulatedReader, UidTextIsExactly16HexDigits) {
    const qx4sim::Uid uid{0x78, 0x56, 0x34, 0x12, 0x00, 0x01, 0x04, 0xE0};
    EXPECT_EQ(qx4sim::ParseUidText("E004010012345678"), uid);
    EXPECT_EQ(qx4sim::ParseUidText("e004010012345678"), uid);
    EXPECT_EQ(qx4sim::ParseUidText("E0:04:01:00:12:34:56:78"), uid);
    EXPECT_EQ(qx4sim::ParseUidText("E0 04 01 00 12 34 56 78"), uid);
    for (const char* bad :
         {"-1 2+3-4 5 6 7 8", "E00401001234567Z", "E0040100123456", "", "E00401001234567800",
          ":E004010012345678", "E0::04010012345678", "E004010012345678 "})
        EXPECT_FALSE(qx4sim::ParseUidText(bad)) << bad;
}

TEST(SimulatedReader, AddressedRequestToAnAbsentTagIsNoTagAnswered) {
    qx4sim::SimulatedReader reader;
    const Bytes read{0x20, 0x00, 0x01, 1, 2, 3, 4, 5, 6, 7, 0xE0}; // block 0 of an absent UID
    EXPECT_EQ(reader.Respond(qx4sim::EncodeFrame(0x78, read)).at(0),
              qx4sim::EncodeFrame(0x31, {0x04}));
}

TEST(SimulatedReader, MydTagWithLargeBlocksTakesWritesOfItsOwnSize) {
    qx4sim::SimulatedReader reader;
    qx4sim::Tag myd = qx4sim::Tag::Make({1, 2, 3, 4, 5, 6, 7, 0xE0}, qx4sim::TagType::Myd, 16, 4);
    reader.SetField({myd});
    Bytes eight{0xB1, 0x01, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x00}; // 8 bytes for a 16-byte block
    EXPECT_EQ(reader.Respond(qx4sim::EncodeFrame(0x78, eight)).at(0),
              qx4sim::EncodeFrame(0x31, {0x41}));
    Bytes sixteen{0xB3, 0x01, 0x00};
    for (uint8_t i = 0; i < 16; ++i)
        sixteen.push_back(i);
    sixteen.push_back(0x00);
    const Bytes answer = reader.Respond(qx4sim::EncodeFrame(0x78, sixteen)).at(0);
    EXPECT_EQ(answer[2], 0x30);
    EXPECT_EQ(answer[3], 1 + 16);
}

TEST(FieldFile, RefusesMalformedUids) {
    EXPECT_THROW(
        qx4sim::ParseField(R"({"tags":[{"uid":"-1 2+3-4 5 6 7 8","blocks":[{"data":"00"}]}]})"),
        std::runtime_error);
}

TEST(SimulatedReader, EepromSurvivesARestartOfTheSimulator) {
    const std::string file = ::testing::TempDir() + "qx4sim_eeprom.bin";
    std::remove(file.c_str());
    {
        qx4sim::SimOptions options;
        options.eepromFile = file;
        qx4sim::SimulatedReader reader(options);
        reader.Respond(qx4sim::EncodeFrame(0x4E, {0x70, 0x20, 0x01, 0xCD, 0xAB}));
        reader.Respond(qx4sim::EncodeFrame(0x4E, {0x10, 0x01, 0x00, 0x40, 0x01, 0x00, 0x05}));
    }
    qx4sim::SimOptions options;
    options.eepromFile = file;
    qx4sim::SimulatedReader again(options);
    EXPECT_EQ(again.Registers().Word(0x20), 0xABCD);
    EXPECT_EQ(again.Registers().mode, 0x01); // stored with the EEPROM option
    std::remove(file.c_str());
}

TEST(SimulatedReader, AutoScanSendsUidOrDataNotifications) {
    qx4sim::SimOptions options;
    options.autoScanPeriodMs = 20;
    qx4sim::SimulatedReader reader(options);
    std::vector<Bytes> seen;
    reader.Modify([](qx4sim::ReaderRegisters& r, std::vector<qx4sim::Tag>& field) {
        r.mode = 1;
        r.flags = 0x58; // data+UID off: the UID as text
        field.resize(1);
    });
    reader.Peer().SetLog(nullptr);
    RecordingWindow sink; // what the peer writes, read through a library context
    ::setenv("QX4_COM3", reader.DevicePath().c_str(), 1);
    ASSERT_EQ(QX4DllOpen(3, 0), 1);
    QX4SetHandle(&sink);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    QX4ReadData();
    ASSERT_FALSE(sink.received.empty());
    EXPECT_EQ(sink.received[0],
              std::make_pair(uintptr_t{0}, Bytes{'E', '0', '0', '4', '0', '1', '0', '0', '1', '2',
                                                 '3', '4', '5', '6', '7', '8'}));
    reader.Modify([](qx4sim::ReaderRegisters& r, auto&) { r.carrier = false; });
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    QX4ReadData();
    sink.received.clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    QX4ReadData();
    EXPECT_TRUE(sink.received.empty()); // no carrier, no notifications
    QX4SetHandle(nullptr);
    QX4DllClose();
}

TEST(FieldFile, RoundTripAndClearErrors) {
    auto tags = qx4sim::SimulatedReader::DefaultField();
    tags[0].locked[3] = true;
    tags[1].afiLocked = true;
    const auto back = qx4sim::ParseField(qx4sim::FieldToJson(tags));
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0].uid, tags[0].uid);
    EXPECT_EQ(back[0].memory, tags[0].memory);
    EXPECT_TRUE(back[0].locked[3]);
    EXPECT_TRUE(back[1].afiLocked);
    EXPECT_EQ(back[1].blockSize, 8u);
    EXPECT_EQ(back[2].type, qx4sim::TagType::Myd);
    const char* broken[] = {
        R"({"tags": [{"uid": "E0", "blocks": [{"data": "00000000"}]}]})",
        R"({"tags": [{"uid": "E004010012345678", "blocks": [{"data": "0000"}]}]})",
        R"({"tags": [{"uid": "E004010012345678", "blocks": [{"data": "zz000000"}]}]})",
        R"({"tags": [{"uid": "E004010012345678", "blockSize": 0, "blocks": []}]})",
        R"({"tags": )",
    };
    for (const char* text : broken)
        EXPECT_THROW(qx4sim::ParseField(text), std::runtime_error) << text;
}

} // namespace
} // namespace qx4test
