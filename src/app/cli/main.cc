#include <iostream>
#include <string>
#include <vector>

#include "app/cli/cli_app.h"
#include "app/cli/terminal.h"

int main(int argc, char** argv) {
  kt::PrepareStandardStreams();
  const std::vector<std::string> args(argv + 1, argv + argc);
  kt::ConsoleIo io{std::cout, std::cerr, std::cin, kt::StdinIsTerminal(), kt::StderrIsTerminal()};
  const std::unique_ptr<kt::EnterPrompt> prompt = io.inIsTerminal ? kt::OpenStdinPrompt() : nullptr;
  io.prompt = prompt.get();
  return kt::RunCli(args, io);
}
