#include <algorithm>

#include "hid/chip_registers.h"
#include "programming/job_messages.h"
#include "programming/programmer.h"

namespace kt {

namespace {

constexpr std::uint32_t kChipVersionMask = 0xFFF0;
constexpr std::uint32_t kExpectedChipVersion = 0x7380;
constexpr std::size_t kHeaderLength = 8;

}  // namespace

HResult Programmer::FailJob(int number) {
  lastJobResult.store(number, std::memory_order_release);
  ShowResult({ResultStep::kJob, number, JobFailureText(number)}, "", MessageIcon::kNone);
  SetFlag(jobFinished, 1);
  return kEFail;
}

int Programmer::IdentifyChip() {
  UiPhase("identify the chip");
  if (ReadChipId(&chipId) != kSOk) return job_failure::kChipIdRead;
  if (chipId != kExpectedChipId) return job_failure::kWrongChipId;
  if (ReadChipVersion(&chipVersion) != kSOk) return job_failure::kChipVersionRead;
  if ((chipVersion & kChipVersionMask) != kExpectedChipVersion) return job_failure::kWrongChipVersion;
  return 0;
}

HResult Programmer::RunWritePhase() {
  if (const int failure = IdentifyChip(); failure != 0) return FailJob(failure);
  UiPhase("clear the header");
  if (ClearHeader() != kSOk) return FailJob(job_failure::kHeaderClear);
  if (ReadHeader() != kSOk) return FailJob(job_failure::kClearedHeaderRead);
  const auto* header = image.readbackBuffer.data();
  if (std::any_of(header, header + kHeaderLength, [](std::uint8_t b) { return b != 0; })) {
    return FailJob(job_failure::kHeaderNotCleared);
  }
  UiPhase("write the body");
  if (WriteBody() != kSOk) return FailJob(job_failure::kBodyWrite);
  SetFlag(readBackPending, 1);
  return kSOk;
}

HResult Programmer::RunReadPhase(bool identifyOnly) {
  if (const int failure = IdentifyChip(); failure != 0) return FailJob(failure);
  if (!identifyOnly) {
    UiPhase("read the EEPROM");
    if (ReadBackImage() != kSOk) return FailJob(job_failure::kReadBack);
  }
  lastJobResult.store(0, std::memory_order_release);
  SetFlag(jobFinished, 1);
  return kSOk;
}

HResult Programmer::RunReadBackPhase() {
  UiPhase("read back");
  if (ReadBackImage() != kSOk) return FailJob(job_failure::kReadBack);
  SetFlag(verifyPending, 1);
  return kSOk;
}

HResult Programmer::RunVerifyPhase() {
  UiPhase("verify");
  const auto* source = image.imageBuffer.data();
  const auto* readBack = image.readbackBuffer.data();
  const std::size_t length = std::min<std::size_t>(image.imageLength, kImageBufferSize);
  // The read-back brought the cleared header along, so only the body can match yet.
  if (length > kHeaderLength &&
      !std::equal(source + kHeaderLength, source + length, readBack + kHeaderLength)) {
    return FailJob(job_failure::kBodyMismatch);
  }
  UiPhase("write the header");
  if (WriteHeader() != kSOk) return FailJob(job_failure::kHeaderWrite);
  if (ReadHeader() != kSOk) return FailJob(job_failure::kFinalHeaderRead);
  if (!std::equal(source, source + kHeaderLength, readBack)) return FailJob(job_failure::kHeaderMismatch);
  lastJobResult.store(0, std::memory_order_release);
  ShowResult({ResultStep::kJob, 0, job_text::kWriteOk}, "", MessageIcon::kNone);
  SetFlag(jobFinished, 1);
  return kSOk;
}

HResult Programmer::FinishJob() {
  SetFlag(jobFinished, 0);
  CloseLinkOnWorker();
  jobsEnded.fetch_add(1, std::memory_order_release);
  lastProgressSent_ = -1;
  // Before the button comes back: whatever the dialog queues for its thread here (a probe that waited for
  // the link) is then handled before the operator can start the next job.
  OnJobFinished();
  UiEnableWriteButton();
  return kSOk;
}

}  // namespace kt
