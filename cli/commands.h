// commands.h - the subcommands of tavo, one function each, defined in
// cli/<name>Command.cpp. Each adds its subcommand, its options and the
// callback that runs it; failures throw tavo::Error (exit 1), command-line
// mistakes CLI::ParseError (exit 2).
#ifndef TAVO_CLI_COMMANDS_H
#define TAVO_CLI_COMMANDS_H

#include <CLI/CLI.hpp>

namespace tavo::cli {

void addInfoCommand(CLI::App& app);
void addExportCommand(CLI::App& app);
void addPopulationCommand(CLI::App& app);
void addCompressCommand(CLI::App& app);
void addRenderCommand(CLI::App& app);  // built only with the offscreen renderer
void addViewCommand(CLI::App& app);    // built only with the explorer (GLUT, scene)

}  // namespace tavo::cli

#endif  // TAVO_CLI_COMMANDS_H
