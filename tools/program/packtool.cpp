// packtool: the command-line companion of the restore tool. It reads pack
// archives with the same reader, decoder and line reader as the restore
// tool, so that what it lists and restores is what the window would.
#include <cstdio>
#include <string>

#include "core/startup.h"
#include "file/file.h"
#include "platform/platform.h"
#include "tools/cli/cli.h"
#include "tools/commands/commands.h"
#ifdef PACKTOOL_MOUNT
#include "tools/mount/mount.h"
#endif
#include "version.h"

namespace {

int Run(const PackToolRequest& request) {
  switch (request.command) {
    case PackToolCommand::List:
      return RunList(request);
    case PackToolCommand::Extract:
      return RunExtract(request);
    case PackToolCommand::Verify:
      return RunVerify(request);
    case PackToolCommand::Cat:
      return RunCat(request);
    case PackToolCommand::Rescue:
      return RunRescue(request);
    case PackToolCommand::Find:
      return RunFind(request);
    case PackToolCommand::Compare:
      return RunCompare(request);
#ifdef PACKTOOL_MOUNT
    case PackToolCommand::Mount:
      return RunMount(request);
#endif
    default:
      return EXIT_USAGE;
  }
}

}  // namespace

int main(int argc, char** argv) {
  PlatformConsoleSetUp();
  PackToolRequest request;
  std::string error;
  if (!ParseCommandLine(argc, argv, &request, &error)) {
    // The words the user typed are in it: shown as paths are.
    fprintf(stderr, "packtool: %s\nTry \"packtool --help\".\n", ShownPath(error).c_str());
    return EXIT_USAGE;
  }
  if (request.command == PackToolCommand::Version) {
    fputs("packtool " RESTORE_VERSION "\n", stdout);
    return fflush(stdout) == 0 ? EXIT_OK : EXIT_WRITE;
  }
  if (request.command == PackToolCommand::Completion) {
    fputs(CompletionScript(request.shell, Declarations()).c_str(), stdout);
    return fflush(stdout) == 0 ? EXIT_OK : EXIT_WRITE;
  }
  if (request.command == PackToolCommand::Help) {
    fputs(HelpText(request.helpFor).c_str(), stdout);
    return fflush(stdout) == 0 ? EXIT_OK : EXIT_WRITE;
  }

  LibrarySteps steps{};
  steps.fileInit = FileLibraryInit;
  steps.fileEnd = FileLibraryEnd;
  RuntimeStartUp(steps);
  int code = Run(request);
  if (request.format == ListFormat::Json) ReportFailureAsJson(request.archive, code);
  RuntimeShutDown(steps);
  return code;
}
