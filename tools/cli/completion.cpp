#include "tools/cli/completion.h"

namespace {

// Text in single quotes for a shell: a quote is ended, escaped and begun again.
std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// zsh's _arguments reads ':' and brackets in a description.
std::string ZshText(std::string text) {
  std::string plain;
  for (char c : text) {
    if (c == '[' || c == ']') c = c == '[' ? '(' : ')';
    if (c == ':') plain += '\\';
    if (c == '\'') {
      plain += "'\\''";
      continue;
    }
    plain += c;
  }
  return plain;
}

std::string Words(const std::vector<std::string>& words) {
  std::string joined;
  for (const std::string& word : words) joined += (joined.empty() ? "" : " ") + word;
  return joined;
}

std::string Bash(const std::vector<DeclaredCommand>& commands) {
  std::vector<std::string> names;
  for (const DeclaredCommand& command : commands) names.push_back(command.name);
  std::string script =
      "# bash completion for packtool, written by \"packtool completion bash\"\n"
      "_packtool() {\n"
      "  local cur=\"${COMP_WORDS[COMP_CWORD]}\" options=\"\"\n"
      "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
      "    COMPREPLY=($(compgen -W " +
      Quoted(Words(names) + " --help --version") +
      " -- \"$cur\"))\n"
      "    return\n"
      "  fi\n"
      "  case \"${COMP_WORDS[1]}\" in\n";
  for (const DeclaredCommand& command : commands) {
    std::vector<std::string> options;
    for (const DeclaredOption& option : command.options)
      options.insert(options.end(), option.names.begin(), option.names.end());
    script += "    " + command.name + ") options=" + Quoted(Words(options));
    // help and completion take one word of their own: a command, a shell.
    if (command.name == "help" || command.name == "completion") {
      std::string words = command.name == "help" ? Words(names) : "bash zsh fish";
      script +=
          "\n      if [ \"$COMP_CWORD\" -eq 2 ] && [[ \"$cur\" != -* ]]; then\n"
          "        COMPREPLY=($(compgen -W " +
          Quoted(words) +
          " -- \"$cur\"))\n"
          "        return\n"
          "      fi\n     ";
    }
    script += " ;;\n";
  }
  script +=
      "  esac\n"
      "  # Options where a word starts with \"-\"; else the files and folders the\n"
      "  # shell offers itself.\n"
      "  if [[ \"$cur\" == -* ]]; then COMPREPLY=($(compgen -W \"$options\" -- \"$cur\")); fi\n"
      "}\n"
      "complete -o default -o bashdefault -F _packtool packtool\n";
  return script;
}

std::string Zsh(const std::vector<DeclaredCommand>& commands) {
  std::string script =
      "#compdef packtool\n"
      "# zsh completion for packtool, written by \"packtool completion zsh\"\n"
      "_packtool() {\n"
      "  local -a commands\n"
      "  commands=(\n";
  for (const DeclaredCommand& command : commands) {
    std::string summary = command.summary;
    script += "    '" + command.name + ":" + ZshText(summary) + "'\n";
  }
  script +=
      "  )\n"
      "  if (( CURRENT == 2 )); then\n"
      "    _describe 'command' commands\n"
      "    return\n"
      "  fi\n"
      "  local command=$words[2]\n"
      "  shift words\n"
      "  (( CURRENT-- ))\n"
      "  case $command in\n";
  for (const DeclaredCommand& command : commands) {
    script += "    " + command.name + ")\n      _arguments";
    for (const DeclaredOption& option : command.options) {
      std::string value = option.takesValue
                              ? ":" + ZshText(option.valueName) + ":" +
                                    (option.valueName == "DIR" || option.valueName == "FOLDER" ? "_files -/"
                                     : option.valueName == "FILE"                              ? "_files"
                                                                                               : "")
                              : "";
      std::string text = "[" + ZshText(option.text) + "]";
      if (option.names.size() == 1) {
        script += " \\\n        '" + option.names[0] + text + value + "'";
      } else {
        script += " \\\n        '(" + Words(option.names) + ")'{" + option.names[0];
        for (size_t i = 1; i < option.names.size(); i++) script += "," + option.names[i];
        script += "}'" + text + value + "'";
      }
    }
    if (command.name == "help") {
      script += " \\\n        '1:command:(";
      for (const DeclaredCommand& other : commands) script += other.name + " ";
      script += ")'";
    } else if (command.name == "completion") {
      script += " \\\n        '1:shell:(bash zsh fish)'";
    } else {
      script += " \\\n        '*:file:_files'";
    }
    script += " ;;\n";
  }
  script +=
      "  esac\n"
      "}\n"
      "_packtool \"$@\"\n";
  return script;
}

std::string Fish(const std::vector<DeclaredCommand>& commands) {
  std::string script = "# fish completion for packtool, written by \"packtool completion fish\"\n";
  script += "complete -c packtool -n __fish_use_subcommand -s h -l help -d 'this text'\n";
  script += "complete -c packtool -n __fish_use_subcommand -l version -d 'the version'\n";
  for (const DeclaredCommand& command : commands) {
    const std::string& summary = command.summary;
    script += "complete -c packtool -f -n __fish_use_subcommand -a " + command.name + " -d " + Quoted(summary) + "\n";
  }
  for (const DeclaredCommand& command : commands) {
    std::string when = " -n " + Quoted("__fish_seen_subcommand_from " + command.name);
    if (command.name == "completion") script += "complete -c packtool -f" + when + " -a 'bash zsh fish'\n";
    for (const DeclaredOption& option : command.options) {
      std::string line = "complete -c packtool" + when;
      for (const std::string& name : option.names) {
        line += name.compare(0, 2, "--") == 0 ? " -l " + name.substr(2) : " -s " + name.substr(1);
      }
      if (option.takesValue) line += " -r";
      script += line + " -d " + Quoted(option.text) + "\n";
    }
  }
  return script;
}

}  // namespace

std::string CompletionScript(const std::string& shell, const std::vector<DeclaredCommand>& commands) {
  if (shell == "bash") return Bash(commands);
  if (shell == "zsh") return Zsh(commands);
  if (shell == "fish") return Fish(commands);
  return "";
}
