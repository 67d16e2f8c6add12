#include "platform/linux/desktop_entry.h"

#include <algorithm>
#include <array>
#include <filesystem>

namespace desktop {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t begin = 0;
  while (true) {
    const std::size_t end = text.find(separator, begin);
    parts.push_back(text.substr(begin, end == std::string_view::npos ? end : end - begin));
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
  return parts;
}

std::string_view trim(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

// Launchers that put their own name between "app-" and the id. Only needed for
// the old, unescaped form where the id may itself contain dashes.
constexpr std::array<std::string_view, 8> knownLaunchers = {"gnome", "flatpak",  "kde",  "xfce",
                                                            "xfce4", "cinnamon", "mate", "lxqt"};

bool plausibleId(std::string_view id) {
  if (id.empty() || id.size() > 255) return false;
  return std::none_of(id.begin(), id.end(),
                      [](char c) { return c == '/' || static_cast<unsigned char>(c) < 0x20; });
}

// Undoes the escapes every string value of a desktop entry may hold.
std::string unescapeValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (const char next = value[++i]) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      // Other escapes (the Exec quoting's among them) are left for whoever
      // reads the value next.
      default:
        out += '\\';
        out += next;
    }
  }
  return out;
}

bool isAssignment(std::string_view token) {
  const std::size_t equals = token.find('=');
  if (equals == 0 || equals == std::string_view::npos) return false;
  const std::string_view name = token.substr(0, equals);
  if (name[0] >= '0' && name[0] <= '9') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

// Splits an Exec value into its arguments: double quotes group, and inside
// them a backslash makes the next character literal. Field codes are dropped
// and "%%" becomes "%". Nothing for an unterminated quote.
std::optional<std::vector<std::string>> execArguments(std::string_view exec) {
  std::vector<std::string> arguments;
  std::string current;
  bool inToken = false;
  bool quoted = false;
  bool onlyFieldCode = true;  // whether the token so far is a lone field code
  for (std::size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\\' && i + 1 < exec.size()) {
        current += exec[++i];
      } else {
        current += c;
      }
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inToken) {
        if (!(onlyFieldCode && current.size() == 2 && current[0] == '%' && current[1] != '%')) {
          arguments.push_back(current);
        }
        current.clear();
        inToken = false;
        onlyFieldCode = true;
      }
      continue;
    }
    if (!inToken) inToken = true;
    if (c == '"') {
      quoted = true;
      onlyFieldCode = false;
    } else if (c == '\\' && i + 1 < exec.size()) {
      current += exec[++i];
      onlyFieldCode = false;
    } else if (c == '%' && i + 1 < exec.size()) {
      const char code = exec[++i];
      if (code == '%') {
        current += '%';
        onlyFieldCode = false;
      } else {
        // Field codes inside a longer word expand to nothing.
        current += '%';
        current += code;
      }
    } else {
      current += c;
      onlyFieldCode = false;
    }
  }
  if (quoted) return std::nullopt;
  if (inToken &&
      !(onlyFieldCode && current.size() == 2 && current[0] == '%' && current[1] != '%')) {
    arguments.push_back(current);
  }
  return arguments;
}

}  // namespace

std::string unescapeUnitName(std::string_view escaped) {
  std::string out;
  out.reserve(escaped.size());
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '\\' && i + 3 < escaped.size() && escaped[i + 1] == 'x') {
      const int high = hexDigit(escaped[i + 2]);
      const int low = hexDigit(escaped[i + 3]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 3;
        continue;
      }
    }
    out += escaped[i];
  }
  return out;
}

std::optional<std::string> appIdFromUnit(std::string_view unit) {
  if (startsWith(unit, "dbus-:") && endsWith(unit, ".service")) {
    // dbus-:1.23-org.example.App@0.service: the bus's unique name holds no dash.
    std::string_view body = unit.substr(6, unit.size() - 6 - 8);
    const std::size_t dash = body.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    body = body.substr(dash + 1);
    body = body.substr(0, body.find('@'));
    std::string id = unescapeUnitName(body);
    if (!plausibleId(id)) return std::nullopt;
    return id;
  }
  if (!startsWith(unit, "app-")) return std::nullopt;
  std::string_view body;
  if (endsWith(unit, ".scope")) {
    body = unit.substr(4, unit.size() - 4 - 6);
    // A scope always ends in a random part of its own.
    const std::size_t dash = body.rfind('-');
    if (dash == std::string_view::npos) return std::nullopt;
    body = body.substr(0, dash);
  } else if (endsWith(unit, ".service")) {
    body = unit.substr(4, unit.size() - 4 - 8);
    body = body.substr(0, body.find('@'));
  } else {
    return std::nullopt;
  }
  std::vector<std::string_view> parts = split(body, '-');
  // The id's own dashes are escaped, so two parts are a launcher and an id.
  // Unescaped ids from older launchers may have more: then only a launcher we
  // know of is taken off the front.
  std::size_t first = 0;
  if (parts.size() == 2) {
    first = 1;
  } else if (parts.size() > 2 && std::find(knownLaunchers.begin(), knownLaunchers.end(),
                                           parts[0]) != knownLaunchers.end()) {
    first = 1;
  }
  std::string joined;
  for (std::size_t i = first; i < parts.size(); ++i) {
    if (i > first) joined += '-';
    joined += parts[i];
  }
  std::string id = unescapeUnitName(joined);
  if (!plausibleId(id)) return std::nullopt;
  return id;
}

std::optional<std::string> appIdFromCgroup(std::string_view cgroupFile) {
  std::optional<std::string_view> unified;
  std::optional<std::string_view> named;
  for (std::string_view line : split(cgroupFile, '\n')) {
    const std::size_t firstColon = line.find(':');
    if (firstColon == std::string_view::npos) continue;
    const std::size_t secondColon = line.find(':', firstColon + 1);
    if (secondColon == std::string_view::npos) continue;
    const std::string_view hierarchy = line.substr(0, firstColon);
    const std::string_view controllers = line.substr(firstColon + 1, secondColon - firstColon - 1);
    const std::string_view path = line.substr(secondColon + 1);
    if (hierarchy == "0" && controllers.empty()) {
      unified = path;
    } else if (controllers == "name=systemd") {
      named = path;
    }
  }
  const std::optional<std::string_view> path = unified ? unified : named;
  if (!path) return std::nullopt;
  // The innermost unit is the process's own: a shell in a terminal's
  // vte-spawn scope is not the terminal, even below the terminal's slice.
  std::vector<std::string_view> components = split(*path, '/');
  for (auto component = components.rbegin(); component != components.rend(); ++component) {
    if (endsWith(*component, ".scope") || endsWith(*component, ".service")) {
      return appIdFromUnit(*component);
    }
  }
  return std::nullopt;
}

std::vector<std::string> execCommand(std::string_view exec) {
  std::optional<std::vector<std::string>> arguments = execArguments(exec);
  if (!arguments) return {};
  std::size_t index = 0;
  auto& args = *arguments;
  const auto baseName = [](const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
  };
  if (index < args.size() && baseName(args[index]) == "env") {
    ++index;
    while (index < args.size()) {
      const std::string& token = args[index];
      if (token == "-u" || token == "-C" || token == "--unset" || token == "--chdir") {
        index += 2;
      } else if (!token.empty() && token[0] == '-') {
        ++index;
      } else if (isAssignment(token)) {
        ++index;
      } else {
        break;
      }
    }
  } else {
    while (index < args.size() && isAssignment(args[index])) ++index;
  }
  if (index >= args.size() || args[index].empty()) return {};
  args.erase(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(index));
  return std::move(args);
}

std::optional<std::string> execProgram(std::string_view exec) {
  std::vector<std::string> command = execCommand(exec);
  if (command.empty()) return std::nullopt;
  return std::move(command.front());
}

std::vector<std::string> localeVariants(std::string_view locale) {
  if (locale.empty() || locale == "C" || locale == "POSIX" || startsWith(locale, "C.")) return {};
  std::string_view modifier;
  if (const std::size_t at = locale.find('@'); at != std::string_view::npos) {
    modifier = locale.substr(at + 1);
    locale = locale.substr(0, at);
  }
  if (const std::size_t dot = locale.find('.'); dot != std::string_view::npos) {
    locale = locale.substr(0, dot);
  }
  std::string_view country;
  if (const std::size_t underscore = locale.find('_'); underscore != std::string_view::npos) {
    country = locale.substr(underscore + 1);
    locale = locale.substr(0, underscore);
  }
  if (locale.empty()) return {};
  const std::string lang(locale);
  std::vector<std::string> variants;
  if (!country.empty() && !modifier.empty()) {
    variants.push_back(lang + "_" + std::string(country) + "@" + std::string(modifier));
  }
  if (!country.empty()) variants.push_back(lang + "_" + std::string(country));
  if (!modifier.empty()) variants.push_back(lang + "@" + std::string(modifier));
  variants.push_back(lang);
  return variants;
}

std::string messagesLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  for (const char* value : {lcAll, lcMessages, lang}) {
    if (value != nullptr && value[0] != '\0') return value;
  }
  return {};
}

std::optional<DesktopEntry> parseDesktopEntry(std::string_view text) {
  DesktopEntry entry;
  bool inMain = false;
  bool seenMain = false;
  bool seenName = false;
  bool seenExec = false;
  bool seenType = false;
  for (std::string_view line : split(text, '\n')) {
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      // Only the first main group counts; a repeated one is an error in the
      // file, and what followed it is not trusted.
      inMain = line == "[Desktop Entry]" && !seenMain;
      seenMain = seenMain || inMain;
      continue;
    }
    if (!inMain) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = trim(line.substr(0, equals));
    const std::string value = unescapeValue(trim(line.substr(equals + 1)));
    if (key == "Type" && !seenType) {
      entry.type = value;
      seenType = true;
    } else if (key == "Name" && !seenName) {
      entry.name = value;
      seenName = true;
    } else if (startsWith(key, "Name[") && endsWith(key, "]") && key.size() > 6) {
      entry.localisedNames.emplace(std::string(key.substr(5, key.size() - 6)), value);
    } else if (key == "Exec" && !seenExec) {
      entry.exec = value;
      seenExec = true;
    } else if (key == "TryExec" && !entry.tryExec) {
      entry.tryExec = value;
    } else if (key == "StartupWMClass" && !entry.startupWmClass) {
      entry.startupWmClass = value;
    } else if (key == "Hidden") {
      entry.hidden = value == "true";
    }
  }
  if (!seenMain) return std::nullopt;
  return entry;
}

std::optional<std::string> localisedName(const DesktopEntry& entry,
                                         const std::vector<std::string>& variants) {
  for (const std::string& variant : variants) {
    auto found = entry.localisedNames.find(variant);
    if (found != entry.localisedNames.end()) return found->second;
  }
  return entry.name;
}

std::vector<std::string> applicationDirs(const char* xdgDataHome, const char* xdgDataDirs,
                                         const char* home) {
  std::vector<std::string> bases;
  if (xdgDataHome != nullptr && xdgDataHome[0] == '/') {
    bases.emplace_back(xdgDataHome);
  } else if (home != nullptr && home[0] == '/') {
    bases.push_back(std::string(home) + "/.local/share");
  }
  const std::string_view dataDirs = xdgDataDirs != nullptr && xdgDataDirs[0] != '\0'
                                        ? xdgDataDirs
                                        : "/usr/local/share:/usr/share";
  for (std::string_view dir : split(dataDirs, ':')) {
    if (!dir.empty() && dir[0] == '/') bases.emplace_back(dir);
  }
  std::vector<std::string> dirs;
  for (std::string& base : bases) {
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string dir = base == "/" ? "/applications" : base + "/applications";
    if (std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) dirs.push_back(std::move(dir));
  }
  return dirs;
}

std::optional<std::string> desktopIdOfPath(std::string_view path,
                                           const std::vector<std::string>& dirs) {
  if (!endsWith(path, ".desktop")) return std::nullopt;
  const std::string normal =
      std::filesystem::path(std::string(path)).lexically_normal().generic_string();
  std::string id;
  for (const std::string& dir : dirs) {
    const std::string prefix = dir + "/";
    if (normal.size() > prefix.size() && startsWith(normal, prefix)) {
      id = normal.substr(prefix.size());
      std::replace(id.begin(), id.end(), '/', '-');
      break;
    }
  }
  if (id.empty()) {
    const std::size_t slash = normal.rfind('/');
    id = slash == std::string::npos ? normal : normal.substr(slash + 1);
  }
  id.resize(id.size() - 8);
  if (!plausibleId(id)) return std::nullopt;
  return id;
}

}  // namespace desktop
