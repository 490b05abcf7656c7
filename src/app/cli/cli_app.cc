#include "app/cli/cli_app.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

#include "app/cli/command_line.h"
#include "app/cli/exit_status.h"
#include "app/cli/interface_listing.h"
#include "app/cli/interrupts.h"
#include "app/cli/job_wait.h"
#include "app/cli/replug_watch.h"
#include "app/cli/result_table.h"
#include "app/cli/station.h"
#include "app/cli/terminal.h"
#include "app/write_eeprom_dialog.h"
#include "base/atomic_file.h"
#include "base/clock.h"
#include "base/sha256.h"
#include "hid/hid_link.h"
#include "hid/report_trace.h"
#include "hid/sim/sim_board.h"
#include "hid/sim/sim_station.h"
#include "hid/single_device_backend.h"
#include "hid/tracing_backend.h"
#include "image/image_tags.h"
#include "image/job_image.h"
#include "programming/job_messages.h"

namespace kt {
namespace {

constexpr char kProgramName[] = "kt7310-eeprom";

int UsageError(ConsoleIo& io, const std::string& error) {
  io.err << kProgramName << ": " << error << "\nTry '" << kProgramName << " --help'.\n";
  return kExitUsage;
}

// One run of a command over the dialog, from the image check to the final result object.
class CliRun {
 public:
  CliRun(const CliOptions& options, ConsoleIo& io, CliOutput& output, CliHooks& hooks)
      : options_(options),
        io_(io),
        output_(output),
        hooks_(hooks),
        started_(SystemClock().NowMicros()),
        virtualClock_(hooks.virtualWaitBoundMs) {
    result_.command = CommandName(options.command);
    result_.simulated = options.simulate;
  }

  int Run();

 private:
  bool WritesToStdout() const { return options_.outputFile && *options_.outputFile == "-"; }
  bool UsesImage() const {
    return options_.command == CliCommand::kWrite || options_.command == CliCommand::kVerify ||
           options_.command == CliCommand::kInfo || options_.command == CliCommand::kStation;
  }
  bool LoadImage();
  bool OpenBackend();
  int Finish(int status);
  int RunDialog();
  int RunStationCommand();
  bool ChooseDevice();
  void NameOtherCandidates();
  void ReportOpenedDevice(CKT701xWriteEepromMPDlg& dialog);
  int AfterReadJob(CKT701xWriteEepromMPDlg& dialog);
  int SaveRead(const JobImage& read);
  int CompareWithImage(const JobImage& read);
  int ShowInfo(CKT701xWriteEepromMPDlg& dialog);
  std::int64_t ElapsedMs() const {
    return static_cast<std::int64_t>((SystemClock().NowMicros() - started_) / 1000);
  }

  const CliOptions& options_;
  ConsoleIo& io_;
  CliOutput& output_;
  CliHooks& hooks_;
  std::uint64_t started_;
  RunResult result_;

  // The image as the job holds it (after --evb-ids): what write programs and verify compares with.
  std::shared_ptr<const ImageBytes> imageSource_;
  JobImage image_;

  VirtualClock virtualClock_;
  Clock* clock_ = &SystemClock();
  std::unique_ptr<ReportTrace> trace_;
  std::unique_ptr<ReplugWatch> watch_;
  std::unique_ptr<SingleDeviceBackend> single_;
  HidBackend* jobBackend_ = nullptr;

  std::optional<UsbIds> deviceIds_;  // --device: the interface's own IDs

  std::atomic<bool> interrupted_{false};
  bool stopped_ = false;  // the interrupt's stop has run on the window's thread
  bool replugTimedOut_ = false;
};

bool CliRun::LoadImage() {
  if (options_.imageFile) {
    std::string why;
    imageSource_ = LoadImageFile(*options_.imageFile, options_.useEvbIds, why);
    if (!imageSource_) {
      output_.Box(prep_text::kInvalidImage, "", MessageIcon::kNone);
      output_.Error("invalid image: " + why);
      result_.text = prep_text::kInvalidImage;
      result_.stage = "image";
      return false;
    }
  }
  LoadJobImage(image_, options_.useEvbIds, {}, imageSource_.get());
  ScanImageTags(image_);
  result_.imageSha256 = Sha256Hex(image_.imageBuffer.data(), kImageSize);
  output_.Note("image " + (options_.imageFile ? *options_.imageFile : std::string("(built-in)")) +
               (options_.useEvbIds ? " with the EVB IDs" : "") + ", SHA-256 " + result_.imageSha256);
  return true;
}

bool CliRun::OpenBackend() {
  if (options_.simulate && options_.sim.virtualTime) clock_ = &virtualClock_;
  std::string error;
  if (options_.traceFile) {
    trace_ = ReportTrace::OpenFile(*options_.traceFile, *clock_, error);
    if (!trace_) {
      output_.Error("--trace " + *options_.traceFile + ": " + error);
      return false;
    }
  }
  std::unique_ptr<HidBackend> backend;
  if (hooks_.backend) {
    backend = std::move(hooks_.backend);
  } else if (options_.simulate && (options_.command == CliCommand::kStation || options_.sim.boards > 1)) {
    auto station = std::make_unique<SimStationBackend>(options_.sim, *clock_, trace_.get());
    if (!station->loadError().empty()) {
      output_.Error("--simulate: " + station->loadError());
      return false;
    }
    backend = std::move(station);
  } else if (options_.simulate) {
    auto sim = std::make_unique<SimBackend>(options_.sim, *clock_, trace_.get());
    if (!sim->loadError().empty()) {
      output_.Error("--simulate: " + sim->loadError());
      return false;
    }
    backend = std::move(sim);
  } else {
    backend = CreatePlatformHidBackend();
  }
  if (trace_) backend = std::make_unique<TracingBackend>(std::move(backend), *trace_);
  if (hooks_.wrapBackend) backend = hooks_.wrapBackend(std::move(backend));
  watch_ = std::make_unique<ReplugWatch>(std::move(backend));
  jobBackend_ = watch_.get();
  return true;
}

int CliRun::Finish(int status) {
  result_.exitStatus = status;
  result_.ms = ElapsedMs();
  output_.Result(result_);
  return status;
}

int CliRun::Run() {
  // Never mistaken for a real board, whatever else is asked to be quiet.
  if (options_.simulate) output_.Error("simulated board: no real board is touched");
  if (UsesImage() && !LoadImage()) return Finish(kExitInvalidImage);
  // Where the bytes will go is settled before the board is read for them.
  std::string why;
  if (options_.outputFile && !WritesToStdout() && !CheckReplaceableFile(*options_.outputFile, why)) {
    output_.Error("--output " + why);
    return Finish(kExitUsage);
  }
  if (!OpenBackend()) return Finish(kExitUsage);
  if (options_.command == CliCommand::kList) {
    return Finish(ListHidInterfaces(*jobBackend_, io_.out) > 0 ? kExitOk : kExitNothingFound);
  }
  if (options_.command == CliCommand::kStation) return RunStationCommand();
  if (options_.devicePath && !ChooseDevice()) return Finish(kExitNotFoundPresent);
  return Finish(RunDialog());
}

int CliRun::RunStationCommand() {
  std::unique_ptr<DurableAppendFile> record;
  if (options_.recordFile) {
    std::string error;
    record = DurableAppendFile::Open(*options_.recordFile, error);
    if (!record) {
      output_.Error("--record " + error);
      return kExitUsage;
    }
  }
  StationSetup setup;
  setup.options = &options_;
  setup.backend = jobBackend_;
  setup.clock = clock_;
  setup.image = imageSource_;
  setup.imageSha256 = result_.imageSha256;
  setup.record = record.get();
  setup.quietBoundMs = hooks_.quietBoundMs;
  // Before the station starts its threads; a Ctrl-C before it takes the callback is handed to it then.
  InterruptWatch interrupts;
  setup.takeInterrupt = [&](std::function<void()> fn) {
    interrupts.Route(fn);
    if (hooks_.takeInterrupt) hooks_.takeInterrupt(fn);
  };
  return RunStation(setup, io_, output_);
}

// --device: the job sees only that interface, and its typed IDs are the interface's own, so the first
// search opens it. An interface that cannot be opened ends the run before any report is sent.
bool CliRun::ChooseDevice() {
  const std::string& path = *options_.devicePath;
  const std::unique_ptr<HidDeviceHandle> handle = jobBackend_->Open(path, HidOpenMode::kPlain);
  HidAttributes attributes;
  if (!handle || !handle->GetAttributes(attributes)) {
    output_.Box(prep_text::kNotFoundPresent, prep_text::kNotFoundCaption, MessageIcon::kError);
    output_.Error("--device " + path + ": no HID interface there can be opened");
    result_.text = prep_text::kNotFoundPresent;
    result_.result = -2;
    result_.stage = "find";
    return false;
  }
  single_ = std::make_unique<SingleDeviceBackend>(*jobBackend_, path);
  jobBackend_ = single_.get();
  deviceIds_ = {attributes.vendorId, attributes.productId};
  return true;
}

// Several boards at the job's IDs: the job takes the one the search finds first, which may not be the one
// the operator means.
void CliRun::NameOtherCandidates() {
  std::vector<std::string> found;
  const std::unique_ptr<HidInterfaceList> list = jobBackend_->ListInterfaces();
  for (std::uint32_t index = 0; list && index < kMaxHidInterfaces; ++index) {
    std::string path;
    const HidEnumStep step = list->Next(index, path);
    if (step == HidEnumStep::kEnd) break;
    if (step == HidEnumStep::kSkip) continue;
    const std::unique_ptr<HidDeviceHandle> handle = jobBackend_->Open(path, HidOpenMode::kPlain);
    HidAttributes ids;
    if (!handle || !handle->GetAttributes(ids)) continue;
    bool candidate = options_.vendorIdText && options_.productIdText &&
                     ids.vendorId == ParseHexField(*options_.vendorIdText) &&
                     ids.productId == ParseHexField(*options_.productIdText);
    for (const UsbIds& row : fallbackTargets) {
      candidate = candidate || (ids.vendorId == row.vendorId && ids.productId == row.productId);
    }
    if (candidate) found.push_back(path + " (" + Hex4(ids.vendorId) + ":" + Hex4(ids.productId) + ")");
  }
  if (found.size() < 2) return;
  std::string text = std::to_string(found.size()) + " HID interfaces answer at the job's IDs:";
  for (const std::string& one : found) text += " " + one;
  output_.Error(text + "; the job takes the first its ID order finds (choose one with --device PATH)");
}

void CliRun::ReportOpenedDevice(CKT701xWriteEepromMPDlg& dialog) {
  if (dialog.targetVendorId == 0xFFFF && dialog.targetProductId == 0xFFFF) return;
  const HidLink& link = dialog.hidLink;
  OpenedDevice device;
  device.path = link.openedPath;
  device.vendorId = dialog.targetVendorId;
  device.productId = dialog.targetProductId;
  device.inputLength = link.inputReportLength;
  device.outputLength = link.outputReportLength;
  device.reportId = link.reportId;
  device.chosenByPath = options_.devicePath.has_value();
  const std::uint16_t typedVendor = ParseHexField(options_.vendorIdText.value_or(kDefaultVendorIdText));
  const std::uint16_t typedProduct = ParseHexField(options_.productIdText.value_or(kDefaultProductIdText));
  if (!deviceIds_ && (typedVendor != device.vendorId || typedProduct != device.productId)) {
    device.typedIdsMissed = std::make_pair(typedVendor, typedProduct);
  }
  output_.Device(device, options_.simulate);
}

int CliRun::RunDialog() {
  // Before the dialog starts its worker thread: the worker must not be the thread a Ctrl-C lands on.
  InterruptWatch interrupts;
  const bool waitForEnter = !options_.yes && io_.inIsTerminal && !options_.json;
  ConsoleWindow window(io_, output_, waitForEnter);
  CKT701xWriteEepromMPDlg dialog(window, *jobBackend_, *clock_);
  if (options_.verbose) {
    dialog.SetPhaseObserver([this](const char* phase) { output_.Phase(phase, ElapsedMs()); });
  }
  dialog.SetWorkerStuckHandler([this] {
    output_.Error(kWorkerStuckText);
    Finish(kWorkerStuckExitStatus);
    io_.out.flush();
    io_.err.flush();
  });
  // Ctrl-C and SIGTERM stop the job as Exit does; the stop itself runs on the window's thread, once a
  // re-plug prompt it may be waiting at has been ended.
  const auto interrupt = [this, &window, &dialog] {
    if (interrupted_.exchange(true)) return;
    watch_->Cancel();
    if (io_.prompt != nullptr) io_.prompt->Cancel();
    window.PostToWindowThread([this, &dialog] {
      output_.Error("interrupted: stopping the job");
      dialog.OnExit();
      stopped_ = true;
    });
  };
  interrupts.Route(interrupt);
  // Taken back before the dialog and the window go: no interrupt reaches them while they are destroyed.
  const struct Unroute {
    InterruptWatch& watch;
    ~Unroute() { watch.Route(nullptr); }
  } unroute{interrupts};
  if (hooks_.takeInterrupt) hooks_.takeInterrupt(interrupt);

  if (options_.verbose) output_.Phase("look for a blank board", ElapsedMs());
  dialog.OnInitDialog();
  if (deviceIds_) {
    window.SetItemText(ctl::kVendorId, Hex4(deviceIds_->vendorId));
    window.SetItemText(ctl::kProductId, Hex4(deviceIds_->productId));
  } else {
    if (options_.vendorIdText) window.SetItemText(ctl::kVendorId, *options_.vendorIdText);
    if (options_.productIdText) window.SetItemText(ctl::kProductId, *options_.productIdText);
    if (options_.command != CliCommand::kProbe) NameOtherCandidates();
  }
  if (options_.useEvbIds) window.SetCheck(ctl::kUseEvbIds, true);
  dialog.SetImageSource(imageSource_);
  // At a terminal the operator's Enter ends the re-plug box; an interrupt there starts no job.
  if (waitForEnter) dialog.SetReplugWait([this] { return !interrupted_; });
  // Nobody at a terminal to press Enter: the re-plug box waits for the board itself to leave and return.
  if (!waitForEnter) {
    dialog.SetReplugWait([&] {
      if (interrupted_) return false;
      if (!watch_->ReportsDeviceChanges()) {
        // Nothing would tell the wait that the board came back (no udev to listen to, or Windows refused
        // the notification window's registration): go on after the box, as before.
        output_.Note(
            "device changes are not reported here; going on without waiting for the board to come back");
        return true;
      }
      const std::uint32_t seconds = options_.replugTimeoutSeconds;
      const auto present = [&] {
        HidLink link;
        CreateHidLink(link, *jobBackend_, *clock_);
        bool found = OpenHidLink(link, ParseHexField(window.GetItemText(ctl::kVendorId)),
                                 ParseHexField(window.GetItemText(ctl::kProductId)));
        for (const UsbIds& ids : fallbackTargets) {
          if (!found) found = OpenHidLink(link, ids.vendorId, ids.productId);
        }
        DestroyHidLink(link);
        return found;
      };
      if (watch_->WaitForReplug(*clock_, seconds * 1000, present)) return true;
      if (interrupted_) return false;
      replugTimedOut_ = true;
      output_.Error("the board did not leave and come back within " + std::to_string(seconds) +
                    " s (waited for a device removal, then an arrival of a board at the job's IDs)");
      return false;
    });
  }

  int status = kExitOk;
  bool jobRan = false;
  const RunKind kind = options_.command == CliCommand::kErase ? RunKind::kErase : RunKind::kWrite;
  switch (options_.command) {
    case CliCommand::kProbe:
      if (dialog.probeDeviceAbsent == 0) {
        output_.Line("probe", "A blank board answers (vendor 0x3B7D, product 0x72F7 or 0x72F8).",
                     {{"found", true}});
      } else {
        output_.Line("probe", "No blank board answers (vendor 0x3B7D, product 0x72F7 or 0x72F8).",
                     {{"found", false}});
        status = kExitNothingFound;
      }
      break;
    case CliCommand::kErase:
      dialog.OnCommand(ctl::kEraseEeprom);
      break;
    case CliCommand::kWrite:
      watch_->Mark();
      dialog.OnCommand(ctl::kWriteEeprom);
      jobRan = true;
      break;
    default:
      dialog.OnReadEeprom(options_.command == CliCommand::kInfo);
      jobRan = true;
      break;
  }
  bool gaveUp = false;
  if (jobRan) {
    if (!window.IsEnabled(ctl::kWriteEeprom)) ReportOpenedDevice(dialog);
    // Until the job hands the button back or an interrupt has stopped it.
    gaveUp = !PumpWhileTheJobLives(
        window, hooks_.quietBoundMs, [&window] { return window.Activity(); },
        [&] { return stopped_ || window.IsEnabled(ctl::kWriteEeprom); });
  }
  // Let a pending interrupt's stop run before the verdict.
  window.PumpMessagesUntil(SystemClock(), 0, [] { return true; });

  const std::optional<std::size_t> deciding = DecidingMessage(window.Messages(), kind);
  if (deciding) {
    result_.text = window.Messages()[*deciding];
    result_.stage = result_.text.starts_with("Write to EEPROM") ? "job" : "prepare";
  }
  if (dialog.chipId != 0 || dialog.chipVersion != 0) {
    result_.chipId = dialog.chipId;
    result_.chipVersion = dialog.chipVersion;
  }
  const std::int32_t jobResult = dialog.lastJobResult.load(std::memory_order_acquire);
  if (jobResult != Programmer::kNoJobResult) result_.result = jobResult;

  if (gaveUp) {
    output_.Error("the job gave no sign of life for " +
                  std::to_string(hooks_.quietBoundMs / 1000.0).substr(0, 5) + " s; giving up on it");
    if (hooks_.onGiveUp) hooks_.onGiveUp();
    status = kExitNoResult;
  } else if (interrupted_) {
    status = kExitInterrupted;
  } else if (replugTimedOut_) {
    status = kExitReplugTimeout;
  } else if (options_.command == CliCommand::kWrite || options_.command == CliCommand::kErase) {
    status = ExitStatusForRun(window.Messages(), kind);
  } else if (options_.command != CliCommand::kProbe) {
    status = deciding         ? ExitStatusForRun(window.Messages(), kind)
             : jobResult == 0 ? AfterReadJob(dialog)
                              : kExitNoResult;
  }
  dialog.OnCommand(kIdOk);
  dialog.DestroyWindow();
  return status;
}

int CliRun::AfterReadJob(CKT701xWriteEepromMPDlg& dialog) {
  switch (options_.command) {
    case CliCommand::kRead:
      return SaveRead(dialog.image);
    case CliCommand::kVerify:
      return CompareWithImage(dialog.image);
    default:
      return ShowInfo(dialog);
  }
}

int CliRun::SaveRead(const JobImage& read) {
  std::string error;
  const std::string sha256 = Sha256Hex(read.readbackBuffer.data(), kProgrammedLength);
  if (WritesToStdout()) {
    SetStdoutBinary();
    io_.out.write(reinterpret_cast<const char*>(read.readbackBuffer.data()), kProgrammedLength);
    io_.out.flush();
    // Standard output carries the bytes; the result line goes beside them.
    output_.Error("read: " + std::to_string(kProgrammedLength) +
                  " bytes written to standard output, SHA-256 " + sha256);
    return io_.out ? kExitOk : kExitOutputLost;
  }
  if (!WriteFileAtomically(*options_.outputFile, read.readbackBuffer.data(), kProgrammedLength, error)) {
    output_.Error("--output " + error);
    return kExitUsage;
  }
  output_.Line("read",
               "read: " + std::to_string(kProgrammedLength) + " bytes written to " + *options_.outputFile +
                   ", SHA-256 " + sha256,
               {{"bytes", kProgrammedLength}, {"file", *options_.outputFile}, {"sha256", sha256}});
  return kExitOk;
}

int CliRun::CompareWithImage(const JobImage& read) {
  std::size_t differ = 0;
  std::size_t first = 0;
  for (std::size_t i = 0; i < kProgrammedLength; ++i) {
    if (read.readbackBuffer[i] == image_.imageBuffer[i]) continue;
    if (differ++ == 0) first = i;
  }
  if (differ == 0) {
    output_.Line("verify", "verify: all " + std::to_string(kProgrammedLength) + " bytes match the image",
                 {{"bytes_differ", 0}});
    return kExitOk;
  }
  char text[128];
  std::snprintf(text, sizeof(text), "verify: %zu bytes differ, first at 0x%04zX (board 0x%02X, image 0x%02X)",
                differ, first, static_cast<unsigned>(read.readbackBuffer[first]),
                static_cast<unsigned>(image_.imageBuffer[first]));
  output_.Line("verify", text,
               {{"bytes_differ", differ},
                {"first_address", HexWord(static_cast<std::uint32_t>(first))},
                {"board_byte", HexByte(read.readbackBuffer[first])},
                {"image_byte", HexByte(image_.imageBuffer[first])}});
  return kExitVerifyMismatch;
}

int CliRun::ShowInfo(CKT701xWriteEepromMPDlg& dialog) {
  const HidLink& link = dialog.hidLink;
  output_.Line("info",
               "device: " + link.openedPath + " " + Hex4(dialog.targetVendorId) + ":" +
                   Hex4(dialog.targetProductId) + ", input report " + std::to_string(link.inputReportLength) +
                   " bytes, output report " + std::to_string(link.outputReportLength) + " bytes, report ID " +
                   std::to_string(link.reportId),
               {{"path", link.openedPath},
                {"vendor_id", Hex4(dialog.targetVendorId)},
                {"product_id", Hex4(dialog.targetProductId)},
                {"input_length", link.inputReportLength},
                {"output_length", link.outputReportLength},
                {"report_id", link.reportId}});
  output_.Line("info", "chip ID: " + HexByte(dialog.chipId), {{"chip_id", HexByte(dialog.chipId)}});
  output_.Line("info", "chip version: " + HexWord(dialog.chipVersion),
               {{"chip_version", HexWord(dialog.chipVersion)}});
  const std::string expected = kExpectedFirmwareVersionText;
  std::string text;
  nlohmann::json fields{{"expected_firmware", expected}};
  if (image_.firmwareInfoFound == 0) {
    text = "image firmware: none (no \"KTFwLTag\" record), expected " + expected +
           "; the window marks this image with \".\"";
    fields["image_firmware"] = nullptr;
  } else {
    const std::string version = Hex4(image_.firmwareVersion);
    fields["image_firmware"] = version;
    text = version == expected ? "image firmware " + version + ", as expected"
                               : "image firmware " + version + ", expected " + expected +
                                     "; the window marks this image with \".\" (it is still programmed)";
  }
  output_.Line("info", text, fields);
  return kExitOk;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, ConsoleIo& io, CliHooks hooks) {
  CliOptions options;
  std::string error;
  if (!ParseCommandLine(args, options, error)) {
    UsageError(io, error);
    if (args.empty()) io.err << "\n" << UsageText();
    return kExitUsage;
  }
  if (options.help) {
    io.out << UsageText();
    return kExitOk;
  }
  if (options.version) {
    io.out << kProgramName << " " << KT_VERSION << "\n";
    return kExitOk;
  }
  const Verbosity verbosity =
      options.quiet ? Verbosity::kQuiet : (options.verbose ? Verbosity::kVerbose : Verbosity::kNormal);
  CliOutput output(io.out, io.err, io.errIsTerminal, options.json, verbosity);
  CliRun run(options, io, output, hooks);
  int status = options.command == CliCommand::kExplain ? RunExplain(options, io.out) : run.Run();
  // The result was for someone: output that did not reach them is not a success, whatever the board did.
  io.out.flush();
  if (!io.out) {
    io.err << kProgramName << ": standard output could not be written; its results are lost\n" << std::flush;
    if (status == kExitOk) status = kExitOutputLost;
  }
  return status;
}

int RunCli(const std::vector<std::string>& args, ConsoleIo& io) {
  return RunCli(args, io, CliHooks{});
}

}  // namespace kt
