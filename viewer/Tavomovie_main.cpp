// Tavomovie_main.cpp - entry point of the Tavomovie viewer: checks the command
// line, starts a fresh error log, loads the setup file, opens the window and
// hands over to the GLUT main loop.
#include <GL/glut.h>

#include <cstdio>
#include <cstdlib>

#include "datastore/dataFetcher.h"
#include "viewer/glutCommon.h"

namespace {

constexpr char kUsage[] =
    "\n"
    "\tPlease pass in correct parameters:\n"
    "\t\tTavomovie.exe setup1.Tavosetup movie1.Tavomovie\n\n";

// Exit status of a wrong command line, apart from the 1 of fatal errors.
constexpr int kUsageStatus = 2;

}  // namespace

int main(int argc, char** argv) {
  // A fresh log on every start, before the arguments are looked at.
  std::FILE* log = std::fopen("errors.txt", "w");
  if (log == nullptr) {
    std::fputs(
        "Tavomovie: cannot create errors.txt in the working directory; "
        "going on without an error log\n",
        stderr);
  }
  if (argc != 3) {
    if (log != nullptr) {
      std::fputs("\n", log);
      std::fputs("\tPlease pass in correct parameters:\n", log);
      std::fputs("\t\tTavomovie.exe setup1.Tavosetup movie1.Tavomovie\n\n", log);
      std::fclose(log);
    }
    // The log is no place for a person at a terminal to look first.
    std::fputs(kUsage, stderr);
    return kUsageStatus;
  }
  if (log != nullptr) std::fclose(log);

  initDataStructure_fromFile(argv[1]);
  initObjectProperties(argv[2]);

  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowPosition(100, 100);
  glutInitWindowSize(500, 500);
  glutCreateWindow("Reaction Movie");

  initVariable();
  registerCallbacks();
  glutMainLoop();

  deleteDataStructure();
  return 0;
}
