// What a program is, judged from its name, its command line and the first
// bytes of its file: an application's own binary, an interpreter that runs a
// script, or a launcher that starts something else. Desktop entries and
// processes are matched through these rules, so an entry that runs
// "python3.11" is not taken for every Python program, and an entry whose
// program is a wrapper script is matched to the binary the script execs.
// Everything here is a pure function of its arguments.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace desktop {

enum class ProgramKind {
  application,  // the program is the application
  interpreter,  // runs the script (or module, or archive) its arguments name
  launcher,     // starts another program named by its arguments
};

// The kind of a program from its file name (a path's folder is ignored). A
// version after the name does not change it: python3.11, perl5.36, ruby3.1,
// node18, lua5.4 and tclsh8.6 are interpreters like python, perl, ruby,
// node, lua and tclsh.
ProgramKind programKind(std::string_view program);

// The script an interpreter's command line runs, from the arguments after
// the interpreter: the first argument that is not an option (or an option's
// value). A module or archive the interpreter is told to run counts as the
// script ("-m pkg" for Python, "-jar app.jar" for Java); code given inline
// ("-c", "-e") is no script. Module names come back as "-m NAME".
std::optional<std::string> scriptArgument(std::string_view interpreter,
                                          const std::vector<std::string>& arguments);

// The program a script's "#!" line names and the arguments it gives, with
// "/usr/bin/env [-S] NAME" read as NAME. Nothing for a file without one.
struct Shebang {
  std::string program;
  std::vector<std::string> arguments;
};
std::optional<Shebang> shebang(std::string_view text);

// The fixed program a shell wrapper script ends in: the program of its
// `exec` line, with variables the script assigns plainly (NAME=value, also
// after export) expanded, and the usual ways of naming the script's own
// folder (`dirname "$0"`, `dirname "$(readlink -f "$0")"`, the same with
// BASH_SOURCE, ${0%/*}) read as that folder. `invoked` is the path the
// script is started as, `real` that path with links resolved.
//
// Nothing when the text is not a shell script, when no `exec` line names a
// program that can be worked out this way, when two of them name different
// programs, or when the program is itself an interpreter or launcher (a
// wrapper that execs a debugger or another shell does not make that program
// the application).
std::optional<std::string> wrapperTarget(std::string_view text, std::string_view invoked,
                                         std::string_view real);

}  // namespace desktop
