#include "app/cli/station.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "app/cli/exit_status.h"
#include "app/cli/job_driver.h"
#include "app/cli/replug_watch.h"
#include "app/message_queue_window.h"
#include "app/write_eeprom_dialog.h"
#include "hid/hid_link.h"
#include "hid/port_backend.h"
#include "programming/job_messages.h"

namespace kt {
namespace {

std::string UtcTimestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[96];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms));
  return text;
}

bool Succeeded(const JobOutcome& outcome) {
  return outcome.exitStatus == kExitOk;
}
bool NotRecorded(const JobOutcome& outcome) {
  return outcome.recorded == false;
}

// Every board's lines go through here, one whole line at a time.
class ConsoleStationView final : public StationView {
 public:
  ConsoleStationView(ConsoleIo& io, CliOutput& output) : io_(io), output_(output) {}

  // Told in the notes before the station starts.
  void Begin(const StationFacts&) override {}
  void JobStarted(const std::string&) override {}

  // The result box comes once, as the board's result line; the re-plug box goes to stdout with the
  // results: the operator re-plugs nobody's board but this one.
  void Box(const std::string& port, const std::string& text, const std::string& caption, MessageIcon icon,
           StationBox kind) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (output_.json()) {
      Emit({{"event", "box"},
            {"port", port},
            {"text", text},
            {"caption", caption},
            {"icon", MessageIconName(icon)}});
      return;
    }
    if (kind == StationBox::kResult) return;
    BreakBar();
    (kind == StationBox::kReplug ? io_.out : io_.err) << "[" << port << "] " << text << "\n" << std::flush;
    CheckOut();
  }

  void Progress(const std::string& port, int position) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (output_.json()) {
      Emit({{"event", "progress"}, {"port", port}, {"position", position}});
      return;
    }
    if (output_.verbosity() == Verbosity::kQuiet) return;
    int& last = progress_[port];
    if (position < last) last = 0;
    if (io_.errIsTerminal) {
      last = position;
      DrawStatus();
      return;
    }
    for (int tenth = last / 10 + 1; tenth <= position / 10; ++tenth) {
      io_.err << "[" << port << "] progress " << tenth * 10 << "%\n";
    }
    io_.err << std::flush;
    last = std::max(last, position);
  }

  void Result(const JobOutcome& outcome) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (output_.json()) {
      nlohmann::json object = OutcomeFields(outcome);
      object["event"] = "result";
      Emit(object);
      return;
    }
    BreakBar();
    io_.out << "[" << outcome.port << "] " << outcome.text << (NotRecorded(outcome) ? " (not recorded)" : "")
            << "\n"
            << std::flush;
    CheckOut();
    (NotRecorded(outcome) ? notRecorded_ : Succeeded(outcome) ? succeeded_ : failed_) += 1;
    progress_.erase(outcome.port);
    if (io_.errIsTerminal && output_.verbosity() != Verbosity::kQuiet) DrawStatus();
  }

  void Summary(int succeeded, int failed, int notRecorded, int status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (output_.json()) {
      Emit({{"event", "summary"},
            {"succeeded", succeeded},
            {"failed", failed},
            {"not_recorded", notRecorded},
            {"exit_status", status}});
      return;
    }
    BreakBar();
    io_.out << "Succeeded: " << succeeded << "  Failed: " << failed;
    if (notRecorded > 0) io_.out << "  Not recorded: " << notRecorded;
    io_.out << "\n" << std::flush;
    CheckOut();
  }

  void Note(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    BreakBar();
    output_.Note(text);
  }
  void Error(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    BreakBar();
    output_.Error(text);
  }
  // Standard output failed (closed, full, its reader gone).
  bool OutputLost() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return lost_;
  }

 private:
  void Emit(const nlohmann::json& object) {
    io_.out << object.dump() << "\n" << std::flush;
    CheckOut();
  }
  void CheckOut() { lost_ = lost_ || !io_.out; }
  // On a terminal: one line redrawn in place, the running count first, then each running board's progress.
  void DrawStatus() {
    std::string line = "Succeeded: " + std::to_string(succeeded_) + "  Failed: " + std::to_string(failed_);
    if (notRecorded_ > 0) line += "  Not recorded: " + std::to_string(notRecorded_);
    for (const auto& [name, percent] : progress_) line += "  [" + name + "] " + std::to_string(percent) + "%";
    const std::size_t length = line.size();
    // Blanks over whatever a longer line before left behind.
    if (length < statusLength_) line += std::string(statusLength_ - length, ' ');
    statusLength_ = length;
    io_.err << "\r" << line << std::flush;
    barOpen_ = true;
  }
  void BreakBar() {
    if (!barOpen_) return;
    io_.err << "\n" << std::flush;
    barOpen_ = false;
    statusLength_ = 0;
  }

  ConsoleIo& io_;
  CliOutput& output_;
  std::mutex mutex_;
  std::map<std::string, int> progress_;  // the running boards'
  int succeeded_ = 0;
  int failed_ = 0;
  int notRecorded_ = 0;
  std::size_t statusLength_ = 0;
  bool barOpen_ = false;
  bool lost_ = false;
};

// A board's window: its boxes and progress go to the station's output under the board's port.
class StationWindow final : public MessageQueueWindow {
 public:
  StationWindow(StationView& output, std::string port) : output_(output), port_(std::move(port)) {}

  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override {
    ++activity_;
    output_.Box(port_, text, caption, icon, StationBox::kMessage);
  }
  void ResultBox(const ShownResult& result, const std::string& caption, MessageIcon icon) override {
    ++activity_;
    output_.Box(port_, result.text, caption, icon,
                result.EndsWrite() ? StationBox::kResult : StationBox::kReplug);
  }
  void SetProgressPos(int id, int pos) override {
    MessageQueueWindow::SetProgressPos(id, pos);
    if (id != ctl::kProgress || pos == lastProgress_) return;
    lastProgress_ = pos;
    ++activity_;
    output_.Progress(port_, pos);
  }
  std::uint64_t Activity() const { return activity_; }

 private:
  StationView& output_;
  std::string port_;
  int lastProgress_ = -1;
  std::uint64_t activity_ = 0;
};

class Station;

// One board's job, on a thread of its own that is the job's window thread: exactly the dialog's job, on a
// backend that sees only this board's port.
class BoardJob {
 public:
  BoardJob(Station& station, std::string port, std::string path);
  ~BoardJob() { Join(); }

  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  // Ctrl-C: the job stops as Exit stops it, its boxes still shown.
  void Stop();
  bool Done() const { return done_.load(std::memory_order_acquire); }
  // Given up inside a device call: its thread never comes back, so it is never joined.
  bool Stuck() const { return stuck_.load(std::memory_order_acquire); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Run();
  // Exit could not get the worker back: this board's result is told now, and its thread stays here with
  // the dialog the worker still uses until the process ends.
  [[noreturn]] void GiveUp(JobDriver& driver, std::uint64_t started);

  Station& station_;
  std::string port_;
  JobOutcome outcome_;
  std::thread thread_;
  std::atomic<bool> done_{false};
  std::atomic<bool> stuck_{false};
  std::mutex mutex_;
  JobDriver* driver_ = nullptr;
  bool stopRequested_ = false;
};

class Station {
 public:
  Station(const StationSetup& setup, StationView& view) : setup_(setup), output_(view), hub_(*setup.backend) {}

  int Run();

  const StationSetup& setup() const { return setup_; }
  StationView& output() { return output_; }
  DeviceChangeHub& hub() { return hub_; }
  void JobEnded(JobOutcome outcome);
  // Wakes the loop to look at the jobs again.
  void JobGone() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++ended_;
    changed_.notify_all();
  }

 private:
  // The ports with a board that answers at the typed IDs, the fallback list or the probe IDs, each with
  // the path of its first such interface.
  std::vector<std::pair<std::string, std::string>> BoardPorts();
  // Called with `lock` held; returns with it held.
  void StartJob(std::unique_lock<std::mutex>& lock, const std::string& port, const std::string& path);
  void Interrupt();

  const StationSetup& setup_;
  StationView& output_;
  DeviceChangeHub hub_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t events_ = 0;
  bool interrupted_ = false;
  // A result that could not be recorded, or standard output lost: the boards running go on to their
  // end, no new one starts (a board written without a trace is one nobody can account for).
  bool noNewJobs_ = false;
  int succeeded_ = 0;
  int failed_ = 0;
  int notRecorded_ = 0;
  int stuck_ = 0;
  std::uint64_t ended_ = 0;
  std::map<std::string, std::unique_ptr<BoardJob>> jobs_;  // by port
  std::map<std::string, bool> doneWhilePresent_;
};

BoardJob::BoardJob(Station& station, std::string port, std::string path)
    : station_(station), port_(std::move(port)) {
  const StationSetup& setup = station.setup();
  outcome_.command = CommandName(CliCommand::kStation);
  outcome_.port = port_;
  outcome_.path = std::move(path);
  outcome_.imageSha256 = setup.imageSha256;
  outcome_.simulated = setup.options->simulate;
  if (setup.record != nullptr) outcome_.recorded = true;
}

void BoardJob::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopRequested_ = true;
  if (driver_ != nullptr) driver_->Stop();
}

void BoardJob::Run() {
  const std::uint64_t started = SystemClock().NowMicros();
  const StationSetup& setup = station_.setup();
  const CliOptions& options = *setup.options;
  station_.output().JobStarted(port_);
  {
    StationWindow window(station_.output(), port_);
    ReplugWatch watch(std::make_unique<PortBackend>(*setup.backend, station_.hub(), port_));
    JobDriver driver(
        window, [&window] { return window.Activity(); }, watch, watch, *setup.clock);
    driver.dialog().SetWorkerStuckHandler([this, &driver, started] { GiveUp(driver, started); });
    // After the erase the board comes back blank: only a blank board at this port ends the wait, so that
    // the programmed one, not yet gone when another port's board leaves and arrives, never passes for it.
    driver.dialog().SetReplugWait([&] {
      return driver.WaitForReplug({probeTargets.begin(), probeTargets.end()},
                                  options.replugTimeoutSeconds * 1000);
    });
    {
      std::lock_guard<std::mutex> lock(mutex_);
      driver_ = &driver;
      if (stopRequested_) driver.Stop();
    }
    JobPlan plan;
    plan.command = CliCommand::kStation;
    plan.vendorIdText = options.vendorIdText;
    plan.productIdText = options.productIdText;
    plan.useEvbIds = options.useEvbIds;
    plan.image = setup.image;
    plan.quietBoundMs = setup.quietBoundMs;
    const std::string listedPath = outcome_.path;
    driver.Run(plan);
    driver.Conclude(RunKind::kWrite, outcome_);
    if (outcome_.path.empty()) outcome_.path = listedPath;
    std::lock_guard<std::mutex> lock(mutex_);
    driver_ = nullptr;
  }
  outcome_.ms = static_cast<std::int64_t>((SystemClock().NowMicros() - started) / 1000);
  // Done first: the station, woken by JobEnded, must find this job over.
  done_.store(true, std::memory_order_release);
  station_.JobEnded(outcome_);
}

void BoardJob::GiveUp(JobDriver& driver, std::uint64_t started) {
  station_.output().Error("[" + port_ +
                          "] the job is still inside a device call 12 s after it was stopped: "
                          "this board is given up, the others go on");
  driver.Conclude(RunKind::kWrite, outcome_);
  outcome_.result = driver.JobResult();
  outcome_.stage = "stuck";
  outcome_.text = "the job is still inside a device call; the board is given up";
  outcome_.exitStatus = kWorkerStuckExitStatus;
  outcome_.ms = static_cast<std::int64_t>((SystemClock().NowMicros() - started) / 1000);
  stuck_.store(true, std::memory_order_release);
  station_.JobEnded(outcome_);
  // Over only once counted: this thread is never joined, so nothing else would wait for the count.
  done_.store(true, std::memory_order_release);
  station_.JobGone();
  // Waits for nothing that comes: the process ends under this thread once every other board is done.
  std::mutex parked;
  std::condition_variable never;
  std::unique_lock<std::mutex> lock(parked);
  for (;;) never.wait(lock);
}

std::vector<std::pair<std::string, std::string>> Station::BoardPorts() {
  const CliOptions& options = *setup_.options;
  std::vector<UsbIds> candidates;
  candidates.push_back({ParseHexField(options.vendorIdText.value_or(kDefaultVendorIdText)),
                        ParseHexField(options.productIdText.value_or(kDefaultProductIdText))});
  if (options.useEvbIds) candidates.insert(candidates.end(), evbTargets.begin(), evbTargets.end());
  candidates.insert(candidates.end(), fallbackTargets.begin(), fallbackTargets.end());
  candidates.insert(candidates.end(), probeTargets.begin(), probeTargets.end());
  std::vector<std::pair<std::string, std::string>> boards;
  for (const auto& [port, paths] : InterfacesByPort(*setup_.backend)) {
    if (!options.ports.empty() &&
        std::find(options.ports.begin(), options.ports.end(), port) == options.ports.end()) {
      continue;
    }
    for (const std::string& path : paths) {
      const std::unique_ptr<HidDeviceHandle> handle = setup_.backend->Open(path, HidOpenMode::kPlain);
      HidAttributes ids;
      if (!handle || !handle->GetAttributes(ids)) continue;
      const bool answers = std::any_of(candidates.begin(), candidates.end(), [&](const UsbIds& c) {
        return c.vendorId == ids.vendorId && c.productId == ids.productId;
      });
      if (answers) {
        boards.emplace_back(port, path);
        break;
      }
    }
  }
  return boards;
}

void Station::StartJob(std::unique_lock<std::mutex>& lock, const std::string& port, const std::string& path) {
  // The map changes under the lock (the device-change handler reads it); the old job's thread is joined
  // and the new one started outside it (a job ending takes the lock).
  std::unique_ptr<BoardJob> old = std::move(jobs_[port]);
  jobs_[port] = std::make_unique<BoardJob>(*this, port, path);
  BoardJob* job = jobs_[port].get();
  lock.unlock();
  if (old) old->Join();
  job->Start();
  lock.lock();
}

void Station::JobEnded(JobOutcome outcome) {
  // On disk before the result line is printed: no printed result is ever missing from the record.
  if (setup_.record != nullptr) {
    nlohmann::json line = OutcomeFields(outcome);
    line.erase("recorded");
    line["time"] = UtcTimestamp();
    line["tool_version"] = KT_VERSION;
    std::string why;
    if (!setup_.record->AppendLine(line.dump(), why)) {
      outcome.recorded = false;
      output_.Error("[" + outcome.port + "] " + outcome.text + ": NOT RECORDED (" +
                    *setup_.options->recordFile + ": " + (why.empty() ? "unknown error" : why) +
                    "); no new board is taken");
    }
  }
  output_.Result(outcome);
  const bool lost = output_.OutputLost();
  std::lock_guard<std::mutex> lock(mutex_);
  if (NotRecorded(outcome)) {
    ++notRecorded_;
  } else {
    (Succeeded(outcome) ? succeeded_ : failed_) += 1;
  }
  if (outcome.stage == "stuck") ++stuck_;
  if (lost && !noNewJobs_) output_.Error("standard output cannot be written: no new board is taken");
  noNewJobs_ = noNewJobs_ || lost || NotRecorded(outcome);
  ++ended_;
  changed_.notify_all();
}

void Station::Interrupt() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (interrupted_) return;
  interrupted_ = true;
  changed_.notify_all();
}

int Station::Run() {
  const bool watch = setup_.options->watch;
  // A board unplugged and plugged again must count as plugged in anew, though it may be back before the
  // loop below runs, and even before its removal is told here (udev tells it once its rules have run): a
  // removal that names its port says that the board there left; where a notice names none, what is
  // present now is all there is to go by.
  hub_.Subscribe(this, [this](const DeviceChange& change) {
    const auto ports = InterfacesByPort(*setup_.backend);
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [port, done] : doneWhilePresent_) {
      const std::string& name = port;  // clang 14 cannot capture a structured binding
      const bool left = !change.arrived && change.port == name;
      const bool present = !left && std::any_of(ports.begin(), ports.end(),
                                                [&name](const auto& p) { return p.first == name; });
      const auto job = jobs_.find(port);
      if (!present && (job == jobs_.end() || !job->second || job->second->Done())) done = false;
    }
    ++events_;
    changed_.notify_all();
  });
  if (setup_.takeInterrupt) setup_.takeInterrupt([this] { Interrupt(); });
  const CliOptions& options = *setup_.options;
  output_.Begin({options.imageFile.value_or(""), setup_.imageSha256, setup_.imageFirmware,
                 options.recordFile.value_or(""), options.useEvbIds, options.simulate});

  std::vector<std::pair<std::string, std::string>> boards = BoardPorts();
  if (boards.empty() && !watch) {
    hub_.Subscribe(this, nullptr);
    if (setup_.takeInterrupt) setup_.takeInterrupt(nullptr);
    output_.Note("no board found at the job's IDs or the blank board's");
    output_.Summary(0, 0, 0, kExitNotFoundAbsent);
    return kExitNotFoundAbsent;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  std::uint64_t seenEvents = events_;
  bool stopping = false;
  // Without --watch the boards found now are the run's: each gets one job, whatever comes and goes later.
  bool firstPass = true;
  for (;;) {
    // Start a job for every board present that has none running and was not programmed while plugged;
    // none once Ctrl-C has come.
    if (!interrupted_ && !noNewJobs_ && (watch || firstPass)) {
      firstPass = false;
      lock.unlock();
      std::map<std::string, std::string> present;
      for (auto& [port, path] : boards) present[port] = path;
      lock.lock();
      for (auto& [port, done] : doneWhilePresent_) {
        if (!present.contains(port) && (!jobs_[port] || jobs_[port]->Done())) done = false;
      }
      for (const auto& [port, path] : present) {
        const auto& job = jobs_[port];
        // A port whose job was given up keeps it: its thread never ends.
        if ((job && (!job->Done() || job->Stuck())) || doneWhilePresent_[port]) continue;
        doneWhilePresent_[port] = true;
        StartJob(lock, port, path);
      }
    }
    const auto running = [this] {
      return std::any_of(jobs_.begin(), jobs_.end(),
                         [](const auto& entry) { return entry.second && !entry.second->Done(); });
    };
    if (interrupted_ && !stopping) {
      stopping = true;
      for (auto& [port, job] : jobs_) {
        if (job) job->Stop();
      }
    }
    if ((!watch || stopping || noNewJobs_) && !running()) break;
    const std::uint64_t endedBefore = ended_;
    changed_.wait(
        lock, [&] { return ended_ != endedBefore || events_ != seenEvents || (interrupted_ && !stopping); });
    // Each change is taken once (without --watch it changes nothing here, but must not wake the wait
    // again and again).
    if (events_ == seenEvents) continue;
    seenEvents = events_;
    if (watch && !stopping) {
      lock.unlock();
      boards = BoardPorts();
      lock.lock();
    }
  }
  lock.unlock();
  hub_.Subscribe(this, nullptr);
  // A Ctrl-C from now on must not reach this object, which is gone once Run returns.
  if (setup_.takeInterrupt) setup_.takeInterrupt(nullptr);
  for (auto& [port, job] : jobs_) {
    if (job && !job->Stuck()) job->Join();
  }
  const int status = stuck_ > 0             ? kWorkerStuckExitStatus
                     : notRecorded_ > 0     ? kExitStationNotRecorded
                     : failed_ > 0          ? kExitStationFailures
                     : output_.OutputLost() ? kExitOutputLost
                                            : kExitOk;
  output_.Summary(succeeded_, failed_, notRecorded_, status);
  // A stuck board's thread still holds its dialog, which its worker uses: nothing may be destroyed under
  // it, so the process ends here, every line and record out.
  if (stuck_ > 0) EndProcessWithStuckWorker();
  return status;
}

}  // namespace

int RunStation(const StationSetup& setup, ConsoleIo& io, CliOutput& output) {
  ConsoleStationView console(io, output);
  Station station(setup, setup.view != nullptr ? *setup.view : console);
  return station.Run();
}

}  // namespace kt
