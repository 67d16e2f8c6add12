#include "platform/linux/programs.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <set>

namespace desktop {

namespace {

std::string_view baseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view folderOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return slash == 0 ? std::string_view("/") : path.substr(0, slash);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The name without a version after it: "python3.11" -> "python",
// "perl5.36.0" -> "perl", "node18" -> "node", "lua5.4" -> "lua". A name that
// is all version is left as it is.
std::string_view withoutVersion(std::string_view name) {
  std::size_t end = name.size();
  while (end > 0 && (isDigit(name[end - 1]) || name[end - 1] == '.')) --end;
  if (end == 0 || end == name.size()) return name;
  // A separator between name and version goes too: "openjdk-17", "lua-5.4".
  if (name[end - 1] == '-' || name[end - 1] == '_') --end;
  return end == 0 ? name : name.substr(0, end);
}

enum class Family { python, perl, ruby, node, java, shell, php, lua, other };

struct Interpreter {
  std::string_view name;
  Family family;
};

// Programs that run the script, module or archive their arguments name.
constexpr std::array<Interpreter, 36> interpreters = {{
    {"python", Family::python}, {"pypy", Family::python},      {"perl", Family::perl},
    {"ruby", Family::ruby},     {"jruby", Family::ruby},       {"node", Family::node},
    {"nodejs", Family::node},   {"bun", Family::node},         {"deno", Family::node},
    {"gjs", Family::node},      {"gjs-console", Family::node}, {"cjs", Family::node},
    {"electron", Family::node}, {"java", Family::java},        {"php", Family::php},
    {"lua", Family::lua},       {"luajit", Family::lua},       {"tclsh", Family::other},
    {"wish", Family::other},    {"guile", Family::other},      {"Rscript", Family::other},
    {"mono", Family::other},    {"dotnet", Family::other},     {"wine", Family::other},
    {"sh", Family::shell},      {"bash", Family::shell},       {"dash", Family::shell},
    {"zsh", Family::shell},     {"ksh", Family::shell},        {"mksh", Family::shell},
    {"fish", Family::shell},    {"tcsh", Family::shell},       {"csh", Family::shell},
    {"busybox", Family::shell}, {"osh", Family::shell},        {"yash", Family::shell},
}};

// Programs that start another program named by their arguments.
// clang-format off
constexpr std::array<std::string_view, 30> launchers = {
    "env",         "flatpak",       "snap",        "xdg-open",       "gtk-launch",
    "gtk4-launch", "gio",           "pkexec",      "sudo",           "doas",
    "kioclient",   "kde-open",      "exo-open",    "nohup",          "setsid",
    "firejail",    "bwrap",         "systemd-run", "dbus-launch",    "dbus-run-session",
    "torsocks",    "gamemoderun",   "prime-run",   "xdg-su",         "kdesu",
    "gksu",        "run-one",       "sensible-browser", "x-www-browser", "start-stop-daemon"};
// clang-format on

const Interpreter* interpreterOf(std::string_view program) {
  const std::string_view name = baseName(program);
  const std::string_view stem = withoutVersion(name);
  for (const Interpreter& interpreter : interpreters) {
    if (interpreter.name == name || interpreter.name == stem) return &interpreter;
  }
  return nullptr;
}

struct Options {
  std::vector<std::string_view> inlineCode;  // the code follows: no script
  std::vector<std::string_view> module;      // the next argument is a module
  std::vector<std::string_view> archive;     // the next argument is the script
  std::vector<std::string_view> valued;      // the next argument is the option's value
};

Options optionsOf(Family family) {
  // clang-format off
  switch (family) {
    case Family::python: return {{"-c"}, {"-m"}, {}, {"-W", "-X"}};
    case Family::perl: return {{"-e", "-E"}, {}, {}, {}};
    case Family::ruby: return {{"-e"}, {}, {}, {"-r", "-I", "-C"}};
    case Family::node:
      return {{"-e", "--eval", "-p", "--print"}, {}, {},
              {"-r", "--require", "--import", "--loader", "--experimental-loader", "--include-path",
               "-I"}};
    case Family::java:
      return {{}, {"-m", "--module"}, {"-jar"},
              {"-cp", "-classpath", "--class-path", "-p", "--module-path", "--add-modules",
               "--add-opens", "--add-exports", "--add-reads"}};
    case Family::shell: return {{"-c"}, {}, {}, {"-o", "+o", "-O", "+O"}};
    case Family::php: return {{"-r"}, {}, {"-f"}, {"-d", "-c", "-z"}};
    case Family::lua: return {{"-e"}, {}, {}, {"-l"}};
    case Family::other: return {};
  }
  // clang-format on
  return {};
}

bool among(const std::vector<std::string_view>& list, std::string_view value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

std::vector<std::string> splitWords(std::string_view text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const std::size_t begin = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > begin) words.emplace_back(text.substr(begin, i - begin));
  }
  return words;
}

bool isName(std::string_view text) {
  if (text.empty() || isDigit(text[0])) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    return c == '_' || isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

// The commands of one line, each as its shell words with quotes kept for the
// expansion below: commands end at ';', '&', '|', and a comment ends the
// line. Reserved words that only open or continue a compound command (then,
// else, do, ...) are dropped from a command's front. Redirections and
// subshells end the reading of the line.
std::vector<std::vector<std::string>> shellCommands(std::string_view line) {
  std::vector<std::vector<std::string>> commands(1);
  std::string current;
  bool inWord = false;
  int depth = 0;  // inside $( ... )
  char quote = 0;
  const auto endWord = [&] {
    if (inWord) commands.back().push_back(std::move(current));
    current.clear();
    inWord = false;
  };
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote != 0) {
      current += c;
      if (c == '\\' && quote != '\'' && i + 1 < line.size()) {
        current += line[++i];
      } else if (c == quote) {
        quote = 0;
      }
      continue;
    }
    if (depth > 0) {
      current += c;
      if (c == '(') ++depth;
      if (c == ')') --depth;
      continue;
    }
    if (c == ' ' || c == '\t') {
      endWord();
      continue;
    }
    if (!inWord && c == '#') break;
    if (c == ';' || c == '&' || c == '|') {
      endWord();
      if (!commands.back().empty()) commands.emplace_back();
      continue;
    }
    if (c == '(' && inWord && !current.empty() && current.back() == '$') {
      current += c;
      depth = 1;
      continue;
    }
    if (c == '(' || c == ')' || c == '<' || c == '>') {
      inWord = false;
      current.clear();
      break;
    }
    inWord = true;
    current += c;
    if (c == '\\' && i + 1 < line.size()) {
      current += line[++i];
    } else if (c == '\'' || c == '"' || c == '`') {
      quote = c;
    }
  }
  if (quote == 0 && depth == 0) endWord();
  for (auto& command : commands) {
    std::size_t reserved = 0;
    while (reserved < command.size() &&
           (command[reserved] == "then" || command[reserved] == "else" ||
            command[reserved] == "do" || command[reserved] == "elif" || command[reserved] == "{" ||
            command[reserved] == "!")) {
      ++reserved;
    }
    command.erase(command.begin(), command.begin() + static_cast<std::ptrdiff_t>(reserved));
  }
  return commands;
}

struct Expansion {
  const std::map<std::string, std::optional<std::string>>& variables;  // nothing: not fixed
  std::string_view invoked;
  std::string_view real;

  // A command substitution: only the script's own folder is understood.
  std::optional<std::string> substitute(std::string_view command) const {
    const bool namesScript = command.find("$0") != std::string_view::npos ||
                             command.find("${0}") != std::string_view::npos ||
                             command.find("BASH_SOURCE") != std::string_view::npos;
    if (command.find("dirname") == std::string_view::npos || !namesScript) return std::nullopt;
    const bool resolved = command.find("readlink") != std::string_view::npos ||
                          command.find("realpath") != std::string_view::npos ||
                          command.find("pwd -P") != std::string_view::npos;
    const std::string_view folder = folderOf(resolved ? real : invoked);
    if (folder.empty()) return std::nullopt;
    return std::string(folder);
  }

  std::optional<std::string> parameter(std::string_view name) const {
    if (name == "0" || name == "BASH_SOURCE" || name == "BASH_SOURCE[0]")
      return std::string(invoked);
    if (name == "0%/*" || name == "BASH_SOURCE%/*" || name == "BASH_SOURCE[0]%/*") {
      const std::string_view folder = folderOf(invoked);
      if (folder.empty()) return std::nullopt;
      return std::string(folder);
    }
    if (!isName(name)) return std::nullopt;
    const auto found = variables.find(std::string(name));
    if (found == variables.end()) return std::nullopt;
    return found->second;
  }

  // Expands `$...` at word[i] (the '$'); advances i past it.
  bool dollar(std::string_view word, std::size_t& i, std::string& out) const {
    if (i + 1 >= word.size()) return false;
    const char next = word[i + 1];
    if (next == '(') {
      int depth = 0;
      for (std::size_t j = i + 1; j < word.size(); ++j) {
        if (word[j] == '(') ++depth;
        if (word[j] == ')' && --depth == 0) {
          const auto value = substitute(word.substr(i + 2, j - i - 2));
          if (!value) return false;
          out += *value;
          i = j;
          return true;
        }
      }
      return false;
    }
    if (next == '{') {
      const std::size_t close = word.find('}', i + 2);
      if (close == std::string_view::npos) return false;
      const auto value = parameter(word.substr(i + 2, close - i - 2));
      if (!value) return false;
      out += *value;
      i = close;
      return true;
    }
    std::size_t end = i + 1;
    if (isDigit(next)) {
      end = i + 2;
    } else {
      while (end < word.size() && isName(word.substr(i + 1, end - i))) ++end;
    }
    if (end == i + 1) return false;
    const auto value = parameter(word.substr(i + 1, end - i - 1));
    if (!value) return false;
    out += *value;
    i = end - 1;
    return true;
  }

  // The word after quote removal and expansion; nothing when any part of it
  // is not fixed.
  std::optional<std::string> word(std::string_view word) const {
    std::string out;
    char quote = 0;
    for (std::size_t i = 0; i < word.size(); ++i) {
      const char c = word[i];
      if (quote == '\'') {
        if (c == '\'') {
          quote = 0;
        } else {
          out += c;
        }
        continue;
      }
      if (c == '\\' && i + 1 < word.size()) {
        out += word[++i];
        continue;
      }
      if (c == '"') {
        quote = quote == '"' ? 0 : '"';
        continue;
      }
      if (c == '\'' && quote == 0) {
        quote = '\'';
        continue;
      }
      if (c == '`') {
        const std::size_t close = word.find('`', i + 1);
        if (close == std::string_view::npos) return std::nullopt;
        const auto value = substitute(word.substr(i + 1, close - i - 1));
        if (!value) return std::nullopt;
        out += *value;
        i = close;
        continue;
      }
      if (c == '$') {
        if (!dollar(word, i, out)) return std::nullopt;
        continue;
      }
      if (quote == 0 && (c == '*' || c == '?' || c == '[' || c == '~')) return std::nullopt;
      out += c;
    }
    if (quote != 0) return std::nullopt;
    return out;
  }
};

bool isAssignmentWord(std::string_view word) {
  const std::size_t equals = word.find('=');
  return equals != std::string_view::npos && equals > 0 && isName(word.substr(0, equals));
}

}  // namespace

ProgramKind programKind(std::string_view program) {
  if (interpreterOf(program) != nullptr) return ProgramKind::interpreter;
  const std::string_view name = baseName(program);
  const std::string_view stem = withoutVersion(name);
  for (const std::string_view launcher : launchers) {
    if (launcher == name || launcher == stem) return ProgramKind::launcher;
  }
  return ProgramKind::application;
}

std::optional<std::string> scriptArgument(std::string_view interpreter,
                                          const std::vector<std::string>& arguments) {
  const Interpreter* known = interpreterOf(interpreter);
  const Options options = optionsOf(known != nullptr ? known->family : Family::other);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--") {
      if (i + 1 < arguments.size() && !arguments[i + 1].empty()) return arguments[i + 1];
      return std::nullopt;
    }
    // A lone "-" reads the program from standard input.
    if (argument.empty() || argument == "-") return std::nullopt;
    if (argument[0] != '-' && argument[0] != '+') return argument;
    if (argument[0] == '+' && !among(options.valued, argument)) return argument;
    if (among(options.inlineCode, argument)) return std::nullopt;
    if (among(options.module, argument)) {
      if (i + 1 < arguments.size()) return "-m " + arguments[i + 1];
      return std::nullopt;
    }
    if (among(options.archive, argument)) {
      if (i + 1 < arguments.size()) return arguments[i + 1];
      return std::nullopt;
    }
    if (among(options.valued, argument)) ++i;
    // Inline code may also be joined to its option: python -c'...'.
    for (const std::string_view code : options.inlineCode) {
      if (code.size() == 2 && argument.size() > 2 && argument.compare(0, 2, code) == 0) {
        return std::nullopt;
      }
    }
  }
  return std::nullopt;
}

std::optional<Shebang> shebang(std::string_view text) {
  if (text.substr(0, 2) != "#!") return std::nullopt;
  std::string_view line = text.substr(
      2, text.find('\n') == std::string_view::npos ? std::string_view::npos : text.find('\n') - 2);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::vector<std::string> words = splitWords(line);
  if (words.empty()) return std::nullopt;
  std::size_t first = 0;
  if (baseName(words[0]) == "env") {
    first = 1;
    while (first < words.size() && (words[first][0] == '-' || isAssignmentWord(words[first])))
      ++first;
    if (first >= words.size()) return std::nullopt;
  }
  Shebang result;
  result.program = words[first];
  result.arguments.assign(words.begin() + static_cast<std::ptrdiff_t>(first) + 1, words.end());
  return result;
}

namespace {

// One command of a wrapper: an assignment is remembered, an exec's program
// added to the targets. False when the script execs an interpreter or a
// launcher.
bool command(const std::vector<std::string>& words, const Expansion& expand,
             std::map<std::string, std::optional<std::string>>& variables,
             std::set<std::string>& targets) {
  std::size_t first = 0;
  if (!words.empty() && (words[0] == "export" || words[0] == "readonly" || words[0] == "local" ||
                         words[0] == "declare" || words[0] == "typeset")) {
    first = 1;
    while (first < words.size() && words[first][0] == '-') ++first;
  }
  if (first >= words.size()) return true;
  if (isAssignmentWord(words[first])) {
    bool runs = false;
    for (std::size_t i = first; i < words.size(); ++i) runs = runs || !isAssignmentWord(words[i]);
    if (runs) return true;  // assignments for one command only
    for (std::size_t i = first; i < words.size(); ++i) {
      const std::size_t equals = words[i].find('=');
      const std::string name = words[i].substr(0, equals);
      std::optional<std::string> value = expand.word(std::string_view(words[i]).substr(equals + 1));
      // A variable the script sets to different things is not fixed.
      const auto earlier = variables.find(name);
      if (earlier != variables.end() && earlier->second != value) value.reset();
      variables[name] = std::move(value);
    }
    return true;
  }
  if (words[first] != "exec") return true;
  std::size_t i = first + 1;
  while (i < words.size() && words[i][0] == '-') {
    if (words[i] == "--") {
      ++i;
      break;
    }
    i += words[i] == "-a" ? 2 : 1;
  }
  while (i < words.size() && isAssignmentWord(words[i])) ++i;
  // `exec env NAME=value program` runs the program.
  if (i < words.size() && baseName(words[i]) == "env") {
    ++i;
    while (i < words.size() && (words[i][0] == '-' || isAssignmentWord(words[i]))) ++i;
  }
  if (i >= words.size()) return true;
  std::optional<std::string> program = expand.word(words[i]);
  if (!program || program->empty() || (*program)[0] != '/') return true;
  std::string normal = std::filesystem::path(*program).lexically_normal().generic_string();
  if (programKind(normal) != ProgramKind::application) return false;
  targets.insert(std::move(normal));
  return true;
}

}  // namespace

std::optional<std::string> wrapperTarget(std::string_view text, std::string_view invoked,
                                         std::string_view real) {
  const std::optional<Shebang> interpreter = shebang(text);
  if (!interpreter) return std::nullopt;
  const Interpreter* known = interpreterOf(interpreter->program);
  if (known == nullptr || known->family != Family::shell) return std::nullopt;

  std::map<std::string, std::optional<std::string>> variables;
  const Expansion expand{variables, invoked, real};
  std::set<std::string> targets;
  std::string line;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    std::string_view part = text.substr(begin, end - begin);
    begin = end + 1;
    if (!part.empty() && part.back() == '\r') part.remove_suffix(1);
    // A backslash at the end of a line continues the command on the next.
    if (!part.empty() && part.back() == '\\') {
      line.append(part.substr(0, part.size() - 1));
      continue;
    }
    line.append(part);
    const std::vector<std::vector<std::string>> commands = shellCommands(line);
    line.clear();
    for (const std::vector<std::string>& words : commands) {
      if (!command(words, expand, variables, targets)) return std::nullopt;
    }
  }
  if (targets.size() != 1) return std::nullopt;
  return *targets.begin();
}

}  // namespace desktop
