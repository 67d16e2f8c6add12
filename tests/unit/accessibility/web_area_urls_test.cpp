#include "agent/accessibility/web_area_urls.h"

#include <functional>

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
    RequestBounds bounds = requestBounds();
    return walk(std::move(app), bounds);
  }

  static Urls walk(sim::ax::Application app, RequestBounds& bounds) {
    app.pid = testPid;
    sim::ax::setApplication(std::move(app));
    const auto element = platform::accessibility::applicationElement(testPid, 1.0);
    return webAreaUrls(*element, bounds);
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
    // Once the entries are all appended, nothing more is fetched: the 4000th
    // entry's children are never read, and of the window's 4000 children
    // only the 3999 that fit are kept.
    LiveObjectsUnchanged unchanged;
    EXPECT_EQ(walk({windowWith(element("AXGroup", {webArea("https://grandchild/")}))}), Urls{});
    EXPECT_EQ(sim::ax::reads("AXRole"), 4000);
    EXPECT_EQ(sim::ax::reads("AXChildren"), 1);
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

// Elements are told apart by identity, not by the element objects each read
// hands out: one met again is not visited again.
TEST_F(WebAreaWalk, AnElementMetAgainIsVisitedOnce) {
  struct Case {
    const char* what;
    std::function<std::vector<NodePtr>()> windows;
    Urls urls;
    long roleReads;
  };
  const std::vector<Case> cases = {
      {"its own child, twice",
       [] {
         const NodePtr loop = element("AXGroup");
         loop->children = {loop, loop};
         return std::vector<NodePtr>{element("AXWindow", {loop})};
       },
       {},
       2},
      {"its own child beside a page: the page once, not once per level",
       [] {
         const NodePtr loop = element("AXGroup");
         loop->children = {loop, webArea("https://once/")};
         return std::vector<NodePtr>{element("AXWindow", {loop})};
       },
       {"https://once/"},
       3},
      {"a child that is the window above it",
       [] {
         const NodePtr window = element("AXWindow");
         window->children = {element("AXGroup", {window, webArea("https://in/")})};
         return std::vector<NodePtr>{window};
       },
       {"https://in/"},
       3},
      {"one page listed under two parents",
       [] {
         const NodePtr page = webArea("https://shared/");
         return std::vector<NodePtr>{element("AXWindow", {element("AXGroup", {page}), page})};
       },
       {"https://shared/"},
       3},
      {"the same window listed twice",
       [] {
         const NodePtr window = webArea("https://window/");
         return std::vector<NodePtr>{window, window};
       },
       {"https://window/"},
       1},
  };
  for (const Case& c : cases) {
    LiveObjectsUnchanged unchanged;
    sim::ax::reset();
    sim::ax::setTrusted(true);
    EXPECT_EQ(walk(c.windows()), c.urls) << c.what;
    EXPECT_EQ(sim::ax::reads("AXRole"), c.roleReads) << c.what;
  }
}

// Children fetched count against the request: what is left is all a walk may
// fetch, windows included, and a later walk of the same request gets only the
// rest.
TEST_F(WebAreaWalk, ChildrenFetchedAreBoundedPerRequest) {
  LiveObjectsUnchanged unchanged;
  std::vector<NodePtr> pages;
  for (int i = 1; i <= 100; ++i) pages.push_back(webArea("https://p/" + std::to_string(i)));
  sim::ax::Application app;
  app.windows = {element("AXWindow", pages)};
  RequestBounds bounds(pageRequestSeconds, 10);
  const Urls first = walk(app, bounds);
  ASSERT_EQ(first.size(), 9u);  // the window, then nine of its children
  EXPECT_EQ(first.front(), "https://p/1");
  EXPECT_EQ(first.back(), "https://p/9");
  EXPECT_EQ(bounds.childrenLeft(), 0u);
  // The next walk still reads the windows, but fetches no child.
  EXPECT_EQ(walk(app, bounds), Urls{});
  EXPECT_EQ(sim::ax::reads("AXChildren"), 1);
}

// An application whose every element claims thousands of children cannot
// make one walk fetch more than its entries: once the list is full nothing
// more is fetched.
TEST_F(WebAreaWalk, ElementsClaimingThousandsOfChildrenCostOneFullList) {
  LiveObjectsUnchanged unchanged;
  // 4000 distinct groups, each of which lists all 4000 as its children.
  std::vector<NodePtr> groups;
  for (int i = 0; i < 4000; ++i) groups.push_back(element("AXGroup"));
  for (const NodePtr& group : groups) group->children = groups;
  sim::ax::Application app;
  app.windows = {element("AXWindow", groups)};
  EXPECT_EQ(walk(app), Urls{});
  EXPECT_EQ(sim::ax::reads("AXChildren"), 1);
  EXPECT_EQ(sim::ax::reads("AXRole"), 4000);
  for (const NodePtr& group : groups) group->children.clear();  // frees the cycle
}

// At the deadline the walk stops and answers what it found so far.
TEST_F(WebAreaWalk, TheDeadlineEndsTheWalkWithWhatWasFound) {
  LiveObjectsUnchanged unchanged;
  std::vector<NodePtr> pages;
  for (int i = 1; i <= 200; ++i) pages.push_back(webArea("https://p/" + std::to_string(i)));
  sim::ax::Application app;
  app.windows = {element("AXWindow", pages)};
  app.readSeconds = 0.01;  // each page costs two reads
  RequestBounds bounds(0.3, maxChildrenPerRequest);
  const Urls urls = walk(app, bounds);
  EXPECT_TRUE(bounds.expired());
  ASSERT_FALSE(urls.empty());
  ASSERT_LT(urls.size(), pages.size());
  // What came back is the walk's own order up to where it stopped.
  for (std::size_t i = 0; i < urls.size(); ++i)
    EXPECT_EQ(urls[i], "https://p/" + std::to_string(i + 1));
  // No call is started after the deadline: a walk begun after it reads nothing.
  const long reads = sim::ax::reads();
  EXPECT_EQ(walk(app, bounds), Urls{});
  EXPECT_EQ(sim::ax::reads(), reads);
}

TEST_F(WebAreaWalk, EveryCallStartsFromScratch) {
  LiveObjectsUnchanged unchanged;
  sim::ax::Application app;
  app.windows = {element("AXWindow", {webArea("https://one/")})};
  EXPECT_EQ(walk(app), Urls{"https://one/"});
  const auto element = platform::accessibility::applicationElement(testPid, 1.0);
  RequestBounds bounds = requestBounds();
  EXPECT_EQ(webAreaUrls(*element, bounds), Urls{"https://one/"});
}

}  // namespace
