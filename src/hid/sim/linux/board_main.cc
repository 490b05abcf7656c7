// kt7310-board: the simulated board behind the Linux kernel's own HID stacks, for testing the tool on
// real hidraw nodes, udev events and (through Wine's HID bus) the Windows HID path.

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "hid/linux/unique_fd.h"
#include "hid/sim/linux/gadget_transport.h"
#include "hid/sim/linux/kernel_board.h"
#include "hid/sim/linux/uhid_transport.h"
#include "hid/sim/sim_board.h"
#include "image/default_image.h"

namespace {

constexpr char kUsage[] =
    "usage: kt7310-board [--gadget | --uhid] [--udc NAME] [--log FILE] [--let-go-ms MS] [OPTIONS]\n"
    "\n"
    "Presents one simulated KT7310 board to this machine's kernel until SIGTERM or SIGINT, then saves its\n"
    "EEPROM (with eeprom=FILE) and exits 0. SIGUSR1 unplugs the board and plugs it in again.\n"
    "\n"
    "  --gadget        a USB HID gadget on a USB device controller (default; dummy_hcd gives virtual ones)\n"
    "  --uhid          a uhid device: HID without USB underneath\n"
    "  --udc NAME      the device controller to bind to (default: the first free one)\n"
    "  --log FILE      every report the board receives and sends, and its events, in the tool's trace "
    "format\n"
    "  --let-go-ms MS  gadget only: after an erase, this long without a request counts as the host having\n"
    "                  let go of the board, which then re-plugs itself (default 1500)\n"
    "  OPTIONS         the option list of the tool's --simulate= (blank, faults, latency=MS, eeprom=FILE,\n"
    "                  manual-replug, ...); virtual-time has no meaning here\n";

int Usage(const std::string& error) {
  std::cerr << "kt7310-board: " << error << "\n" << kUsage;
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  bool useUhid = false;
  std::string udc;
  std::string logFile;
  std::string optionText;
  std::uint32_t letGoMs = kt::KernelBoard::kDefaultLetGoMs;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string number;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--gadget") {
      useUhid = false;
    } else if (arg == "--uhid") {
      useUhid = true;
    } else if (arg == "--udc") {
      if (!value(udc)) return Usage("--udc needs a controller name");
    } else if (arg == "--log") {
      if (!value(logFile)) return Usage("--log needs a file");
    } else if (arg == "--let-go-ms") {
      if (!value(number) || number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
          number.size() > 6) {
        return Usage("--let-go-ms needs a number of milliseconds");
      }
      letGoMs = static_cast<std::uint32_t>(std::stoul(number));
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else if (optionText.empty()) {
      optionText = arg;
    } else {
      optionText += "," + arg;
    }
  }
  kt::SimOptions options;
  std::string error;
  if (!kt::ParseSimOptions(optionText, options, error)) return Usage(error);
  if (options.virtualTime) return Usage("virtual-time: the kernel runs in real time");

  // Signals are taken through a descriptor the main loop polls; blocked before any thread starts, so
  // every thread inherits the mask and none of them is interrupted by them.
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGTERM, SIGINT, SIGUSR1}) sigaddset(&signals, signal);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  kt::UniqueFd signalFd(::signalfd(-1, &signals, SFD_CLOEXEC));
  if (!signalFd.Valid()) {
    std::cerr << "kt7310-board: signalfd failed\n";
    return 1;
  }

  std::unique_ptr<kt::ReportTrace> log;
  if (!logFile.empty()) {
    log = kt::ReportTrace::OpenFile(logFile, kt::SystemClock(), error);
    if (!log) return Usage("--log " + logFile + ": " + error);
  }
  kt::SimBackend backend(options, kt::SystemClock(), log.get());
  if (!backend.loadError().empty()) return Usage(backend.loadError());

  const std::vector<std::uint8_t> descriptor = kt::ImageReportDescriptor(kt::defaultImage);
  const std::string name = "kt7310-board-" + std::to_string(::getpid());
  std::unique_ptr<kt::BoardTransport> transport;
  if (useUhid) {
    transport = std::make_unique<kt::UhidTransport>(descriptor, name);
  } else {
    transport = std::make_unique<kt::GadgetTransport>(descriptor, name, udc);
  }
  kt::KernelBoard board(backend.board(), *transport, log.get(), std::cerr, letGoMs);
  return board.Run(signalFd.Get());
}
