#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "vesk1/module.h"

extern "C" void WriteStopRequestFromC(PipeRequest* request);

namespace {

// The bytes a client on another platform sees must be the documented ones, whatever the
// struct definitions say.
TEST(RecordLayout_Bytes, MagicAndStopItemHaveTheirWireBytes) {
  PipeRequest request;
  WriteStopRequestFromC(&request);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&request);
  const unsigned char magic[4] = {0xC7, 0x47, 0xFE, 0x00};
  EXPECT_EQ(0, std::memcmp(bytes + kMagicOffset, magic, 4));
  const unsigned char stop[4] = {0x00, 0xC0, 0x79, 0xC4};
  EXPECT_EQ(0, std::memcmp(bytes + kItemsOffset, stop, 4));

  PipeReply reply{};
  reply.magic = static_cast<float>(RecordMagic);
  std::uint32_t bits;
  std::memcpy(&bits, &reply.magic, 4);
  EXPECT_EQ(VESK1_REPLY_MAGIC_BITS, bits);
  const auto* replyBytes = reinterpret_cast<const unsigned char*>(&reply);
  const unsigned char replyMagic[4] = {0xC7, 0x47, 0x7E, 0x4B};
  EXPECT_EQ(0, std::memcmp(replyBytes + kReplyMagicOffset, replyMagic, 4));
}

}  // namespace
