// Desktop application ids and desktop entries: the pieces that turn what a
// Linux desktop records about a process (its cgroup, its environment, its
// executable) into an application id and a display name. Everything here is a
// pure function of its arguments, so the rules can be tested without a
// desktop.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace desktop {

// Undoes systemd's unit-name escaping: "\xHH" becomes the byte HH; anything
// else is kept as it is.
std::string unescapeUnitName(std::string_view escaped);

// The application id encoded in one systemd unit name, or nothing when the
// unit is not an application's:
//   app-<id>-<random>.scope, app-<launcher>-<id>-<random>.scope,
//   app-<id>[@<random>].service, app-<launcher>-<id>[@<random>].service,
//   dbus-:<bus>-<id>[@<n>].service (applications the session bus started).
std::optional<std::string> appIdFromUnit(std::string_view unit);

// The application id from the text of /proc/PID/cgroup: the innermost
// application unit of the unified hierarchy ("0::/..."), else of the named
// systemd hierarchy ("N:name=systemd:/...").
std::optional<std::string> appIdFromCgroup(std::string_view cgroupFile);

// The program an Exec value starts: the first argument after quoting is undone
// and a leading `env` with its assignments and options is skipped. Nothing for
// an empty or malformed value.
std::optional<std::string> execProgram(std::string_view exec);

// The command an Exec value runs, from its program on (as execProgram finds
// it): the program and its arguments. Empty for an empty or malformed value.
std::vector<std::string> execCommand(std::string_view exec);

// The locale suffixes to try for a localised key, best first, for a locale
// string such as "de_AT.UTF-8@euro": de_AT@euro, de_AT, de@euro, de. Empty
// for "C", "POSIX" and the empty string.
std::vector<std::string> localeVariants(std::string_view locale);

// The locale that messages are shown in, from the values of LC_ALL,
// LC_MESSAGES and LANG in that order of precedence (an empty value counts as
// unset).
std::string messagesLocale(const char* lcAll, const char* lcMessages, const char* lang);

// The parts of a desktop entry's main group that matter here.
struct DesktopEntry {
  std::string type;
  std::optional<std::string> name;
  std::map<std::string, std::string> localisedNames;  // locale suffix -> Name[suffix]
  std::optional<std::string> exec;
  std::optional<std::string> tryExec;
  std::optional<std::string> startupWmClass;
  bool hidden = false;
};

// Parses the [Desktop Entry] group of a desktop file. Nothing when the group is
// missing.
std::optional<DesktopEntry> parseDesktopEntry(std::string_view text);

// The Name to show for the given locale variants (from localeVariants), falling
// back to the plain Name.
std::optional<std::string> localisedName(const DesktopEntry& entry,
                                         const std::vector<std::string>& variants);

// The folders that hold desktop entries, most important first:
// $XDG_DATA_HOME/applications (default ~/.local/share), then each folder of
// $XDG_DATA_DIRS (default /usr/local/share:/usr/share) with /applications.
// Relative entries are ignored, as the base-directory rules ask.
std::vector<std::string> applicationDirs(const char* xdgDataHome, const char* xdgDataDirs,
                                         const char* home);

// The desktop id of a desktop file: its path below one of the application
// folders with "/" turned into "-" and without ".desktop"; for a file outside
// them, its file name without ".desktop". Nothing when the path does not name a
// desktop file.
std::optional<std::string> desktopIdOfPath(std::string_view path,
                                           const std::vector<std::string>& dirs);

}  // namespace desktop
