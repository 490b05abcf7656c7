#include <gtest/gtest.h>

#include <vector>

#include "programming/job_harness.h"

namespace kt::test {
namespace {

std::vector<std::uint8_t> Tags(const std::vector<Request>& requests) {
  std::vector<std::uint8_t> tags;
  for (const Request& r : requests) tags.push_back(r.tag);
  return tags;
}

class ChipIdentificationTest : public testing::Test {
 protected:
  explicit ChipIdentificationTest(const std::string& options = "") : job(options) {}
  void SetUp() override { ASSERT_TRUE(job.Prepare()); }
  std::vector<Request> Sent() { return Decode(job.board().requests()); }

  JobHarness job;
};

TEST_F(ChipIdentificationTest, WalksTheTagsThroughBothRoutines) {
  job.p().sequenceTag = 2;
  std::uint8_t id = 0;
  ASSERT_EQ(job.p().ReadChipId(&id), kSOk);
  EXPECT_EQ(id, kExpectedChipId);
  EXPECT_EQ(job.p().sequenceTag, 11);
  std::vector<Request> sent = Sent();
  ASSERT_EQ(sent.size(), 8u);
  EXPECT_EQ(Tags(sent), (std::vector<std::uint8_t>{3, 4, 5, 6, 7, 8, 9, 10}));
  for (std::size_t i = 0; i < 7; ++i)
    EXPECT_EQ(sent[i], (Request{'r', kChipIdAccessSequence[i], 0, sent[i].tag}));
  EXPECT_EQ(sent[7].address, kChipIdRegister);

  job.board().ClearRequests();
  std::uint32_t version = 0xFFFFFFFF;
  ASSERT_EQ(job.p().ReadChipVersion(&version), kSOk);
  EXPECT_EQ(version, kChipVersion);    // high byte from 0xB9, low from 0xB8, nothing above
  EXPECT_EQ(job.p().sequenceTag, 20);  // the low-byte read's tag, for the header clear to reuse
  sent = Sent();
  ASSERT_EQ(sent.size(), 9u);
  EXPECT_EQ(Tags(sent), (std::vector<std::uint8_t>{12, 13, 14, 15, 16, 17, 18, 19, 20}));
  for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(sent[i].address, kChipVersionAccessSequence[i]);
  EXPECT_EQ(sent[7].address, kChipVersionHighRegister);
  EXPECT_EQ(sent[8].address, kChipVersionLowRegister);
}

TEST_F(ChipIdentificationTest, RegisterTagsWrapAfter240) {
  job.p().sequenceTag = 236;
  std::uint8_t id = 0;
  ASSERT_EQ(job.p().ReadChipId(&id), kSOk);
  EXPECT_EQ(Tags(Sent()), (std::vector<std::uint8_t>{237, 238, 239, 240, 1, 2, 3, 4}));
  EXPECT_EQ(job.p().sequenceTag, 5);

  // Block tags above 240 are left behind by the body write; the next identification starts at 1.
  job.board().ClearRequests();
  job.p().sequenceTag = 250;
  ASSERT_EQ(job.p().ReadChipId(&id), kSOk);
  EXPECT_EQ(Sent().front().tag, 1);
}

TEST_F(ChipIdentificationTest, MissingDestinationSendsNothing) {
  job.p().sequenceTag = 17;
  EXPECT_EQ(job.p().ReadChipId(nullptr), kEFail);
  EXPECT_EQ(job.p().ReadChipVersion(nullptr), kEFail);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(job.p().sequenceTag, 17);
}

class UnansweredAccessSequenceTest : public ChipIdentificationTest {
 protected:
  UnansweredAccessSequenceTest()
      : ChipIdentificationTest(AtJobRequest("silent", 1) + "," + AtJobRequest("silent", 4) + "," +
                               AtJobRequest("silent", 7)) {}
};

TEST_F(UnansweredAccessSequenceTest, OnlyTheIdReadDecides) {
  std::uint8_t id = 0;
  EXPECT_EQ(job.p().ReadChipId(&id), kSOk);
  EXPECT_EQ(id, kExpectedChipId);
}

class OtherChipTest : public ChipIdentificationTest {
 protected:
  OtherChipTest() : ChipIdentificationTest("chip-id=0x42") {}
};

TEST_F(OtherChipTest, IdIsReturnedAsRead) {
  std::uint8_t id = 0;
  EXPECT_EQ(job.p().ReadChipId(&id), kSOk);
  EXPECT_EQ(id, 0x42);
}

class UnansweredIdTest : public ChipIdentificationTest {
 protected:
  UnansweredIdTest() : ChipIdentificationTest(AtJobRequest("silent", job_request::kChipIdRead)) {}
};

TEST_F(UnansweredIdTest, FailsWithoutWritingTheDestinationButMovesTheTag) {
  job.p().sequenceTag = 2;
  std::uint8_t id = 0x55;
  EXPECT_EQ(job.p().ReadChipId(&id), kEFail);
  EXPECT_EQ(id, 0x55);
  EXPECT_EQ(job.p().sequenceTag, 11);
}

class UnansweredVersionHighTest : public ChipIdentificationTest {
 protected:
  // Request 9 of the board after ReadChipId's eight is the version's high-byte read.
  UnansweredVersionHighTest() : ChipIdentificationTest(AtJobRequest("silent", 8 + 8)) {}
};

TEST_F(UnansweredVersionHighTest, NeverAsksForTheLowByte) {
  std::uint8_t id = 0;
  ASSERT_EQ(job.p().ReadChipId(&id), kSOk);
  job.board().ClearRequests();
  std::uint32_t version = 0x1234;
  EXPECT_EQ(job.p().ReadChipVersion(&version), kEFail);
  EXPECT_EQ(version, 0x1234u);
  const std::vector<Request> sent = Sent();
  ASSERT_EQ(sent.size(), 8u);
  EXPECT_EQ(sent.back().address, kChipVersionHighRegister);
}

}  // namespace
}  // namespace kt::test
