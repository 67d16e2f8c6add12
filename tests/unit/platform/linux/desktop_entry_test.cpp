// The rules that turn a Linux desktop's records into application ids and
// names, case by case.
#include "platform/linux/desktop_entry.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using desktop::appIdFromCgroup;
using desktop::appIdFromUnit;
using desktop::execProgram;

namespace {

struct IdCase {
  const char* input;
  std::optional<std::string> id;
};

TEST(DesktopIdFromUnit, ReadsEachLauncherForm) {
  const std::vector<IdCase> cases = {
      {"app-org.gnome.Terminal-1234.scope", "org.gnome.Terminal"},
      {"app-gnome-org.gnome.Nautilus-2345.scope", "org.gnome.Nautilus"},
      {"app-flatpak-org.mozilla.firefox-3456.scope", "org.mozilla.firefox"},
      {"app-gnome-firefox\\x2desr-12345.scope", "firefox-esr"},
      {"app-firefox\\x2desr-6f3b2a9c.scope", "firefox-esr"},
      {"app-org.kde.konsole-b2c3d4e5f6.scope", "org.kde.konsole"},
      {"app-org.kde.dolphin@0b7a9c.service", "org.kde.dolphin"},
      {"app-gnome-org.gnome.Evolution\\x2dalarm\\x2dnotify@autostart.service",
       "org.gnome.Evolution-alarm-notify"},
      {"app-chromium.service", "chromium"},
      {"dbus-:1.2-org.gnome.Calculator@0.service", "org.gnome.Calculator"},
      // Older launchers left dashes in ids unescaped; a known launcher still
      // comes off the front.
      {"app-gnome-firefox-esr-4567.scope", "firefox-esr"},
      // Not applications.
      {"session-2.scope", std::nullopt},
      {"user@1000.service", std::nullopt},
      {"vte-spawn-4b1d2c3e.scope", std::nullopt},
      {"app.slice", std::nullopt},
      {"app-org.gnome.Terminal.slice", std::nullopt},
      {"app-norandom.scope", std::nullopt},
      {"app--1234.scope", std::nullopt},
      {"app-a\\x2fb-1.scope", std::nullopt},  // an id with a slash in it
  };
  for (const auto& c : cases) EXPECT_EQ(appIdFromUnit(c.input), c.id) << c.input;
}

TEST(DesktopIdFromUnit, UnescapesOnlyWholeHexEscapes) {
  EXPECT_EQ(desktop::unescapeUnitName("a\\x2db\\x2Ec"), "a-b.c");
  EXPECT_EQ(desktop::unescapeUnitName("a\\x2"), "a\\x2");
  EXPECT_EQ(desktop::unescapeUnitName("a\\xzzb"), "a\\xzzb");
  EXPECT_EQ(desktop::unescapeUnitName("\\\\x41"), "\\A");
}

TEST(DesktopIdFromCgroup, TakesTheProcesssOwnUnit) {
  const std::vector<IdCase> cases = {
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
       "app-gnome-org.gnome.Nautilus-2345.scope\n",
       "org.gnome.Nautilus"},
      // The innermost unit decides: a shell in the terminal's slice is not the
      // terminal.
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
       "app-org.gnome.Terminal.slice/vte-spawn-0c1d.scope\n",
       std::nullopt},
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
       "app-org.kde.dolphin@0b7a9c.service/sub\n",
       "org.kde.dolphin"},
      {"0::/user.slice/user-1000.slice/session-2.scope\n", std::nullopt},
      {"0::/\n", std::nullopt},
      // A hybrid machine: the named systemd hierarchy when the unified line
      // says nothing.
      {"12:cpu,cpuacct:/\n1:name=systemd:/user.slice/user-1000.slice/user@1000.service/"
       "app-flatpak-com.example.Chat-42.scope\n",
       "com.example.Chat"},
      {"12:cpu:/x\n", std::nullopt},
      {"", std::nullopt},
      {"garbage without colons", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(appIdFromCgroup(c.input), c.id) << c.input;
}

TEST(DesktopExec, FindsTheProgram) {
  const std::vector<IdCase> cases = {
      {"firefox %u", "firefox"},
      {"/usr/bin/chromium --incognito %U", "/usr/bin/chromium"},
      {"\"/opt/My App/run\" --flag %F", "/opt/My App/run"},
      {"\"/opt/say \\\"hi\\\"/app\"", "/opt/say \"hi\"/app"},
      {"env GDK_BACKEND=x11 LANG=C /opt/app/bin/app %f", "/opt/app/bin/app"},
      {"/usr/bin/env -u SESSION_MANAGER FOO=1 app", "app"},
      {"env", std::nullopt},
      {"MOZ_ENABLE_WAYLAND=1 firefox", "firefox"},
      {"  app   arg", "app"},
      {"%U", std::nullopt},
      {"", std::nullopt},
      {"\"unterminated", std::nullopt},
      {"100%% %f", "100%"},
      {"app\\ with\\ spaces", "app with spaces"},
  };
  for (const auto& c : cases) EXPECT_EQ(execProgram(c.input), c.id) << c.input;
}

TEST(DesktopLocale, VariantsBestFirst) {
  using V = std::vector<std::string>;
  EXPECT_EQ(desktop::localeVariants("de_AT.UTF-8@euro"),
            (V{"de_AT@euro", "de_AT", "de@euro", "de"}));
  EXPECT_EQ(desktop::localeVariants("sr_RS@latin"), (V{"sr_RS@latin", "sr_RS", "sr@latin", "sr"}));
  EXPECT_EQ(desktop::localeVariants("fr_CA.UTF-8"), (V{"fr_CA", "fr"}));
  EXPECT_EQ(desktop::localeVariants("ja"), (V{"ja"}));
  EXPECT_EQ(desktop::localeVariants("C"), V{});
  EXPECT_EQ(desktop::localeVariants("C.UTF-8"), V{});
  EXPECT_EQ(desktop::localeVariants("POSIX"), V{});
  EXPECT_EQ(desktop::localeVariants(""), V{});
}

TEST(DesktopLocale, MessagesLocalePrecedence) {
  EXPECT_EQ(desktop::messagesLocale("fr_FR", "de_DE", "en_US"), "fr_FR");
  EXPECT_EQ(desktop::messagesLocale("", "de_DE", "en_US"), "de_DE");
  EXPECT_EQ(desktop::messagesLocale(nullptr, nullptr, "en_US"), "en_US");
  EXPECT_EQ(desktop::messagesLocale(nullptr, "", nullptr), "");
}

TEST(DesktopEntryFile, ReadsTheMainGroupOnly) {
  const char* text =
      "# a comment\n"
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Meeting\n"
      "Name[de]=Besprechung\n"
      "Name[de_AT]=Sitzung\n"
      "Name[sr@latin]=Sastanak\n"
      "Exec=meeting\\s--start %U\n"
      "\n"
      "[Desktop Action New]\n"
      "Name=New Meeting\n"
      "Exec=meeting --new\n";
  const auto entry = desktop::parseDesktopEntry(text);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->type, "Application");
  EXPECT_EQ(entry->name, "Meeting");
  EXPECT_EQ(entry->exec, "meeting --start %U");
  EXPECT_FALSE(entry->hidden);

  struct NameCase {
    const char* locale;
    const char* name;
  };
  const std::vector<NameCase> names = {
      {"de_AT.UTF-8", "Sitzung"},  {"de_DE.UTF-8", "Besprechung"}, {"de", "Besprechung"},
      {"sr_RS@latin", "Sastanak"}, {"sr_RS", "Meeting"},           {"C", "Meeting"},
  };
  for (const auto& c : names) {
    EXPECT_EQ(desktop::localisedName(*entry, desktop::localeVariants(c.locale)), c.name)
        << c.locale;
  }
}

TEST(DesktopEntryFile, HiddenCrlfAndMissingGroup) {
  const auto hidden =
      desktop::parseDesktopEntry("[Desktop Entry]\r\nType=Application\r\nHidden=true\r\n");
  ASSERT_TRUE(hidden);
  EXPECT_TRUE(hidden->hidden);
  EXPECT_EQ(hidden->type, "Application");
  EXPECT_FALSE(hidden->name);

  EXPECT_FALSE(desktop::parseDesktopEntry("[Other]\nName=x\n"));
  EXPECT_FALSE(desktop::parseDesktopEntry(""));

  // Keys of a second main group are not taken.
  const auto twice =
      desktop::parseDesktopEntry("[Desktop Entry]\nName=A\n[Desktop Entry]\nExec=b\n");
  ASSERT_TRUE(twice);
  EXPECT_EQ(twice->name, "A");
  EXPECT_FALSE(twice->exec);
}

TEST(DesktopFolders, SearchOrderAndDefaults) {
  using V = std::vector<std::string>;
  EXPECT_EQ(desktop::applicationDirs("/h/data", "/a:/b/", "/home/u"),
            (V{"/h/data/applications", "/a/applications", "/b/applications"}));
  EXPECT_EQ(desktop::applicationDirs(nullptr, nullptr, "/home/u"),
            (V{"/home/u/.local/share/applications", "/usr/local/share/applications",
               "/usr/share/applications"}));
  // Relative entries and an empty list count as unset; duplicates go.
  EXPECT_EQ(desktop::applicationDirs("rel", ":rel2:/usr/share:/usr/share", "/home/u"),
            (V{"/home/u/.local/share/applications", "/usr/share/applications"}));
  EXPECT_EQ(desktop::applicationDirs("", "", nullptr),
            (V{"/usr/local/share/applications", "/usr/share/applications"}));
}

TEST(DesktopFolders, IdOfAPath) {
  const std::vector<std::string> dirs = {"/home/u/.local/share/applications",
                                         "/usr/share/applications"};
  const std::vector<IdCase> cases = {
      {"/usr/share/applications/org.example.App.desktop", "org.example.App"},
      {"/usr/share/applications/kde4/konsole.desktop", "kde4-konsole"},
      {"/usr/share/applications/../applications/x.desktop", "x"},
      {"/opt/elsewhere/tool.desktop", "tool"},
      {"/usr/share/applications/readme.txt", std::nullopt},
      {"/usr/share/applications/.desktop", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(desktop::desktopIdOfPath(c.input, dirs), c.id) << c.input;
}

}  // namespace
