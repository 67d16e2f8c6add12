// The page questions over fakes of the UI Automation client, with real
// top-level windows of this process standing for an application's windows.
#include "platform/accessibility.h"
#include "platform/windows/automation.h"

#include "fake_automation.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace {

namespace a11y = platform::accessibility;

// A deadline far enough away not to matter.
std::chrono::steady_clock::time_point later() {
  return std::chrono::steady_clock::now() + std::chrono::hours(1);
}
using fakes::node;
using fakes::UiNode;
constexpr long document = fakes::uia::DocumentControlType;
constexpr long edit = fakes::uia::EditControlType;
constexpr long pane = 50033;

HWND makeWindow(bool visible) {
  static const wchar_t* className = [] {
    WNDCLASSW description{};
    description.lpfnWndProc = DefWindowProcW;
    description.hInstance = GetModuleHandleW(nullptr);
    description.lpszClassName = L"TondrelAccessibilityTest";
    RegisterClassW(&description);
    return L"TondrelAccessibilityTest";
  }();
  return CreateWindowExW(0, className, L"page", WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), 0,
                         0, 300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

class WindowsAccessibility : public ::testing::Test {
 protected:
  void SetUp() override {
    world = std::make_shared<fakes::AutomationWorld>();
    fakes::uia::IUIAutomation* automation = fakes::makeAutomation(world);
    platform::windows::setAutomationForTesting(automation);
    automation->Release();
  }
  void TearDown() override {
    for (HWND window : made) DestroyWindow(window);
    platform::windows::setAutomationForTesting(nullptr);
    a11y::trusted();  // lets this thread drop the fake
    EXPECT_EQ(fakes::liveObjects().load(), 0)
        << "a COM reference the backend was handed is still held";
  }

  // A visible top-level window of this process whose element is `root`.
  HWND window(const std::shared_ptr<UiNode>& root) {
    HWND handle = makeWindow(true);
    made.push_back(handle);
    world->windows[handle] = world->desktop.add(root);
    return handle;
  }

  a11y::ElementPtr application() {
    return a11y::applicationElement(static_cast<pid_t>(GetCurrentProcessId()), 1.0);
  }

  // The first element below the application's single window, by path of
  // child indexes.
  a11y::ElementPtr at(std::initializer_list<std::size_t> path) {
    auto windows = a11y::windows(*application());
    EXPECT_TRUE(windows && windows->size() == 1);
    a11y::ElementPtr current = std::move(windows->front());
    for (std::size_t index : path) {
      auto children = a11y::children(*current, 100, later());
      EXPECT_LT(index, children.size());
      current = std::move(children.at(index));
    }
    return current;
  }

  std::shared_ptr<fakes::AutomationWorld> world;
  std::vector<HWND> made;
};

TEST_F(WindowsAccessibility, TheTimeoutBoundsConnectionsAndTransactions) {
  EXPECT_TRUE(a11y::trusted());
  ASSERT_TRUE(a11y::applicationElement(1234, 1.0));
  ASSERT_TRUE(a11y::applicationElement(1234, 0.25));
  ASSERT_TRUE(a11y::applicationElement(1234, 0.0001));
  EXPECT_EQ(world->connectionTimeouts, (std::vector<DWORD>{1000, 250, 1}));
  EXPECT_EQ(world->transactionTimeouts, (std::vector<DWORD>{1000, 250, 1}));
}

TEST_F(WindowsAccessibility, WindowsAreTheVisibleTopLevelWindowsOfThePidThatAnswer) {
  window(node(pane, {1}));
  window(node(pane, {2}));
  HWND hidden = makeWindow(false);
  made.push_back(hidden);
  world->windows[hidden] = world->desktop.add(node(pane, {3}));
  made.push_back(makeWindow(true));  // a window that will not answer

  auto windows = a11y::windows(*application());
  ASSERT_TRUE(windows);
  ASSERT_EQ(windows->size(), 2u);
  EXPECT_FALSE(a11y::sameElement(*windows->at(0), *windows->at(1)));
  EXPECT_EQ(world->elementFromHandleCalls, 3) << "the hidden window is not asked";

  // Calls stop once the limit is reached (the window that does not answer
  // may come first), and none starts after the deadline.
  world->elementFromHandleCalls = 0;
  auto limited = a11y::children(*application(), 1, later());
  EXPECT_EQ(limited.size(), 1u);
  EXPECT_LE(world->elementFromHandleCalls, 2);
  const int callsBefore = world->elementFromHandleCalls;
  auto late = a11y::children(*application(), 10,
                             std::chrono::steady_clock::now() - std::chrono::seconds(1));
  EXPECT_TRUE(late.empty());
  EXPECT_EQ(world->elementFromHandleCalls, callsBefore) << "no call once the deadline has passed";

  // No process with that pid: the read fails. A window is no application.
  EXPECT_FALSE(a11y::windows(*a11y::applicationElement(0x7ffffff0, 1.0)));
  EXPECT_FALSE(a11y::windows(*windows->at(0)));
}

TEST_F(WindowsAccessibility, ChildrenComeInOrderUpToTheLimit) {
  auto root = node(pane, {1});
  for (int i = 0; i < 5; ++i) root->add(node(pane, {10 + i}));
  root->children[2]->add(node(document, {99}));
  window(root);
  auto top = at({});
  auto all = a11y::children(*top, 100, later());
  ASSERT_EQ(all.size(), 5u);
  world->walkerCalls = 0;
  EXPECT_EQ(a11y::children(*top, 3, later()).size(), 3u);
  EXPECT_EQ(world->walkerCalls, 3) << "no call for a sibling beyond the limit";
  world->walkerCalls = 0;
  EXPECT_TRUE(a11y::children(*top, 100, std::chrono::steady_clock::now() - std::chrono::seconds(1))
                  .empty());
  EXPECT_EQ(world->walkerCalls, 0) << "no call once the deadline has passed";
  EXPECT_TRUE(a11y::children(*top, 0, later()).empty());
  EXPECT_EQ(a11y::children(*all[2], 100, later()).size(), 1u);
  EXPECT_TRUE(a11y::children(*all[0], 100, later()).empty());
  // The same object reached twice is the same element, with the same hash.
  auto again = a11y::children(*top, 100, later());
  EXPECT_TRUE(a11y::sameElement(*all[3], *again[3]));
  EXPECT_EQ(a11y::elementHash(*all[3]), a11y::elementHash(*again[3]));
  EXPECT_FALSE(a11y::sameElement(*all[3], *again[4]));
  root->readsFail = true;
  EXPECT_TRUE(a11y::children(*top, 100, later()).empty());
}

TEST_F(WindowsAccessibility, AShownPageIsADocumentThatIsNotOffscreen) {
  struct Case {
    const char* name;
    long type;
    std::optional<bool> offscreen;
    bool readsFail;
    bool shown;
  };
  const Case cases[] = {
      {"a document on screen", document, false, false, true},
      {"a document off screen (a background tab)", document, true, false, false},
      {"a document that does not say", document, std::nullopt, false, false},
      {"a pane on screen", pane, false, false, false},
      {"an edit control", edit, false, false, false},
      {"an element whose reads fail", document, false, true, false},
  };
  auto root = node(pane, {1});
  for (const Case& c : cases) {
    auto child = node(c.type, {static_cast<int>(root->children.size()) + 2});
    child->offscreen = c.offscreen;
    child->readsFail = c.readsFail;
    root->add(child);
  }
  window(root);
  auto elements = a11y::children(*at({}), 100, later());
  ASSERT_EQ(elements.size(), std::size(cases));
  for (std::size_t i = 0; i < elements.size(); ++i) {
    EXPECT_EQ(a11y::isShownPage(*elements[i]), cases[i].shown) << cases[i].name;
  }
  EXPECT_FALSE(a11y::isShownPage(*application()));
}

TEST_F(WindowsAccessibility, APageAddressIsTheDocumentsValueElseTheAddressBar) {
  struct Case {
    const char* name;
    std::optional<std::wstring> documentValue;
    std::optional<std::wstring> addressBar;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"the document's value", L"https://example.com/a?b#c", L"https://other.example/",
       "https://example.com/a?b#c"},
      {"a value beyond ASCII", L"https://example.com/\u00e9t\u00e9", std::nullopt,
       "https://example.com/\u00e9t\u00e9"},
      {"about:blank", L"about:blank", std::nullopt, "about:blank"},
      {"a value that is not a URL", L"Example page", L"https://example.com/", std::nullopt},
      {"a drive letter path", L"C:\\pages\\a.html", L"https://example.com/", std::nullopt},
      {"a value with a space", L"https://example.com/a b", std::nullopt, std::nullopt},
      {"no value: the address bar", std::nullopt, L"https://example.com/bar",
       "https://example.com/bar"},
      {"an empty value: the address bar", L"", L"file:///C:/a.html", "file:///C:/a.html"},
      {"an address bar without a scheme", std::nullopt, L"example.com/bar", std::nullopt},
      {"no value and no address bar", std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    auto root = node(pane, {1});
    UiNode* toolbar = root->add(node(pane, {2}));
    if (c.addressBar) toolbar->add(node(edit, {3}, c.addressBar));
    UiNode* content = root->add(node(pane, {4}));
    content->add(node(document, {5}, c.documentValue));
    world->windows.clear();
    world->desktop.children.clear();
    for (HWND old : made) DestroyWindow(old);
    made.clear();
    window(root);
    EXPECT_EQ(a11y::pageUrl(*at({1, 0})), c.expected) << c.name;
  }
  EXPECT_FALSE(a11y::pageUrl(*application()));
}

TEST_F(WindowsAccessibility, ElementsWithoutRuntimeIdsAreTheirObjects) {
  auto root = node(pane, {1});
  root->add(node(pane, {}));
  window(root);
  auto first = a11y::children(*at({}), 10, later());
  auto second = a11y::children(*at({}), 10, later());
  ASSERT_EQ(first.size(), 1u);
  EXPECT_TRUE(a11y::sameElement(*first[0], *first[0]));
  EXPECT_FALSE(a11y::sameElement(*first[0], *second[0])) << "two COM objects, no id to join them";
  // Application elements are their pids.
  EXPECT_TRUE(a11y::sameElement(*a11y::applicationElement(5, 1), *a11y::applicationElement(5, 2)));
  EXPECT_FALSE(a11y::sameElement(*a11y::applicationElement(5, 1), *a11y::applicationElement(6, 1)));
}

TEST_F(WindowsAccessibility, ThereAreNoSwitchesToReadOrSet) {
  auto app = application();
  for (auto which : {a11y::Switch::manualAccessibility, a11y::Switch::enhancedUserInterface}) {
    EXPECT_FALSE(a11y::readSwitch(*app, which));
    EXPECT_FALSE(a11y::writeSwitch(*app, which, true));
  }
}

TEST(WindowsAccessibilityWithoutClient, NoAutomationObjectMeansNotTrusted) {
  // Wine has no automation client class: the system's object cannot be made.
  platform::windows::setAutomationForTesting(nullptr);
  if (a11y::trusted()) GTEST_SKIP() << "this system has an automation client";
  EXPECT_FALSE(a11y::applicationElement(static_cast<pid_t>(GetCurrentProcessId()), 1.0));
}

}  // namespace
