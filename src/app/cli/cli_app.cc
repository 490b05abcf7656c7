#include "app/cli/cli_app.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

#include "app/cli/command_line.h"
#include "app/cli/exit_status.h"
#include "app/cli/interface_listing.h"
#include "app/cli/interrupts.h"
#include "app/cli/job_driver.h"
#include "app/cli/replug_watch.h"
#include "app/cli/result_table.h"
#include "app/cli/station.h"
#include "app/cli/terminal.h"
#include "app/write_eeprom_dialog.h"
#include "base/atomic_file.h"
#include "base/clock.h"
#include "base/sha256.h"
#include "hid/hid_link.h"
#include "hid/port_backend.h"
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

// Whether --device names an interface by its path (as the platform's search gives it) rather than a port.
bool LooksLikeInterfacePath(const std::string& text) {
  return text.starts_with("/") || text.starts_with("\\") || text.starts_with("sim:");
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
  int Fail(int status, const std::string& stage, const std::string& text);
  int RunBoardCommand();
  int RunJob();
  int RunStationCommand();
  int ListInterfaces();
  bool ChooseDevice();
  bool WaitForBoard();
  std::vector<UsbIds> JobIds() const;
  void NameOtherCandidates();
  OpenedDevice OpenedDeviceOf(const CKT701xWriteEepromMPDlg& dialog);
  void ReportOpenedDevice(CKT701xWriteEepromMPDlg& dialog);
  void Interrupt();
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
  JobOutcome result_;

  // The image as the job holds it (after --evb-ids): what write programs and verify compares with.
  std::shared_ptr<const ImageBytes> imageSource_;
  JobImage image_;

  VirtualClock virtualClock_;
  Clock* clock_ = &SystemClock();
  std::unique_ptr<ReportTrace> trace_;
  // --device PORT: the whole backend, and the port's view of it that the watch wraps.
  std::unique_ptr<HidBackend> shared_;
  std::unique_ptr<DeviceChangeHub> hub_;
  std::unique_ptr<ReplugWatch> watch_;
  std::unique_ptr<SingleDeviceBackend> single_;
  HidBackend* jobBackend_ = nullptr;

  std::optional<UsbIds> deviceIds_;  // --device PATH: the interface's own IDs
  std::string port_;                 // --device PORT

  std::atomic<bool> interrupted_{false};
  std::mutex driverMutex_;
  JobDriver* driver_ = nullptr;  // while the job runs
};

bool CliRun::LoadImage() {
  if (options_.imageFile) {
    std::string why;
    imageSource_ = LoadImageFile(*options_.imageFile, options_.useEvbIds, why);
    if (!imageSource_) {
      output_.Box(prep_text::kInvalidImage, "", MessageIcon::kNone);
      output_.Error("invalid image: " + why);
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
  if (options_.devicePath && !LooksLikeInterfacePath(*options_.devicePath)) {
    // A port: the job sees whatever board is there, under whatever path it has after a re-plug.
    port_ = *options_.devicePath;
    shared_ = std::move(backend);
    hub_ = std::make_unique<DeviceChangeHub>(*shared_);
    backend = std::make_unique<PortBackend>(*shared_, *hub_, port_);
  }
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

int CliRun::Fail(int status, const std::string& stage, const std::string& text) {
  result_.stage = stage;
  result_.text = text;
  return Finish(status);
}

int CliRun::Run() {
  // Never mistaken for a real board, whatever else is asked to be quiet.
  if (options_.simulate) output_.Error("simulated board: no real board is touched");
  if (UsesImage() && !LoadImage()) return Fail(kExitInvalidImage, "image", prep_text::kInvalidImage);
  // Where the bytes will go is settled before the board is read for them.
  std::string why;
  if (options_.outputFile && !WritesToStdout() && !CheckReplaceableFile(*options_.outputFile, why)) {
    output_.Error("--output " + why);
    return Fail(kExitUsage, "usage", "--output " + why);
  }
  if (!OpenBackend()) return Fail(kExitUsage, "usage", "the HID backend could not be set up");
  if (options_.command == CliCommand::kList) return ListInterfaces();
  if (options_.command == CliCommand::kStation) return RunStationCommand();
  return RunBoardCommand();
}

int CliRun::ListInterfaces() {
  const int listed = ListHidInterfaces(*jobBackend_, output_);
  result_.stage = "list";
  result_.text = std::to_string(listed) + " HID interfaces";
  return Finish(listed > 0 ? kExitOk : kExitNothingFound);
}

int CliRun::RunStationCommand() {
  std::unique_ptr<DurableAppendFile> record;
  if (options_.recordFile) {
    std::string error;
    record = DurableAppendFile::Open(*options_.recordFile, error);
    if (!record) {
      output_.Error("--record " + error);
      return Fail(kExitUsage, "usage", "--record " + error);
    }
  }
  StationSetup setup;
  setup.options = &options_;
  setup.backend = jobBackend_;
  setup.clock = clock_;
  setup.image = imageSource_;
  setup.imageSha256 = result_.imageSha256;
  setup.record = record.get();
  if (image_.firmwareInfoFound != 0) setup.imageFirmware = image_.firmwareVersion;
  setup.view = hooks_.stationView;
  setup.quietBoundMs = hooks_.quietBoundMs;
  // Before the station starts its threads; a Ctrl-C before it takes the callback is handed to it then.
  InterruptWatch interrupts;
  setup.takeInterrupt = [&](std::function<void()> fn) {
    if (fn && hooks_.onSignal) {
      interrupts.Route([fn, signal = hooks_.onSignal] {
        signal();
        fn();
      });
    } else {
      interrupts.Route(fn);
    }
    if (hooks_.takeInterrupt) hooks_.takeInterrupt(fn);
  };
  return RunStation(setup, io_, output_);
}

// Ctrl-C and SIGTERM: a wait for the board ends, a job stops as Exit stops it (the stop itself runs on the
// window's thread, once a re-plug prompt it may be waiting at has been ended).
void CliRun::Interrupt() {
  if (interrupted_.exchange(true)) return;
  watch_->Cancel();
  if (io_.prompt != nullptr) io_.prompt->Cancel();
  std::lock_guard<std::mutex> lock(driverMutex_);
  if (driver_ != nullptr) driver_->Stop([this] { output_.Error("interrupted: stopping the job"); });
}

int CliRun::RunBoardCommand() {
  // Before the dialog starts its worker thread: the worker must not be the thread a Ctrl-C lands on.
  InterruptWatch interrupts;
  interrupts.Route([this] { Interrupt(); });
  // Taken back before this run's objects go: no interrupt reaches them while they are destroyed.
  const struct Unroute {
    InterruptWatch& watch;
    ~Unroute() { watch.Route(nullptr); }
  } unroute{interrupts};
  if (hooks_.takeInterrupt) hooks_.takeInterrupt([this] { Interrupt(); });

  if (options_.waitSeconds && !WaitForBoard()) {
    if (interrupted_) return Fail(kExitInterrupted, "stopped", "stopped while waiting for a board");
  }
  if (options_.devicePath && port_.empty() && !ChooseDevice()) return Finish(kExitNotFoundPresent);
  return Finish(RunJob());
}

// The IDs the job searches, in its order: the typed ones (or the interface's own), then the fallback list.
std::vector<UsbIds> CliRun::JobIds() const {
  std::vector<UsbIds> ids;
  if (deviceIds_) {
    ids.push_back(*deviceIds_);
  } else {
    ids.push_back({ParseHexField(options_.vendorIdText.value_or(kDefaultVendorIdText)),
                   ParseHexField(options_.productIdText.value_or(kDefaultProductIdText))});
    if (options_.useEvbIds) ids.insert(ids.end(), evbTargets.begin(), evbTargets.end());
  }
  ids.insert(ids.end(), fallbackTargets.begin(), fallbackTargets.end());
  return ids;
}

// --wait: until a board answers (at the path with --device PATH, else at the job's IDs), at most the
// seconds given. True when one does; the job then starts either way and tells what it finds.
bool CliRun::WaitForBoard() {
  const std::uint32_t seconds = *options_.waitSeconds;
  const bool byPath = options_.devicePath && port_.empty();
  const auto present = [&] {
    if (byPath) return jobBackend_->Open(*options_.devicePath, HidOpenMode::kPlain) != nullptr;
    return BoardAnswersAt(*jobBackend_, *clock_, JobIds());
  };
  if (present()) return true;
  if (!watch_->ReportsDeviceChanges()) {
    output_.Note("device changes are not reported here; --wait looked once and found no board");
    return false;
  }
  output_.Note("no board yet: waiting at most " + std::to_string(seconds) + " s for one (--wait)");
  if (watch_->WaitForArrival(*clock_, seconds * 1000, present)) return true;
  if (!interrupted_) output_.Error("no board answered within " + std::to_string(seconds) + " s (--wait)");
  return false;
}

// --device PATH: the job sees only that interface, and its typed IDs are the interface's own, so the first
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
  deviceIds_ = UsbIds{attributes.vendorId, attributes.productId};
  return true;
}

// Several boards at the job's IDs: the job takes the one the search finds first, which may not be the one
// the operator means.
void CliRun::NameOtherCandidates() {
  const std::vector<UsbIds> ids = JobIds();
  std::vector<std::string> found;
  const std::unique_ptr<HidInterfaceList> list = jobBackend_->ListInterfaces();
  for (std::uint32_t index = 0; list && index < kMaxHidInterfaces; ++index) {
    std::string path;
    const HidEnumStep step = list->Next(index, path);
    if (step == HidEnumStep::kEnd) break;
    if (step == HidEnumStep::kSkip) continue;
    const std::unique_ptr<HidDeviceHandle> handle = jobBackend_->Open(path, HidOpenMode::kPlain);
    HidAttributes attributes;
    if (!handle || !handle->GetAttributes(attributes)) continue;
    const bool candidate = std::any_of(ids.begin(), ids.end(), [&](const UsbIds& one) {
      return one.vendorId == attributes.vendorId && one.productId == attributes.productId;
    });
    if (candidate) {
      found.push_back(path + " (" + Hex4(attributes.vendorId) + ":" + Hex4(attributes.productId) + ")");
    }
  }
  if (found.size() < 2) return;
  std::string text = std::to_string(found.size()) + " HID interfaces answer at the job's IDs:";
  for (const std::string& one : found) text += " " + one;
  output_.Error(text +
                "; the job takes the first its ID order finds (choose one with --device PATH or PORT)");
}

OpenedDevice CliRun::OpenedDeviceOf(const CKT701xWriteEepromMPDlg& dialog) {
  const HidLink& link = dialog.hidLink;
  OpenedDevice device;
  device.path = link.openedPath;
  device.port = jobBackend_->PortOf(link.openedPath);
  device.vendorId = dialog.targetVendorId;
  device.productId = dialog.targetProductId;
  device.inputLength = link.inputReportLength;
  device.outputLength = link.outputReportLength;
  device.reportId = link.reportId;
  return device;
}

void CliRun::ReportOpenedDevice(CKT701xWriteEepromMPDlg& dialog) {
  if (dialog.targetVendorId == 0xFFFF && dialog.targetProductId == 0xFFFF) return;
  OpenedDevice device = OpenedDeviceOf(dialog);
  device.chosenByPath = deviceIds_.has_value();
  const UsbIds typed = JobIds().front();
  if (!deviceIds_ && (typed.vendorId != device.vendorId || typed.productId != device.productId)) {
    device.typedIdsMissed = std::make_pair(typed.vendorId, typed.productId);
  }
  output_.Device(device, options_.simulate);
  // The dialog's rule: the fallback list is searched after the typed IDs, so another board may be the one
  // written. Typed IDs that found nothing are worth a word even with --quiet.
  if (device.typedIdsMissed && (options_.vendorIdText || options_.productIdText)) {
    output_.Error("no board answers at the typed " + Hex4(typed.vendorId) + ":" + Hex4(typed.productId) +
                  "; the job took " + Hex4(device.vendorId) + ":" + Hex4(device.productId) +
                  " from the fallback list");
  }
}

int CliRun::RunJob() {
  const bool waitForEnter = !options_.yes && io_.inIsTerminal && !options_.json;
  ConsoleWindow window(io_, output_, waitForEnter);
  JobDriver driver(
      window, [&window] { return window.Activity(); }, *jobBackend_, *watch_, *clock_);
  CKT701xWriteEepromMPDlg& dialog = driver.dialog();
  if (options_.verbose) {
    dialog.SetPhaseObserver([this](const char* phase) { output_.Phase(phase, ElapsedMs()); });
  }
  dialog.SetWorkerStuckHandler([this] {
    output_.Error(kWorkerStuckText);
    Fail(kWorkerStuckExitStatus, "stuck", kWorkerStuckText);
    io_.out.flush();
    io_.err.flush();
  });
  {
    std::lock_guard<std::mutex> lock(driverMutex_);
    driver_ = &driver;
    if (interrupted_) driver.Stop();
  }
  // Taken back before the driver goes.
  const struct Forget {
    CliRun& run;
    ~Forget() {
      std::lock_guard<std::mutex> lock(run.driverMutex_);
      run.driver_ = nullptr;
    }
  } forget{*this};

  if (waitForEnter) {
    // At a terminal the operator's Enter ends the re-plug box; an interrupt there starts no job.
    dialog.SetReplugWait([this] { return !interrupted_; });
  } else {
    // Nobody at a terminal to press Enter: the re-plug box waits for the board itself to leave and return.
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
      // At a port only a blank board ends the wait: the programmed one may not have left yet.
      const std::vector<UsbIds> back =
          port_.empty() ? JobIds() : std::vector<UsbIds>(probeTargets.begin(), probeTargets.end());
      if (driver.WaitForReplug(back, seconds * 1000)) return true;
      if (!interrupted_) {
        output_.Error("the board did not leave and come back within " + std::to_string(seconds) +
                      " s (waited for a device removal, then an arrival of a board at the job's IDs)");
      }
      return false;
    });
  }

  if (options_.verbose) output_.Phase("look for a blank board", ElapsedMs());
  if (!deviceIds_ && options_.command != CliCommand::kProbe) NameOtherCandidates();
  JobPlan plan;
  plan.command = options_.command;
  if (deviceIds_) {
    plan.vendorIdText = Hex4(deviceIds_->vendorId);
    plan.productIdText = Hex4(deviceIds_->productId);
  } else {
    plan.vendorIdText = options_.vendorIdText;
    plan.productIdText = options_.productIdText;
  }
  plan.useEvbIds = options_.useEvbIds;
  plan.image = imageSource_;
  plan.quietBoundMs = hooks_.quietBoundMs;
  driver.Run(plan, [&] {
    if (!window.IsEnabled(ctl::kWriteEeprom)) ReportOpenedDevice(dialog);
  });

  if (options_.command == CliCommand::kProbe) {
    const bool found = dialog.probeDeviceAbsent == 0;
    const std::string text =
        std::string(found ? "A" : "No") + " blank board answers (vendor 0x3B7D, product 0x72F7 or 0x72F8).";
    output_.Line("probe", text, {{"found", found}});
    result_.stage = "probe";
    result_.text = text;
    return found ? kExitOk : kExitNothingFound;
  }
  const RunKind kind = options_.command == CliCommand::kErase ? RunKind::kErase : RunKind::kWrite;
  driver.Conclude(kind, result_);
  if (!result_.path.empty()) result_.port = jobBackend_->PortOf(result_.path);
  if (driver.GaveUp()) {
    output_.Error("the job gave no sign of life for " +
                  std::to_string(hooks_.quietBoundMs / 1000.0).substr(0, 5) + " s; giving up on it");
    if (hooks_.onGiveUp) hooks_.onGiveUp();
    return kExitNoResult;
  }
  if (interrupted_) return kExitInterrupted;
  const bool readsOnly = options_.command == CliCommand::kRead || options_.command == CliCommand::kVerify ||
                         options_.command == CliCommand::kInfo;
  if (readsOnly && driver.Decided(kind) && result_.stage == "job") {
    // The boxes keep the write job's words; this job wrote nothing.
    output_.Error(std::string(CommandName(options_.command)) +
                  " writes nothing to the board: the box's \"Write\" is the words all jobs share");
  }
  if (readsOnly && !driver.Decided(kind) && result_.result == 0) return AfterReadJob(dialog);
  return result_.exitStatus;
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
  result_.stage = "read";
  if (WritesToStdout()) {
    SetStdoutBinary();
    io_.out.write(reinterpret_cast<const char*>(read.readbackBuffer.data()), kProgrammedLength);
    io_.out.flush();
    // Standard output carries the bytes; the result line goes beside them.
    result_.text =
        "read: " + std::to_string(kProgrammedLength) + " bytes written to standard output, SHA-256 " + sha256;
    output_.Error(result_.text);
    return io_.out ? kExitOk : kExitOutputLost;
  }
  if (!WriteFileAtomically(*options_.outputFile, read.readbackBuffer.data(), kProgrammedLength, error)) {
    output_.Error("--output " + error);
    result_.stage = "output";
    result_.text = "--output " + error;
    return kExitUsage;
  }
  result_.text = "read: " + std::to_string(kProgrammedLength) + " bytes written to " + *options_.outputFile +
                 ", SHA-256 " + sha256;
  output_.Line("read", result_.text,
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
  result_.stage = "verify";
  if (differ == 0) {
    result_.text = "verify: all " + std::to_string(kProgrammedLength) + " bytes match the image";
    output_.Line(
        "verify", result_.text,
        {{"bytes_differ", 0}, {"first_address", nullptr}, {"board_byte", nullptr}, {"image_byte", nullptr}});
    return kExitOk;
  }
  char text[128];
  std::snprintf(text, sizeof(text), "verify: %zu bytes differ, first at 0x%04zX (board 0x%02X, image 0x%02X)",
                differ, first, static_cast<unsigned>(read.readbackBuffer[first]),
                static_cast<unsigned>(image_.imageBuffer[first]));
  result_.text = text;
  output_.Line("verify", text,
               {{"bytes_differ", differ},
                {"first_address", HexWord(static_cast<std::uint32_t>(first))},
                {"board_byte", HexByte(read.readbackBuffer[first])},
                {"image_byte", HexByte(image_.imageBuffer[first])}});
  return kExitVerifyMismatch;
}

int CliRun::ShowInfo(CKT701xWriteEepromMPDlg& dialog) {
  const HidLink& link = dialog.hidLink;
  const std::string expected = kExpectedFirmwareVersionText;
  std::string firmware;
  nlohmann::json fields = DeviceFields(OpenedDeviceOf(dialog));
  fields["chip_id"] = HexByte(dialog.chipId);
  fields["chip_version"] = HexWord(dialog.chipVersion);
  fields["expected_firmware"] = HexWord(ParseHexField(expected));
  if (image_.firmwareInfoFound == 0) {
    firmware = "image firmware: none (no \"KTFwLTag\" record), expected " + expected +
               "; the window marks this image with \".\"";
    fields["image_firmware"] = nullptr;
  } else {
    const std::string version = Hex4(image_.firmwareVersion);
    fields["image_firmware"] = HexWord(image_.firmwareVersion);
    firmware = version == expected ? "image firmware " + version + ", as expected"
                                   : "image firmware " + version + ", expected " + expected +
                                         "; the window marks this image with \".\" (it is still programmed)";
  }
  result_.stage = "info";
  result_.text = "device: " + link.openedPath + " " + Hex4(dialog.targetVendorId) + ":" +
                 Hex4(dialog.targetProductId) + ", input report " + std::to_string(link.inputReportLength) +
                 " bytes, output report " + std::to_string(link.outputReportLength) + " bytes, report ID " +
                 std::to_string(link.reportId) + "\nchip ID: " + HexByte(dialog.chipId) +
                 "\nchip version: " + HexWord(dialog.chipVersion) + "\n" + firmware;
  output_.Line("info", result_.text, fields);
  return kExitOk;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, ConsoleIo& io, CliHooks hooks) {
  CliOptions options;
  std::string error;
  if (!ParseCommandLine(args, options, error)) {
    UsageError(io, error);
    if (args.empty()) io.err << "\n" << UsageText();
    // A script that asked for JSON gets its result object, whatever else the command line got wrong.
    if (std::find(args.begin(), args.end(), "--json") != args.end()) {
      JobOutcome outcome;
      outcome.command = CommandName(options.command);
      outcome.exitStatus = kExitUsage;
      outcome.stage = "usage";
      outcome.text = error;
      outcome.simulated = options.simulate;
      CliOutput(io.out, io.err, false, true, Verbosity::kQuiet).Result(outcome);
    }
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
