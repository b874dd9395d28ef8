// main.cpp - the tavo command: one executable, a subcommand per task.
//
// Data goes to standard output or --output files; messages and the progress
// bar go to standard error. Exit status: 0 success, 1 failure (a one-line
// message naming the file, and frame, byte offset and line where there is
// one), 2 a wrong command line (a one-line reason and the usage).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <new>
#include <string>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "formats/error.h"

namespace {

constexpr int kFailure = 1;
constexpr int kUsage = 2;

// tavo help [COMMAND]: the same text as tavo [COMMAND] --help.
void addHelpCommand(CLI::App& app) {
  auto name = std::make_shared<std::string>();
  CLI::App* command =
      app.add_subcommand("help", "Describe tavo, or one command as COMMAND --help does");
  command->add_option("COMMAND", *name, "the command to describe");
  command->callback([&app, name] {
    // Looked up here, so that commands added after this one count too.
    const CLI::App* subject = &app;
    if (!name->empty()) {
      std::vector<CLI::App*> named =
          app.get_subcommands([&](CLI::App* sub) { return sub->get_name() == *name; });
      if (named.empty()) throw CLI::ValidationError("COMMAND", "unknown command '" + *name + "'");
      subject = named.front();
    }
    // help() of the root would follow the commands given on this command
    // line (help itself): format the root directly.
    std::string text =
        subject == &app ? app.get_formatter()->make_help(&app, "tavo", CLI::AppFormatMode::Normal)
                        : subject->help("tavo");
    std::cout << text << (text.ends_with('\n') ? "" : "\n");
  });
}

// One line: messages may quote file text, which may hold line breaks.
std::string oneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

// The usage line of the innermost command given, for a command-line error.
std::string usageOf(const CLI::App& app) {
  const CLI::App* command = &app;
  std::string name = app.get_name();
  for (;;) {
    std::vector<const CLI::App*> given =
        command->get_subcommands([](const CLI::App* sub) { return sub->parsed(); });
    if (given.empty()) break;
    command = given.front();
    name += " " + command->get_name();
  }
  auto formatter = std::dynamic_pointer_cast<CLI::Formatter>(app.get_formatter());
  std::string usage = formatter ? formatter->make_usage(command, name) : "";
  std::string hint = command == &app ? "tavo --help" : "tavo help " + command->get_name();
  return usage + "Run '" + hint + "' for more.\n";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "tavo - inspect and convert the movies of reaction-diffusion simulations.\n"
      "A movie is read with the setup file of its run.",
      "tavo");
  app.set_version_flag("--version", "tavo " TAVO_VERSION);
  app.require_subcommand(1);
  tavo::cli::addQuietFlag(app);
  tavo::cli::addInfoCommand(app);
  tavo::cli::addExportCommand(app);
  tavo::cli::addPopulationCommand(app);
  tavo::cli::addCompressCommand(app);
#ifdef TAVO_HAVE_RENDER
  tavo::cli::addRenderCommand(app);
#endif
#ifdef TAVO_HAVE_VIEW
  tavo::cli::addViewCommand(app);
#endif
  addHelpCommand(app);
  app.footer(
      "Exit status: 0 success, 1 failure, 2 wrong command line.\n"
      "Run 'tavo help COMMAND' or 'tavo COMMAND --help' for a command's arguments.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::string text = app.help();
    std::cout << text << (text.ends_with('\n') ? "" : "\n");
    return 0;
  } catch (const CLI::CallForVersion&) {
    std::cout << app.version() << "\n";
    return 0;
  } catch (const CLI::ParseError& e) {
    // "tavo frobnicate" leaves the word unparsed and no command given.
    std::vector<std::string> rest = app.remaining();
    bool unknown = app.get_subcommands().empty() && !rest.empty() && rest.front()[0] != '-';
    std::cerr << "tavo: "
              << (unknown ? "unknown command '" + rest.front() + "'" : oneLine(e.what())) << "\n"
              << usageOf(app);
    return kUsage;
  } catch (const tavo::Error& e) {
    std::cerr << "tavo: " << oneLine(e.what()) << "\n";
    return kFailure;
  } catch (const std::bad_alloc&) {
    std::cerr << "tavo: out of memory\n";
    return kFailure;
  } catch (const std::exception& e) {
    std::cerr << "tavo: " << oneLine(e.what()) << "\n";
    return kFailure;
  }
  return 0;
}
