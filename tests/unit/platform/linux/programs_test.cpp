// What a program is and what a wrapper script execs, case by case.
#include "platform/linux/programs.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using desktop::ProgramKind;

namespace {

TEST(ProgramKind, InterpretersWhateverTheirVersion) {
  struct Case {
    const char* program;
    ProgramKind kind;
  };
  const std::vector<Case> cases = {
      {"/usr/bin/python3.11", ProgramKind::interpreter},
      {"python3.12", ProgramKind::interpreter},
      {"/usr/bin/python3", ProgramKind::interpreter},
      {"pypy3", ProgramKind::interpreter},
      {"perl5.36.0", ProgramKind::interpreter},
      {"/usr/bin/ruby3.1", ProgramKind::interpreter},
      {"node18", ProgramKind::interpreter},
      {"nodejs", ProgramKind::interpreter},
      {"/usr/lib/jvm/java-17-openjdk-amd64/bin/java", ProgramKind::interpreter},
      {"lua5.4", ProgramKind::interpreter},
      {"tclsh8.6", ProgramKind::interpreter},
      {"/bin/sh", ProgramKind::interpreter},
      {"/usr/bin/bash", ProgramKind::interpreter},
      {"dash", ProgramKind::interpreter},
      {"gjs-console", ProgramKind::interpreter},
      {"flatpak", ProgramKind::launcher},
      {"/usr/bin/env", ProgramKind::launcher},
      {"xdg-open", ProgramKind::launcher},
      {"kioclient5", ProgramKind::launcher},
      // Applications, including ones whose names begin like an interpreter's
      // or end in digits.
      {"/usr/lib/chromium/chromium", ProgramKind::application},
      {"/usr/lib/firefox-esr/firefox-esr", ProgramKind::application},
      {"pythonista", ProgramKind::application},
      {"bashtop", ProgramKind::application},
      {"shotwell", ProgramKind::application},
      {"javaws-helper", ProgramKind::application},
      {"k3b", ProgramKind::application},
      {"2048", ProgramKind::application},
      {"", ProgramKind::application},
  };
  for (const auto& c : cases) EXPECT_EQ(desktop::programKind(c.program), c.kind) << c.program;
}

TEST(ScriptArgument, FindsWhatTheInterpreterRuns) {
  struct Case {
    const char* interpreter;
    std::vector<std::string> arguments;
    std::optional<std::string> script;
  };
  const std::vector<Case> cases = {
      {"python3.11", {"/usr/bin/meld", "--diff"}, "/usr/bin/meld"},
      {"python3", {"-u", "-W", "ignore", "app.py"}, "app.py"},
      {"python3", {"-m", "http.server", "8000"}, "-m http.server"},
      {"python3", {"-c", "print(1)"}, std::nullopt},
      {"python3", {"-cprint(1)"}, std::nullopt},
      {"python3", {}, std::nullopt},
      {"python3", {"-i"}, std::nullopt},
      {"python3", {"-"}, std::nullopt},
      {"python3", {"--", "-odd-name.py"}, "-odd-name.py"},
      {"perl", {"-w", "-Ilib", "tool.pl"}, "tool.pl"},
      {"perl", {"-e", "print 1"}, std::nullopt},
      {"ruby3.1", {"-r", "json", "app.rb"}, "app.rb"},
      {"node18", {"--require", "./hook.js", "server.js"}, "server.js"},
      {"node", {"-e", "1"}, std::nullopt},
      {"java", {"-Xmx1g", "-jar", "/opt/app/app.jar"}, "/opt/app/app.jar"},
      {"java", {"-cp", "/opt/app/lib/*", "org.example.Main"}, "org.example.Main"},
      {"java", {"--module", "org.example/org.example.Main"}, "-m org.example/org.example.Main"},
      {"bash", {"-o", "pipefail", "/opt/run.sh"}, "/opt/run.sh"},
      {"sh", {"-c", "exec app"}, std::nullopt},
      {"tclsh8.6", {"/usr/share/app/main.tcl"}, "/usr/share/app/main.tcl"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(desktop::scriptArgument(c.interpreter, c.arguments), c.script) << c.interpreter;
  }
}

TEST(Shebang, ReadsTheInterpreterLine) {
  const auto direct = desktop::shebang("#!/usr/bin/python3 -s\nimport sys\n");
  ASSERT_TRUE(direct);
  EXPECT_EQ(direct->program, "/usr/bin/python3");
  EXPECT_EQ(direct->arguments, std::vector<std::string>{"-s"});
  const auto env = desktop::shebang("#! /usr/bin/env -S node --no-warnings\r\n");
  ASSERT_TRUE(env);
  EXPECT_EQ(env->program, "node");
  EXPECT_EQ(env->arguments, std::vector<std::string>{"--no-warnings"});
  EXPECT_FALSE(desktop::shebang("\177ELF\x02\x01"));
  EXPECT_FALSE(desktop::shebang("#!\n"));
  EXPECT_FALSE(desktop::shebang("#!/usr/bin/env\n"));
  EXPECT_FALSE(desktop::shebang(""));
}

// Wrappers as packages install them, shortened to what matters.
TEST(WrapperTarget, FollowsTheExecOfFixedPrograms) {
  struct Case {
    const char* what;
    std::string script;
    std::optional<std::string> target;
  };
  const std::string invoked = "/usr/bin/browser";
  const std::string real = "/opt/vendor/browser/browser-wrapper";
  const std::vector<Case> cases = {
      {"variables built from variables, as Debian's Chromium does",
       "#!/bin/sh\nAPPNAME=chromium\nLIBDIR=/usr/lib/$APPNAME\nCHROMIUM_FLAGS=\"\"\n"
       "if [ $want_debug -eq 1 ] ; then\n  $GDB \"$LIBDIR/$APPNAME\" -x $tmpfile\nelse\n"
       "  if [ $want_temp_profile -eq 0 ] ; then\n    exec $LIBDIR/$APPNAME $CHROMIUM_FLAGS \"$@\"\n"
       "  else\n    $LIBDIR/$APPNAME $CHROMIUM_FLAGS \"$@\"\n  fi\nfi\n",
       "/usr/lib/chromium/chromium"},
      {"the script's own folder, found through readlink, as vendors' browsers do",
       "#!/bin/bash\nHERE=\"`dirname \"$(readlink -f \"${BASH_SOURCE[0]}\")\"`\"\n"
       "export CHROME_WRAPPER=\"`readlink -f \"$0\"`\"\n"
       "exec -a \"$0\" \"$HERE/chrome\" \"$@\"\n",
       "/opt/vendor/browser/chrome"},
      {"the folder as invoked", "#!/bin/sh\nexec \"$(dirname \"$0\")/../lib/app/app\" \"$@\"\n",
       "/usr/lib/app/app"},
      {"the folder by parameter expansion",
       "#!/bin/bash\nexec ${0%/*}/real-browser --flag \"$@\"\n", "/usr/bin/real-browser"},
      {"export and braces",
       "#!/usr/bin/env bash\nexport APP_DIR=/opt/app\nexec \"${APP_DIR}/bin/app\" \"$@\"\n",
       "/opt/app/bin/app"},
      {"a continued line, through env",
       "#!/bin/sh\nexec env GDK_BACKEND=x11 \\\n  /opt/app/app \"$@\"\n", "/opt/app/app"},
      {"assignments before the program", "#!/bin/sh\nexec LANG=C /opt/app/app \"$@\"\n",
       "/opt/app/app"},
      {"a variable from the caller's environment", "#!/bin/sh\nexec \"$APP_HOME/app\" \"$@\"\n",
       std::nullopt},
      {"a variable set to two things",
       "#!/bin/sh\nD=/opt/a\n[ -d /opt/b ] && D=/opt/b\nexec $D/app\n", std::nullopt},
      {"two different programs", "#!/bin/sh\nif x; then exec /opt/a/app; fi\nexec /opt/b/app\n",
       std::nullopt},
      {"the same program twice", "#!/bin/sh\nif x; then exec /opt/a/app --x; fi\nexec /opt/a/app\n",
       "/opt/a/app"},
      {"a relative program", "#!/bin/sh\nexec ./app\n", std::nullopt},
      {"an interpreter", "#!/bin/sh\nexec /usr/bin/python3 /opt/app/main.py \"$@\"\n",
       std::nullopt},
      {"a launcher", "#!/bin/sh\nexec flatpak run org.example.App\n", std::nullopt},
      {"no exec", "#!/bin/sh\n/opt/app/app \"$@\"\nexit $?\n", std::nullopt},
      {"exec in a comment", "#!/bin/sh\n# exec /opt/app/app\n", std::nullopt},
      {"not a shell script", "#!/usr/bin/python3\nexec /opt/app/app\n", std::nullopt},
      {"no shebang", "exec /opt/app/app\n", std::nullopt},
      {"a glob", "#!/bin/sh\nexec /opt/app-*/app\n", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(desktop::wrapperTarget(c.script, invoked, real), c.target) << c.what;
}

}  // namespace
