#include <iostream>
#include <string>
#include <vector>

#include "app/cli/cli_app.h"
#include "app/cli/terminal.h"
#include "base/program_start.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = kt::StartProgram(argc, argv);
  kt::PrepareStandardStreams();
  kt::ConsoleIo io{std::cout, std::cerr, std::cin, kt::StdinIsTerminal(), kt::StderrIsTerminal()};
  const std::unique_ptr<kt::EnterPrompt> prompt = io.inIsTerminal ? kt::OpenStdinPrompt() : nullptr;
  io.prompt = prompt.get();
  return kt::RunCli(args, io);
}
