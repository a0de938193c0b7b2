#include "link/codes.h"
#include "link/frame.h"
#include "link_fixture.h"

namespace qx4test {
namespace {

Bytes Build(uint8_t command, const Bytes& data) {
    qx4::FrameBuffer buffer;
    const size_t length = qx4::BuildFrame(buffer, 0, command, data);
    return Bytes(buffer.begin(), buffer.begin() + static_cast<long>(length));
}

TEST(Frame, WorkedExamplesAndEnvelope) {
    EXPECT_EQ(Build(0x4F, {0x90, 0x00}), Hex("02 00 4F 02 90 00 03 E6 0D"));
    EXPECT_EQ(Build(0x52, {}), Hex("02 00 52 00 03 57 0D"));
    // Data bytes that look like STX or CR are carried as they are.
    EXPECT_EQ(Build(0x4E, {0x02, 0x0D}), Hex("02 00 4E 02 02 0D 03 64 0D"));
}

TEST(Frame, LengthLimit) {
    EXPECT_EQ(Build(0x4A, Bytes(255, 0xFF)).size(), 262u);
    qx4::FrameBuffer buffer;
    const Bytes tooLong(256, 0);
    EXPECT_EQ(qx4::BuildFrame(buffer, 0, 0x4A, tooLong), 0u);
}

TEST(Frame, SumWrapsModulo256) {
    const Bytes frame = Build(0x4F, {0x90, 0x00});
    EXPECT_EQ(qx4::FrameSum(frame.data(), 2), 0xE6); // 0x1E6 in full
}

TEST(Codes, TextsOfNackAndIsoCodes) {
    EXPECT_STREQ(qx4::ErrorText(0x04, 0), "タグからの応答なし");
    EXPECT_STREQ(qx4::ErrorText(0x43, 0), "コマンドのＩＤ値のエラー");
    EXPECT_STREQ(qx4::ErrorText(0x05, 0x12),
                 "The specified block is locked and its content cannot be changed.");
    EXPECT_STREQ(qx4::ErrorText(0x05, 0x10),
                 "The specified block is not available (doesn’t exist).");
    EXPECT_STREQ(qx4::ErrorText(0x05, 0xA5), "? 'DF' Custom command error codes");
    EXPECT_STREQ(qx4::ErrorText(0x00, 0), "??? NACK受信");
    EXPECT_STREQ(qx4::ErrorText(0x06, 0), "??? NACK受信");
    EXPECT_STREQ(QX4ErrorText(0x42, 0), "コマンドのサム値エラー");
}

} // namespace
} // namespace qx4test
