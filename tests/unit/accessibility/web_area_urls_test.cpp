#include "agent/accessibility/web_area_urls.h"

#include "platform/cf_ref.h"
#include "support/live_objects.h"
#include "unit/accessibility/ax_world.h"

using namespace tondrel;

namespace {

constexpr pid_t testPid = 777;

class WebAreaWalk : public AxWorld {
 protected:
  void SetUp() override {
    AxWorld::SetUp();
    sim::ax::setTrusted(true);
  }

  static Urls walk(sim::ax::Application app) {
    app.pid = testPid;
    sim::ax::setApplication(std::move(app));
    const auto element = adoptCF(AXUIElementCreateApplication(testPid));
    return webAreaUrls(element.get());
  }

  static Urls walk(std::vector<NodePtr> windows) {
    sim::ax::Application app;
    app.windows = std::move(windows);
    return walk(std::move(app));
  }

  // A chain of plain elements below a window: the node at depth `depth`
  // (the window is depth 0) is `bottom`.
  static NodePtr chainTo(std::int64_t depth, NodePtr bottom) {
    NodePtr node = std::move(bottom);
    for (std::int64_t d = depth - 1; d >= 0; --d) {
      node = element(d == 0 ? "AXWindow" : "AXGroup", {node});
    }
    return node;
  }
};

TEST_F(WebAreaWalk, NoUsableWindowsMeansNothingAndNoFurtherReads) {
  struct Case {
    const char* what;
    std::optional<sim::ax::Attribute> windows;
  };
  const std::vector<Case> cases = {
      {"no windows", std::nullopt},
      {"failing read", failure(kAXErrorCannotComplete)},
      {"failing read with windows filled in",
       sim::ax::Attribute{kAXErrorFailure, Value::ofElements({webArea("https://x/")})}},
      {"no value", answer(Value::none())},
      {"one window, not a list", answer(Value::ofElement(webArea("https://x/")))},
      {"a list with a string among windows",
       answer(Value::ofArray({Value::ofElement(webArea("https://x/")), Value::ofString("w")}))},
  };
  for (const Case& c : cases) {
    LiveObjectsUnchanged unchanged;
    sim::ax::reset();
    sim::ax::setTrusted(true);
    sim::ax::Application app;
    app.windowsRead = c.windows;
    EXPECT_EQ(walk(app), Urls{}) << c.what;
    EXPECT_EQ(sim::ax::reads(), 1) << c.what << ": only AXWindows is read";
  }
}

TEST_F(WebAreaWalk, AWindowThatIsAWebAreaIsReportedAndNotSearched) {
  LiveObjectsUnchanged unchanged;
  EXPECT_EQ(walk({webArea("https://outer/", {webArea("https://inner/")})}), Urls{"https://outer/"});
  EXPECT_EQ(sim::ax::reads("AXChildren"), 0);
  EXPECT_EQ(sim::ax::reads("AXRole"), 1);
}

TEST_F(WebAreaWalk, BreadthFirstAcrossWindows) {
  LiveObjectsUnchanged unchanged;
  // The first window's page is at depth 2, the second's at depth 1.
  const NodePtr first = element("AXWindow", {element("AXGroup", {webArea("https://deep/")})});
  const NodePtr second = element("AXWindow", {webArea("https://shallow/")});
  const NodePtr third = webArea("https://window/");
  EXPECT_EQ(walk({first, second, third}),
            (Urls{"https://window/", "https://shallow/", "https://deep/"}));
}

TEST_F(WebAreaWalk, SiblingsInThePlatformsOrderThenTheirChildren) {
  LiveObjectsUnchanged unchanged;
  const NodePtr window =
      element("AXWindow", {element("AXGroup", {webArea("https://a1/"), webArea("https://a2/")}),
                           webArea("https://b/"), element("AXGroup", {webArea("https://c1/")})});
  EXPECT_EQ(walk({window}), (Urls{"https://b/", "https://a1/", "https://a2/", "https://c1/"}));
}

TEST_F(WebAreaWalk, DuplicatesStayAndNestedPagesAreNeverFound) {
  LiveObjectsUnchanged unchanged;
  const NodePtr window =
      element("AXWindow", {webArea("https://same/", {webArea("https://nested/")}),
                           element("AXGroup", {webArea("https://same/")})});
  EXPECT_EQ(walk({window}), (Urls{"https://same/", "https://same/"}));
}

TEST_F(WebAreaWalk, AWebAreaWithoutAUrlObjectAddsNothingAndIsNotSearched) {
  struct Case {
    const char* what;
    sim::ax::Attribute url;
  };
  const std::vector<Case> cases = {
      {"a string", answer(Value::ofString("https://string/"))},
      {"no value", answer(Value::none())},
      {"failing read", failure()},
      {"failing read with a URL filled in", {kAXErrorFailure, Value::ofUrl("https://stale/")}},
  };
  for (const Case& c : cases) {
    LiveObjectsUnchanged unchanged;
    const NodePtr area = element("AXWebArea", {webArea("https://inside/")});
    area->attributes["AXURL"] = c.url;
    EXPECT_EQ(walk({element("AXWindow", {area, webArea("https://next/")})}), Urls{"https://next/"})
        << c.what;
  }
}

TEST_F(WebAreaWalk, ElementsWithoutAUsableRoleAreSearchedBelow) {
  struct Case {
    const char* what;
    std::optional<sim::ax::Attribute> role;
  };
  const std::vector<Case> cases = {
      {"no role attribute", std::nullopt},
      {"failing read", failure(kAXErrorCannotComplete)},
      {"a number", answer(Value::ofInteger(3))},
      {"a URL object", answer(Value::ofUrl("AXWebArea"))},
      {"another letter case", answer(Value::ofString("AXWEBAREA"))},
      {"a longer role", answer(Value::ofString("AXWebAreaX"))},
  };
  for (const Case& c : cases) {
    LiveObjectsUnchanged unchanged;
    const NodePtr odd = element("AXWebArea", {webArea("https://below/")});
    odd->attributes["AXURL"] = answer(Value::ofUrl("https://odd/"));
    if (c.role) {
      odd->attributes["AXRole"] = *c.role;
    } else {
      odd->attributes.erase("AXRole");
    }
    EXPECT_EQ(walk({element("AXWindow", {odd})}), Urls{"https://below/"}) << c.what;
  }
}

TEST_F(WebAreaWalk, UnusableChildrenAddNothing) {
  LiveObjectsUnchanged unchanged;
  const NodePtr failing = element("AXGroup", {webArea("https://hidden/")});
  failing->attributes["AXChildren"] = failure();
  const NodePtr mixed = element("AXGroup");
  mixed->attributes["AXChildren"] =
      answer(Value::ofArray({Value::ofElement(webArea("https://mixed/")), Value::ofInteger(1)}));
  const NodePtr single = element("AXGroup");
  single->attributes["AXChildren"] = answer(Value::ofElement(webArea("https://single/")));
  EXPECT_EQ(walk({element("AXWindow", {failing, mixed, single, webArea("https://ok/")})}),
            Urls{"https://ok/"});
}

TEST_F(WebAreaWalk, DepthLimit) {
  ASSERT_EQ(maxDepth, 30);
  struct Case {
    const char* what;
    NodePtr window;
    Urls urls;
  };
  const std::vector<Case> cases = {
      {"a page at depth 30 is reported", chainTo(30, webArea("https://d30/")), {"https://d30/"}},
      {"a page at depth 31 is never reached",
       chainTo(30, element("AXGroup", {webArea("https://d31/")})),
       {}},
      {"a page at depth 29 is reported", chainTo(29, webArea("https://d29/")), {"https://d29/"}},
  };
  for (const Case& c : cases) {
    LiveObjectsUnchanged unchanged;
    sim::ax::reset();
    sim::ax::setTrusted(true);
    EXPECT_EQ(walk({c.window}), c.urls) << c.what;
  }
  // The element at depth 30 has its role read but not its children: the
  // chain's 30 elements above it are the only ones whose children are read.
  sim::ax::reset();
  sim::ax::setTrusted(true);
  walk({chainTo(30, element("AXGroup", {element("AXGroup")}))});
  EXPECT_EQ(sim::ax::reads("AXRole"), 31);
  EXPECT_EQ(sim::ax::reads("AXChildren"), 30);
}

TEST_F(WebAreaWalk, BudgetCountsEveryEntryTakenWindowsIncluded) {
  ASSERT_EQ(maxElements, 4000);
  // Entries: the window (1st), then its children (2nd, 3rd, ...). The 4000th
  // entry taken is the 3999th child.
  auto windowWith = [](NodePtr entry4000) {
    std::vector<NodePtr> kids(3998, nullptr);
    for (NodePtr& kid : kids) kid = element("AXStaticText");
    kids.push_back(std::move(entry4000));
    kids.push_back(webArea("https://entry-4001/"));
    return element("AXWindow", std::move(kids));
  };
  {
    LiveObjectsUnchanged unchanged;
    EXPECT_EQ(walk({windowWith(webArea("https://entry-4000/"))}), Urls{"https://entry-4000/"});
    EXPECT_EQ(sim::ax::reads("AXRole"), 4000);
    EXPECT_EQ(sim::ax::reads("AXURL"), 1);
  }
  sim::ax::reset();
  sim::ax::setTrusted(true);
  {
    // An ordinary 4000th entry still has its children read and appended, but
    // none of them is taken.
    LiveObjectsUnchanged unchanged;
    EXPECT_EQ(walk({windowWith(element("AXGroup", {webArea("https://grandchild/")}))}), Urls{});
    EXPECT_EQ(sim::ax::reads("AXRole"), 4000);
    EXPECT_EQ(sim::ax::reads("AXChildren"), 4000);
  }
  sim::ax::reset();
  sim::ax::setTrusted(true);
  {
    // Windows count too: of 4001 windows that are pages, 4000 are taken.
    LiveObjectsUnchanged unchanged;
    std::vector<NodePtr> windows;
    for (int i = 1; i <= 4001; ++i) windows.push_back(webArea("https://w/" + std::to_string(i)));
    const Urls urls = walk(windows);
    ASSERT_EQ(urls.size(), 4000u);
    EXPECT_EQ(urls.back(), "https://w/4000");
  }
}

TEST_F(WebAreaWalk, ATreeWhoseElementsReferToEachOtherEndsWithinTheBudget) {
  LiveObjectsUnchanged unchanged;
  const NodePtr loop = element("AXGroup");
  loop->children = {loop, loop};
  EXPECT_EQ(walk({element("AXWindow", {loop})}), Urls{});
  EXPECT_EQ(sim::ax::reads("AXRole"), 4000);
}

TEST_F(WebAreaWalk, EveryCallStartsFromScratch) {
  LiveObjectsUnchanged unchanged;
  sim::ax::Application app;
  app.windows = {element("AXWindow", {webArea("https://one/")})};
  EXPECT_EQ(walk(app), Urls{"https://one/"});
  const auto element = adoptCF(AXUIElementCreateApplication(testPid));
  EXPECT_EQ(webAreaUrls(element.get()), Urls{"https://one/"});
}

}  // namespace
