#include "agent/audio/owning_app.h"
#include "agent/audio/parent_pid.h"
#include "audio_fixture.h"

using namespace tondrel;

namespace {

using sim::apps::App;
using sim::processes::Process;

class ParentPidTest : public AudioWorld {};

TEST_F(ParentPidTest, AnswersOnlyParentsThatCanOwnSomething) {
  sim::processes::set({{10, 0}, {11, 1}, {12, 2}, {13, 600}, {14, -5}, {15, 600, {}, true}});
  EXPECT_EQ(parentPid(10), std::nullopt);
  EXPECT_EQ(parentPid(11), std::nullopt);
  EXPECT_EQ(parentPid(12), std::optional<pid_t>(2));
  EXPECT_EQ(parentPid(13), std::optional<pid_t>(600));
  EXPECT_EQ(parentPid(14), std::nullopt);
  EXPECT_EQ(parentPid(15), std::nullopt);  // the query fails
  EXPECT_EQ(parentPid(16), std::nullopt);  // no record: the process has exited
  EXPECT_EQ(sim::processes::queries(), 7);
}

App regular(pid_t pid, const char* bundleId, const char* name) {
  return App{pid, platform::activationPolicyRegular, std::string(bundleId), std::string(name)};
}

struct AttributionCase {
  const char* name;
  std::vector<Process> processes;
  std::vector<App> apps;
  pid_t asked = 0;
  std::optional<ExpectedApp> expected;
  bool responsibleFunction = true;
};

// 600 is the process asked about in most cases; 7xx are its ancestors.
const AttributionCase attributionCases[] = {
    {"ApplicationAskedAboutItself",
     {{600, 1}},
     {regular(600, "com.example.app", "App")},
     600,
     ExpectedApp{600, "com.example.app", "App"}},
    {"ResponsibleBeatsSelfAndAncestors",
     {{600, 701, 500}, {701, 1}, {500, 1}},
     {regular(600, "com.example.self", "Self"), regular(701, "com.example.parent", "Parent"),
      regular(500, "com.example.owner", "Owner")},
     600,
     ExpectedApp{500, "com.example.owner", "Owner"}},
    {"SelfBeatsAncestors",
     {{600, 701}, {701, 1}},
     {regular(600, "com.example.self", "Self"), regular(701, "com.example.parent", "Parent")},
     600,
     ExpectedApp{600, "com.example.self", "Self"}},
    {"NearestAncestorFirst",
     {{600, 701}, {701, 702}, {702, 703}, {703, 1}},
     {regular(703, "com.example.far", "Far"), regular(702, "com.example.terminal", "Terminal")},
     600,
     ExpectedApp{702, "com.example.terminal", "Terminal"}},
    {"AccessoryIsPassedOver",
     {{600, 701}, {701, 1}},
     {App{600, platform::activationPolicyAccessory, std::string("com.example.menu"),
          std::string("Menu")},
      regular(701, "com.example.parent", "Parent")},
     600,
     ExpectedApp{701, "com.example.parent", "Parent"}},
    {"BundlelessApplicationIsPassedOver",
     {{600, 701}, {701, 1}},
     {App{600, platform::activationPolicyRegular, std::nullopt, std::string("Loose")},
      regular(701, "com.example.parent", "Parent")},
     600,
     ExpectedApp{701, "com.example.parent", "Parent"}},
    {"NamelessApplicationKeepsItsBundleId",
     {{600, 1}},
     {App{600, platform::activationPolicyRegular, std::string("com.example.quiet"), std::nullopt}},
     600,
     ExpectedApp{600, "com.example.quiet", std::nullopt}},
    // Even a regular application registered under pid 1 or 0 is never reached
    // through a parent.
    {"ParentOneIsNoAncestor", {{600, 1}}, {regular(1, "com.example.launcher", "L")}, 600, {}},
    {"ParentZeroIsNoAncestor", {{600, 0}}, {regular(0, "com.example.kernel", "K")}, 600, {}},
    {"SixthAncestorIsReached",
     {{600, 701}, {701, 702}, {702, 703}, {703, 704}, {704, 705}, {705, 706}, {706, 707}, {707, 1}},
     {regular(706, "com.example.sixth", "Sixth")},
     600,
     ExpectedApp{706, "com.example.sixth", "Sixth"}},
    {"SeventhAncestorIsNeverReached",
     {{600, 701}, {701, 702}, {702, 703}, {703, 704}, {704, 705}, {705, 706}, {706, 707}, {707, 1}},
     {regular(707, "com.example.seventh", "Seventh")},
     600,
     {}},
    {"FailedQueryKeepsTheAncestorsFoundSoFar",
     {{600, 701}, {701, 702, {}, true}, {702, 1}},
     {regular(701, "com.example.parent", "Parent"), regular(702, "com.example.grand", "Grand")},
     600,
     ExpectedApp{701, "com.example.parent", "Parent"}},
    {"FailedQueryEndsTheWalk",
     {{600, 701}, {701, 702, {}, true}, {702, 1}},
     {regular(702, "com.example.grand", "Grand")},
     600,
     {}},
    {"ExitedProcessStillFoundInTheRegistry",
     {},
     {regular(600, "com.example.app", "App")},
     600,
     ExpectedApp{600, "com.example.app", "App"}},
    {"ResponsibleZeroIsIgnored",
     {{600, 1, 0}},
     {regular(0, "com.example.zero", "Z"), regular(600, "com.example.app", "App")},
     600,
     ExpectedApp{600, "com.example.app", "App"}},
    {"NegativeResponsibleIsIgnored",
     {{600, 1, -1}},
     {regular(-1, "com.example.minus", "M")},
     600,
     {}},
    {"ResponsibleThatIsNoApplicationFallsThrough",
     {{600, 701, 500}, {701, 1}, {500, 1}},
     {App{500, platform::activationPolicyAccessory, std::string("com.example.helper"),
          std::nullopt},
      regular(701, "com.example.parent", "Parent")},
     600,
     ExpectedApp{701, "com.example.parent", "Parent"}},
    {"WithoutResponsibleFunctionSelfAndAncestorsDecide",
     {{600, 701, 500}, {701, 1}, {500, 1}},
     {regular(500, "com.example.owner", "Owner"), regular(701, "com.example.parent", "Parent")},
     600,
     ExpectedApp{701, "com.example.parent", "Parent"},
     false},
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const AttributionCase& c, std::ostream* os) { *os << c.name; }

class Attribution : public AudioWorld, public ::testing::WithParamInterface<AttributionCase> {};

TEST_P(Attribution, FindsTheFirstQualifyingCandidate) {
  const AttributionCase& c = GetParam();
  sim::processes::set(c.processes);
  sim::apps::set(c.apps);
  sim::processes::setResponsibleFunctionPresent(c.responsibleFunction);
  lookUpResponsibleFunction();

  const std::optional<OwningApp> found = owningApp(c.asked);
  ASSERT_EQ(found.has_value(), c.expected.has_value());
  if (found) {
    EXPECT_EQ(found->pid, c.expected->pid);
    EXPECT_EQ(found->bundleId, c.expected->bundleId);
    EXPECT_EQ(found->name, c.expected->name);
  }
  EXPECT_EQ(sim::processes::responsibleLookups(), c.responsibleFunction ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, Attribution, ::testing::ValuesIn(attributionCases),
                         [](const auto& test) { return std::string(test.param.name); });

class OwningAppTest : public AudioWorld {};

// Every candidate is gathered before the first registry lookup, even when the
// first one qualifies, and the walk stops at the sixth ancestor.
TEST_F(OwningAppTest, BuildsTheWholeCandidateListFirst) {
  sim::processes::set({{600, 701},
                       {701, 702},
                       {702, 703},
                       {703, 704},
                       {704, 705},
                       {705, 706},
                       {706, 707},
                       {707, 708},
                       {708, 1}});
  sim::apps::set({regular(600, "com.example.app", "App")});
  ASSERT_TRUE(owningApp(600).has_value());
  EXPECT_EQ(sim::processes::queries(), 6);
  EXPECT_EQ(sim::apps::lookups(), 1);
}

TEST_F(OwningAppTest, AsksEveryCandidateWhenNoneQualifies) {
  sim::processes::set({{600, 701, 500}, {701, 702}, {702, 1}, {500, 1}});
  EXPECT_FALSE(owningApp(600).has_value());
  // The responsible process, the process itself and its two ancestors.
  EXPECT_EQ(sim::apps::lookups(), 4);
  EXPECT_EQ(sim::processes::queries(), 3);
}

}  // namespace
