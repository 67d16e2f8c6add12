#include "agent/accessibility/page_request.h"
#include "agent/accessibility/page_urls.h"

#include "support/live_objects.h"
#include "support/output_capture.h"
#include "unit/accessibility/ax_world.h"

#include <algorithm>

using namespace tondrel;

namespace {

using Actions = std::vector<std::string>;

constexpr pid_t testPid = 300;

Switch readingAs(sim::ax::Attribute read, bool settable) {
  Switch s;
  s.read = std::move(read);
  s.settable = settable;
  return s;
}

class PageUrlQuery : public AxWorld {
 protected:
  void SetUp() override {
    AxWorld::SetUp();
    sim::ax::setTrusted(true);
  }

  static Urls query(pid_t pid) {
    RequestBounds bounds = requestBounds();
    return pageUrls(pid, bounds);
  }
};

// One row per case of the switch-on, each once with a page that the first
// walk finds and once with none to find.
struct SwitchRow {
  const char* what;
  Switch manual;
  Switch enhanced;
  Actions switchOn;   // what the query writes before the first walk
  Actions switchOff;  // what it writes at the end
  bool switched;
};

TEST_F(PageUrlQuery, SwitchOnTableAttemptsWaitsAndFinalWrite) {
  const Switch refusing = readingAs(failure(kAXErrorAttributeUnsupported), false);
  const std::vector<SwitchRow> rows = {
      {"manual already true",
       readingAs(answer(Value::ofBoolean(true)), true),
       readingAs(failure(), true),
       {},
       {},
       false},
      {"manual reads 1, counted as true",
       readingAs(answer(Value::ofInteger(1)), false),
       refusing,
       {},
       {},
       false},
      {"manual not true, set succeeds",
       readingAs(failure(kAXErrorNoValue), true),
       readingAs(answer(Value::ofBoolean(true)), true),
       {"set AXManualAccessibility true ok"},
       {"set AXManualAccessibility false ok"},
       true},
      {"manual false, set succeeds",
       readingAs(answer(Value::ofBoolean(false)), true),
       refusing,
       {"set AXManualAccessibility true ok"},
       {"set AXManualAccessibility false ok"},
       true},
      {"manual refused, enhanced already true",
       refusing,
       readingAs(answer(Value::ofBoolean(true)), true),
       {"set AXManualAccessibility true refused"},
       {},
       false},
      {"manual refused, enhanced set succeeds",
       readingAs(answer(Value::ofInteger(2)), false),
       readingAs(answer(Value::ofString("true")), true),
       {"set AXManualAccessibility true refused", "set AXEnhancedUserInterface true ok"},
       {"set AXEnhancedUserInterface false ok"},
       true},
      {"both refused",
       refusing,
       readingAs(answer(Value::ofBoolean(false)), false),
       {"set AXManualAccessibility true refused", "set AXEnhancedUserInterface true refused"},
       {},
       false},
  };
  for (const SwitchRow& row : rows) {
    for (const bool findsPage : {true, false}) {
      SCOPED_TRACE(std::string(row.what) + (findsPage ? ", page found at once" : ", no page"));
      LiveObjectsUnchanged unchanged;
      sim::ax::reset();
      sim::ax::setTrusted(true);
      loop::threads::useManualClock();
      sim::ax::Application app;
      app.pid = testPid;
      app.manualAccessibility = row.manual;
      app.enhancedUserInterface = row.enhanced;
      if (findsPage) app.windows = {element("AXWindow", {webArea("https://page/")})};
      sim::ax::setApplication(app);
      sim::trace::take();

      const Urls urls = query(testPid);

      Actions expected = {"timeout 1 application"};
      expected.insert(expected.end(), row.switchOn.begin(), row.switchOn.end());
      const int attempts = findsPage ? 1 : row.switched ? 4 : 2;
      for (int walk = 1; walk <= attempts; ++walk) {
        if (walk > 1) expected.push_back("wait 0.3");
        expected.push_back("walk " + std::to_string(walk));
      }
      if (!findsPage && row.switched) expected.push_back("wait 0.3");
      expected.insert(expected.end(), row.switchOff.begin(), row.switchOff.end());
      EXPECT_EQ(actions(), expected);
      EXPECT_EQ(urls, findsPage ? Urls{"https://page/"} : Urls{});
      EXPECT_EQ(sim::ax::applicationElementsCreated(), 1);
      // Only a refused "AXManualAccessibility" leads on to the other one.
      const bool enhancedTouched = !row.switchOn.empty() && row.switchOn[0].ends_with("refused");
      EXPECT_EQ(sim::ax::reads("AXEnhancedUserInterface") > 0, enhancedTouched);
      if (row.switched) {
        // Set back to false, whatever it read before the query.
        const auto name = row.switchOff.front().find("Manual") != std::string::npos
                              ? "AXManualAccessibility"
                              : "AXEnhancedUserInterface";
        const auto state = sim::ax::switchState(testPid, name);
        ASSERT_TRUE(state.has_value());
        EXPECT_EQ(state->value.kind, Value::Kind::boolean);
        EXPECT_FALSE(state->value.boolean);
      }
    }
  }
}

TEST_F(PageUrlQuery, PagesThatAppearOnlyFromTheThirdWalkOn) {
  for (const bool accepts : {true, false}) {
    SCOPED_TRACE(accepts ? "switched on by the query" : "nothing switched on");
    LiveObjectsUnchanged unchanged;
    sim::ax::reset();
    sim::ax::setTrusted(true);
    sim::ax::Application app;
    app.pid = testPid;
    app.manualAccessibility.settable = accepts;
    app.windows = {webArea("https://late/")};
    app.windowsFromWalk = 3;
    sim::ax::setApplication(app);
    EXPECT_EQ(query(testPid), accepts ? Urls{"https://late/"} : Urls{});
    EXPECT_EQ(sim::ax::walks(testPid), accepts ? 3 : 2);
  }
}

TEST_F(PageUrlQuery, ATreeBuiltOnlyOnceSwitchedOnIsFoundOnTheFirstWalk) {
  LiveObjectsUnchanged unchanged;
  sim::ax::Application app;
  app.pid = testPid;
  app.enhancedUserInterface.settable = true;
  app.windowsNeedSwitch = true;
  app.windows = {element("AXWindow", {webArea("https://built/")})};
  sim::ax::setApplication(app);
  sim::trace::take();
  EXPECT_EQ(query(testPid), Urls{"https://built/"});
  EXPECT_EQ(actions(), (Actions{"timeout 1 application", "set AXManualAccessibility true refused",
                                "set AXEnhancedUserInterface true ok", "walk 1",
                                "set AXEnhancedUserInterface false ok"}));
}

TEST_F(PageUrlQuery, AProcessWithoutAnApplicationGetsTwoWalksAndOneWait) {
  LiveObjectsUnchanged unchanged;
  sim::trace::take();
  EXPECT_EQ(query(99999), Urls{});
  EXPECT_EQ(actions(),
            (Actions{"timeout 1 application", "set AXManualAccessibility true refused",
                     "set AXEnhancedUserInterface true refused", "walk 1", "wait 0.3", "walk 2"}));
  EXPECT_EQ(loop::threads::waitCount(), 1);
  EXPECT_DOUBLE_EQ(loop::threads::totalSlept(), 0.3);
}

class PageRequests : public AxWorld {
 protected:
  static void addBrowser(pid_t pid, Urls pages) {
    sim::ax::Application app;
    app.pid = pid;
    app.manualAccessibility = readingAs(answer(Value::ofBoolean(true)), false);
    std::vector<sim::ax::NodePtr> areas;
    for (const std::string& page : pages) areas.push_back(webArea(page));
    app.windows = {element("AXWindow", std::move(areas))};
    sim::ax::setApplication(std::move(app));
  }

  static nlohmann::json reply(const PageRequest& request) {
    OutputCapture capture;
    answerPageRequest(request);
    const auto lines = capture.lines();
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? nlohmann::json() : nlohmann::json::parse(lines[0]);
  }
};

TEST_F(PageRequests, WithoutPermissionNoApplicationIsTouched) {
  LiveObjectsUnchanged unchanged;
  addBrowser(1, {"https://one/"});
  addBrowser(2, {"https://two/"});
  const auto answerJson = reply({-5, {1, 2, 3}});
  EXPECT_EQ(answerJson,
            nlohmann::json::parse(R"({"event":"page-urls","id":-5,"trusted":false,"urls":[]})"));
  EXPECT_EQ(sim::ax::trustChecks(), 1);
  EXPECT_EQ(sim::ax::applicationElementsCreated(), 0);
  EXPECT_EQ(sim::ax::reads(), 0);
  EXPECT_EQ(sim::ax::sets(), 0);
  EXPECT_EQ(actions(), Actions{});
}

TEST_F(PageRequests, UrlsOfEveryPidInOrderWithDuplicates) {
  LiveObjectsUnchanged unchanged;
  sim::ax::setTrusted(true);
  addBrowser(10, {"https://shared/", "https://ten/"});
  addBrowser(20, {"https://shared/"});
  const auto answerJson = reply({9223372036854775807, {20, 10, 30}});
  EXPECT_EQ(answerJson["id"], 9223372036854775807);
  EXPECT_EQ(answerJson["trusted"], true);
  EXPECT_EQ(answerJson["urls"],
            nlohmann::json::parse(R"(["https://shared/","https://shared/","https://ten/"])"));
  EXPECT_EQ(sim::ax::applicationElementsCreated(), 3);
}

TEST_F(PageRequests, AnEmptyPidListStillGetsItsReply) {
  LiveObjectsUnchanged unchanged;
  sim::ax::setTrusted(true);
  EXPECT_EQ(reply({3, {}}),
            nlohmann::json::parse(R"({"event":"page-urls","id":3,"trusted":true,"urls":[]})"));
}

TEST_F(PageRequests, QueuedRequestsAreAnsweredInOrder) {
  LiveObjectsUnchanged unchanged;
  sim::ax::setTrusted(true);
  addBrowser(10, {"https://ten/"});
  OutputCapture capture;
  for (std::int64_t id = 1; id <= 20; ++id) submitPageRequest({id, {10}});
  loop::threads::waitForQueues();
  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 20u);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto line = nlohmann::json::parse(lines[i]);
    EXPECT_EQ(line["id"], static_cast<std::int64_t>(i + 1));
    EXPECT_EQ(line["urls"], nlohmann::json::array({"https://ten/"}));
  }
}

TEST_F(PageRequests, PidsOfBundleIdsInThePlatformsOrderWithoutDeDuplication) {
  sim::apps::set({{11, platform::activationPolicyRegular, "com.example.browser", "Browser"},
                  {12, platform::activationPolicyRegular, "com.example.other", "Other"},
                  {13, platform::activationPolicyRegular, "com.example.browser", "Browser"}});
  EXPECT_EQ(pidsOfBundleIds({"com.example.browser", "com.example.other"}),
            (std::vector<pid_t>{11, 13, 12}));
  EXPECT_EQ(pidsOfBundleIds({"com.example.other", "com.example.missing", "com.example.other"}),
            (std::vector<pid_t>{12, 12}));
  EXPECT_EQ(pidsOfBundleIds({}), std::vector<pid_t>{});
}

// The request's deadline holds across the query: a walk cut by it answers
// what it found, what was switched on is switched off all the same, and an
// application reached after it is not asked at all.
TEST_F(PageUrlQuery, TheDeadlineCutsTheQueryButNotTheSwitchOff) {
  std::vector<NodePtr> pages;
  for (int i = 1; i <= 200; ++i) pages.push_back(webArea("https://p/" + std::to_string(i)));
  sim::ax::Application app;
  app.pid = testPid;
  app.manualAccessibility = readingAs(answer(Value::ofBoolean(false)), true);
  app.windows = {element("AXWindow", pages)};
  app.readSeconds = 0.01;
  sim::ax::setApplication(std::move(app));

  RequestBounds bounds(0.3, maxChildrenPerRequest);
  const Urls urls = pageUrls(testPid, bounds);
  EXPECT_TRUE(bounds.expired());
  ASSERT_FALSE(urls.empty());
  EXPECT_LT(urls.size(), pages.size());
  EXPECT_EQ(urls.front(), "https://p/1");
  const Actions done = actions();
  ASSERT_GE(done.size(), 2u);
  EXPECT_EQ(done.back(), "set AXManualAccessibility false ok");
  // No wait and no second walk after the first was cut.
  EXPECT_EQ(std::count(done.begin(), done.end(), "walk 1"), 1);
  EXPECT_EQ(std::count(done.begin(), done.end(), "wait 0.3"), 0);

  const long created = sim::ax::applicationElementsCreated();
  const long reads = sim::ax::reads();
  EXPECT_EQ(pageUrls(testPid, bounds), Urls{});
  EXPECT_EQ(sim::ax::applicationElementsCreated(), created);
  EXPECT_EQ(sim::ax::reads(), reads);
}

}  // namespace
