#include "app/cli/cli_app.h"

#include <memory>

#include "app/cli/command_line.h"
#include "app/cli/exit_status.h"
#include "app/cli/interface_listing.h"
#include "app/cli/replug_watch.h"
#include "app/write_eeprom_dialog.h"
#include "base/clock.h"
#include "hid/hid_link.h"
#include "hid/report_trace.h"
#include "hid/sim/sim_board.h"
#include "hid/tracing_backend.h"

namespace kt {
namespace {

constexpr char kProgramName[] = "kt7310-eeprom";
// The window thread waits for the job in slices; every progress step of the worker wakes it anyway.
constexpr std::uint32_t kPumpSliceMs = 60000;

int UsageError(ConsoleIo& io, const std::string& error) {
  io.err << kProgramName << ": " << error << "\nTry '" << kProgramName << " --help'.\n";
  return kExitUsage;
}

int ReportProbe(const CKT701xWriteEepromMPDlg& dialog, ConsoleIo& io) {
  if (dialog.probeDeviceAbsent == 0) {
    io.out << "A blank board answers (vendor 0x3B7D, product 0x72F7 or 0x72F8).\n";
    return kExitOk;
  }
  io.out << "No blank board answers (vendor 0x3B7D, product 0x72F7 or 0x72F8).\n";
  return kExitNoBlankBoard;
}

// Whether a board answers at the IDs a job would try: the typed ones, then the fallback list.
bool CandidatePresent(ConsoleWindow& window, HidBackend& backend, Clock& clock) {
  HidLink link;
  CreateHidLink(link, backend, clock);
  bool found = OpenHidLink(link, ParseHexField(window.GetItemText(ctl::kVendorId)),
                           ParseHexField(window.GetItemText(ctl::kProductId)));
  for (const UsbIds& ids : fallbackTargets) {
    if (!found) found = OpenHidLink(link, ids.vendorId, ids.productId);
  }
  DestroyHidLink(link);
  return found;
}

// The dialog on a console, with its buttons pressed as the command asks.
int RunDialog(const CliOptions& options, ReplugWatch& backend, Clock& clock, ConsoleIo& io) {
  const bool waitForEnter = !options.yes && io.inIsTerminal;
  ConsoleWindow window(io, waitForEnter);
  CKT701xWriteEepromMPDlg dialog(window, backend, clock);
  dialog.OnInitDialog();
  if (options.vendorIdText) window.SetItemText(ctl::kVendorId, *options.vendorIdText);
  if (options.productIdText) window.SetItemText(ctl::kProductId, *options.productIdText);
  if (options.useEvbIds) window.SetCheck(ctl::kUseEvbIds, true);
  // Nobody at a terminal to press Enter: the re-plug box waits for the board itself to leave and return.
  bool replugTimedOut = false;
  if (!waitForEnter) {
    dialog.SetReplugWait([&] {
      if (!backend.ReportsDeviceChanges()) {
        // Nothing would tell the wait that the board came back (the Windows backend's notifications go to
        // a window, which the command line has not got): go on after the box, as before.
        io.err << kProgramName << ": device changes are not reported here; going on without waiting for "
               << "the board to come back\n";
        return true;
      }
      const std::uint32_t seconds = options.replugTimeoutSeconds;
      if (backend.WaitForReplug(clock, seconds * 1000,
                                [&] { return CandidatePresent(window, backend, clock); })) {
        return true;
      }
      replugTimedOut = true;
      io.err << kProgramName << ": the board did not leave and come back within " << seconds
             << " s (waited for a device removal, then an arrival of a board at the job's IDs)\n";
      return false;
    });
  }

  int status = kExitOk;
  if (options.command == CliCommand::kProbe) {
    status = ReportProbe(dialog, io);
  } else if (options.command == CliCommand::kErase) {
    dialog.OnCommand(ctl::kEraseEeprom);
    status = ExitStatusForRun(window.Messages(), RunKind::kErase);
  } else {
    backend.Mark();
    dialog.OnCommand(ctl::kWriteEeprom);
    // "Write EEPROM" comes back when the preparation gave up or the worker has finished the job.
    const auto jobOver = [&window] { return window.IsEnabled(ctl::kWriteEeprom); };
    while (!jobOver()) window.PumpMessagesUntil(clock, kPumpSliceMs, jobOver);
    status = replugTimedOut ? kExitReplugTimeout : ExitStatusForRun(window.Messages(), RunKind::kWrite);
  }
  dialog.OnCommand(kIdOk);
  dialog.DestroyWindow();
  return status;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, ConsoleIo& io) {
  CliOptions options;
  std::string error;
  if (!ParseCommandLine(args, options, error)) return UsageError(io, error);
  if (options.help) {
    io.out << UsageText();
    return kExitOk;
  }
  if (options.version) {
    io.out << kProgramName << " " << KT_VERSION << "\n";
    return kExitOk;
  }

  VirtualClock virtualClock;
  Clock& clock =
      options.simulate && options.sim.virtualTime ? static_cast<Clock&>(virtualClock) : SystemClock();

  // Declared before the backend: the trace must outlive it and every handle it gives out.
  std::unique_ptr<ReportTrace> trace;
  if (options.traceFile) {
    trace = ReportTrace::OpenFile(*options.traceFile, clock, error);
    if (!trace) return UsageError(io, "--trace " + *options.traceFile + ": " + error);
  }
  std::unique_ptr<HidBackend> backend;
  if (options.simulate) {
    auto sim = std::make_unique<SimBackend>(options.sim, clock, trace.get());
    if (!sim->loadError().empty()) return UsageError(io, "--simulate: " + sim->loadError());
    backend = std::move(sim);
  } else {
    backend = CreatePlatformHidBackend();
  }
  if (trace) backend = std::make_unique<TracingBackend>(std::move(backend), *trace);

  if (options.command == CliCommand::kList) return ListHidInterfaces(*backend, io.out);
  ReplugWatch watch(std::move(backend));
  return RunDialog(options, watch, clock, io);
}

}  // namespace kt
