#include <algorithm>

#include "programming/job_messages.h"
#include "programming/programmer.h"

namespace kt {

namespace {

constexpr std::uint32_t kTransferPauseMs = 3;
constexpr std::uint8_t kHeaderLength = 8;
constexpr std::uint8_t kBodyBlockLength = 8;
constexpr std::uint8_t kFirstReadBackChunk = 16;
constexpr std::uint16_t kHeaderTailAddress = 5;
constexpr std::uint8_t kHeaderTailLength = 3;
constexpr std::uint8_t kHeaderHeadLength = 5;

// The body is written in whole blocks above the header and every byte lands inside the buffers; any
// other length would walk the source pointer out of the image.
bool ImageLengthUsable(std::uint16_t length) {
  return length >= kHeaderLength && length % kBodyBlockLength == 0 && length <= kImageBufferSize;
}

}  // namespace

HResult Programmer::TransferHeaderBlock(std::uint16_t address, TransferDirection direction,
                                        std::uint8_t length, std::uint8_t* data) {
  if (Stopping()) return kEFail;
  if (!TransferEepromBlock(hidLink, address, direction, length, data, sequenceTag)) return kEFail;
  sequenceTag = AdvanceBlockTag(sequenceTag);
  clock().Sleep(kTransferPauseMs);
  return kSOk;
}

HResult Programmer::ClearHeader() {
  std::uint8_t zeros[kHeaderLength] = {};
  return TransferHeaderBlock(0, TransferDirection::kWrite, kHeaderLength, zeros);
}

HResult Programmer::ReadHeader() {
  return TransferHeaderBlock(0, TransferDirection::kRead, kHeaderLength, image.readbackBuffer.data());
}

HResult Programmer::ReadHeaderTail() {
  return TransferHeaderBlock(kHeaderTailAddress, TransferDirection::kRead, kHeaderTailLength,
                             image.readbackBuffer.data() + kHeaderTailAddress);
}

HResult Programmer::ReadHeaderHead() {
  return TransferHeaderBlock(0, TransferDirection::kRead, kHeaderHeadLength, image.readbackBuffer.data());
}

HResult Programmer::WriteBody() {
  UiSetProgress(0);
  const std::uint16_t bodyLength = static_cast<std::uint16_t>(image.imageLength - kHeaderLength);
  std::uint16_t address = bodyLength;
  std::uint16_t remaining = bodyLength;
  std::uint32_t numerator = 0;
  bool failed = !ImageLengthUsable(image.imageLength);
  // Top-down, so that a job cut short leaves the low blocks (next to the still-cleared header) unwritten.
  while (!failed && remaining > 0) {
    if (Stopping() || !TransferEepromBlock(hidLink, address, TransferDirection::kWrite, kBodyBlockLength,
                                           image.imageBuffer.data() + address, sequenceTag)) {
      failed = true;
      break;
    }
    sequenceTag = AdvanceBlockTag(sequenceTag);
    address = static_cast<std::uint16_t>(address - kBodyBlockLength);
    remaining = static_cast<std::uint16_t>(remaining - kBodyBlockLength);
    numerator += 100u * kBodyBlockLength;
    UiSetProgress(static_cast<int>(numerator / bodyLength / 2));
    clock().Sleep(kTransferPauseMs);
  }
  if (failed) {
    UiMessageBox(job_text::kBodyWriteFailed, job_text::kBodyWriteCaption, MessageIcon::kError);
    return kEFail;
  }
  UiSetProgress(50);
  return kSOk;
}

HResult Programmer::ReadBackImage() {
  const std::uint16_t total = image.imageLength;
  std::uint16_t address = 0;
  std::uint8_t chunk = kFirstReadBackChunk;
  bool failed = !ImageLengthUsable(total);
  while (!failed) {
    if (Stopping() || !TransferEepromBlock(hidLink, address, TransferDirection::kRead, chunk,
                                           image.readbackBuffer.data() + address, sequenceTag)) {
      failed = true;
      break;
    }
    sequenceTag = AdvanceBlockTag(sequenceTag);
    address = static_cast<std::uint16_t>(address + chunk);
    const std::uint16_t done = address;
    UiSetProgress(static_cast<int>(100u * done / total / 2 + 50));
    chunk = static_cast<std::uint8_t>(std::min<int>(kBodyBlockLength, total - done));
    clock().Sleep(kTransferPauseMs);
    if (done >= total) break;
  }
  if (failed) {
    UiMessageBox(job_text::kReadBackFailed, job_text::kReadBackCaption, MessageIcon::kError);
    return kEFail;
  }
  UiSetProgress(100);
  return kSOk;
}

HResult Programmer::WriteHeader() {
  if (Stopping()) return kEFail;
  const std::uint8_t* source = image.imageBuffer.data();
  const std::uint8_t* readBack = image.readbackBuffer.data();
  // Two pieces, tail first, each read back before the next goes out: a header is never left half new
  // without the job knowing.
  std::uint8_t tail[kHeaderTailLength];
  std::copy_n(source + kHeaderTailAddress, kHeaderTailLength, tail);
  if (!TransferEepromBlock(hidLink, kHeaderTailAddress, TransferDirection::kWrite, kHeaderTailLength, tail,
                           sequenceTag)) {
    return kEFail;
  }
  sequenceTag = AdvanceBlockTag(sequenceTag);
  clock().Sleep(kTransferPauseMs);
  if (const HResult result = ReadHeaderTail(); result != kSOk) return result;
  if (!std::equal(source + kHeaderTailAddress, source + kHeaderLength, readBack + kHeaderTailAddress)) {
    return kEFail;
  }

  std::uint8_t head[kHeaderHeadLength];
  std::copy_n(source, kHeaderHeadLength, head);
  if (!TransferEepromBlock(hidLink, 0, TransferDirection::kWrite, kHeaderHeadLength, head, sequenceTag)) {
    return kEFail;
  }
  sequenceTag = AdvanceBlockTag(sequenceTag);
  clock().Sleep(kTransferPauseMs);
  if (const HResult result = ReadHeaderHead(); result != kSOk) return result;
  if (!std::equal(source, source + kHeaderHeadLength, readBack)) return kEFail;
  return kSOk;
}

}  // namespace kt
