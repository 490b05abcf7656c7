#include "hid/chip_registers.h"
#include "programming/programmer.h"

namespace kt {

namespace {

// The access sequence's answers mean nothing and its failures are not ours to judge; only the read
// after it counts. A detached worker (the dialog is going away) stops sending, so that Exit is not held
// up by a silent device for eight read time-outs.
template <typename Sequence>
void RunAccessSequence(HidLink& link, std::uint8_t& tag, const Sequence& sequence, std::uint8_t& scratch,
                       const std::function<bool()>& detached) {
  for (const std::uint16_t reg : sequence) {
    if (detached()) return;
    TransferRegister(link, &scratch, TransferDirection::kRead, reg, tag);
    tag = AdvanceRegisterTag(tag);
  }
}

}  // namespace

HResult Programmer::ReadChipId(std::uint8_t* destination) {
  if (destination == nullptr) return kEFail;
  std::uint8_t scratch = 0;
  sequenceTag = AdvanceRegisterTag(sequenceTag);
  RunAccessSequence(hidLink, sequenceTag, kChipIdAccessSequence, scratch, [this] { return Detached(); });
  if (Detached()) return kEFail;
  const bool read =
      TransferRegister(hidLink, &scratch, TransferDirection::kRead, kChipIdRegister, sequenceTag);
  sequenceTag = AdvanceRegisterTag(sequenceTag);
  if (!read) return kEFail;
  *destination = scratch;
  return kSOk;
}

HResult Programmer::ReadChipVersion(std::uint32_t* destination) {
  if (destination == nullptr) return kEFail;
  std::uint8_t scratch = 0;
  std::uint8_t low = 0;
  sequenceTag = AdvanceRegisterTag(sequenceTag);
  RunAccessSequence(hidLink, sequenceTag, kChipVersionAccessSequence, scratch, [this] { return Detached(); });
  if (Detached()) return kEFail;
  const bool highRead =
      TransferRegister(hidLink, &scratch, TransferDirection::kRead, kChipVersionHighRegister, sequenceTag);
  sequenceTag = AdvanceRegisterTag(sequenceTag);
  if (!highRead) return kEFail;
  // The tag stays where it is after the low byte: the header clear that follows goes out with it.
  if (!TransferRegister(hidLink, &low, TransferDirection::kRead, kChipVersionLowRegister, sequenceTag)) {
    return kEFail;
  }
  *destination = static_cast<std::uint32_t>(scratch) * 256u + low;
  return kSOk;
}

}  // namespace kt
