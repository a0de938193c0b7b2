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
