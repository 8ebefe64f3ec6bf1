#include "tests/tools/tool_runner.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#endif

#include "tests/support/test_files.h"

namespace {

std::string ToolPath() {
  std::string path = PACKTOOL_PATH;
#ifdef _WIN32
  // The build knows the Unix path; under Wine the Unix root is drive Z:.
  if (!path.empty() && path[0] == '/') path.insert(0, "Z:");
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
#endif
  return path;
}

}  // namespace

#ifdef _WIN32

namespace {

// The quoting that the C runtime's command-line parser undoes.
std::string Quoted(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      backslashes++;
      continue;
    }
    if (c == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

HANDLE InheritableFile(const std::string& path) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

}  // namespace

ToolRun RunPackTool(const std::vector<std::string>& arguments, const ToolRunOptions& options) {
  ToolRun run;
  // A name per run: a new console's host may hold the last run's files a while.
  static int runs = 0;
  std::string stem = options.folder + "\\..\\run-" + std::to_string(++runs);
  std::string outPath = stem + ".out";
  std::string errPath = stem + ".err";
  std::string tool = ToolPath();
  std::string commandLine = Quoted(tool);
  for (const std::string& argument : arguments) {
    commandLine += ' ';
    commandLine += Quoted(argument);
  }

  HANDLE out = InheritableFile(outPath);
  HANDLE err = InheritableFile(errPath);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process = {};
  DWORD flags = options.newConsole ? CREATE_NEW_CONSOLE : 0;
  // The child inherits this process's variables: set them for the start and
  // put the old values back.
  std::vector<std::pair<std::string, std::string>> saved;
  std::vector<std::string> wasUnset;
  for (const auto& [name, value] : options.environment) {
    char old[32768];
    DWORD length = GetEnvironmentVariableA(name.c_str(), old, sizeof old);
    if (length == 0 || length >= sizeof old) {
      wasUnset.push_back(name);
    } else {
      saved.emplace_back(name, std::string(old, length));
    }
    SetEnvironmentVariableA(name.c_str(), value);
  }
  BOOL started = CreateProcessA(tool.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                options.folder.c_str(), &startup, &process);
  for (const auto& [name, value] : saved) SetEnvironmentVariableA(name.c_str(), value.c_str());
  for (const std::string& name : wasUnset) SetEnvironmentVariableA(name.c_str(), nullptr);
  CloseHandle(out);
  CloseHandle(err);
  if (!started) {
    run.err = "CreateProcess failed: " + std::to_string(GetLastError());
    return run;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  run.exitCode = static_cast<int>(code);
  run.out = ReadWhole(outPath);
  run.err = ReadWhole(errPath);
  DeleteFileA(outPath.c_str());
  DeleteFileA(errPath.c_str());
  return run;
}

#else

ToolRun RunPackTool(const std::vector<std::string>& arguments, const ToolRunOptions& options) {
  ToolRun run;
  std::string outPath = options.folder + "/../run.out";
  std::string errPath = options.folder + "/../run.err";
  std::string tool = ToolPath();
  std::vector<char*> argv;
  argv.push_back(tool.data());
  std::vector<std::string> copies = arguments;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int terminal = -1;
  std::string terminalName;
  if (options.errorTerminal) {
    terminal = posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0 || ptsname(terminal) == nullptr) {
      run.err = "no pseudo-terminal";
      return run;
    }
    terminalName = ptsname(terminal);
  }
  pid_t child = fork();
  if (child == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = terminal >= 0 ? open(terminalName.c_str(), O_WRONLY | O_NOCTTY)
                            : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || chdir(options.folder.c_str()) != 0) _exit(125);
    if (terminal >= 0) close(terminal);
    dup2(out, 1);
    dup2(err, 2);
    if (!options.locale.empty()) setenv("LC_ALL", options.locale.c_str(), 1);
    for (const auto& [name, value] : options.environment) {
      if (value == nullptr) {
        unsetenv(name.c_str());
      } else {
        setenv(name.c_str(), value, 1);
      }
    }
    if (options.fileSizeLimit != 0) {
      rlimit limit = {options.fileSizeLimit, options.fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    execv(tool.c_str(), argv.data());
    _exit(126);
  }
  std::string shown;
  if (terminal >= 0) {
    // Read as the child writes, so that a full terminal never holds it up;
    // the read fails once the child has closed its side.
    char buffer[4096];
    ssize_t got;
    while (child > 0 && (got = read(terminal, buffer, sizeof buffer)) > 0) shown.append(buffer, size_t(got));
    close(terminal);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) {
    run.err = "could not run packtool";
    return run;
  }
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = ReadWhole(outPath);
  run.err = terminal >= 0 ? shown : ReadWhole(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return run;
}

#endif
