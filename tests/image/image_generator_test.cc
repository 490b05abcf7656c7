// The committed default_image.bin must be exactly what the generator writes today, and the program must
// carry exactly that file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/default_image.h"

namespace kt {
namespace {

constexpr bool kCrossCompiling = KT_CROSSCOMPILING;

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::string kCommittedImage = std::string(KT_SOURCE_DIR) + "/src/image/default_image.bin";

TEST(ImageGeneratorTest, ProgramCarriesTheCommittedImage) {
  if (kCrossCompiling) GTEST_SKIP() << "source tree paths do not reach the Windows test run";
  const auto committed = ReadFile(kCommittedImage);
  ASSERT_EQ(committed.size(), kImageSize);
  EXPECT_TRUE(std::equal(committed.begin(), committed.end(), defaultImage.begin()));
}

TEST(ImageGeneratorTest, GeneratorRebuildsTheCommittedImage) {
  const std::string python = KT_PYTHON3;
  if (kCrossCompiling || python.empty()) GTEST_SKIP() << "no Python 3 to run the generator with";
  const std::string output = ::testing::TempDir() + "kt_regenerated_default_image.bin";
  const std::string command = "\"" + python + "\" \"" + KT_SOURCE_DIR +
                              "/tools/imagegen/make_default_image.py\" --output \"" + output + "\"";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const auto regenerated = ReadFile(output);
  std::remove(output.c_str());
  ASSERT_EQ(regenerated.size(), kImageSize);
  const auto committed = ReadFile(kCommittedImage);
  for (std::size_t i = 0; i < kImageSize; ++i) {
    ASSERT_EQ(regenerated[i], committed.at(i)) << "first difference at byte " << i;
  }
}

}  // namespace
}  // namespace kt
