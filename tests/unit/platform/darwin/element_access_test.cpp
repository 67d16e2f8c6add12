#include "platform/darwin/element_access.h"

#include <optional>

#include "support/live_objects.h"
#include "unit/accessibility/ax_world.h"

using namespace platform::darwin;

namespace {

constexpr pid_t testPid = 4242;

class ElementAccess : public AxWorld {
 protected:
  // Makes the application answer `attribute` for `name` and hands out its
  // element.
  CFRef<AXUIElementRef> applicationWith(const std::string& name, Attribute attribute) {
    sim::ax::setTrusted(true);
    sim::ax::Application app;
    app.pid = testPid;
    app.attributes[name] = std::move(attribute);
    sim::ax::setApplication(std::move(app));
    return adoptCF(AXUIElementCreateApplication(testPid));
  }
};

TEST_F(ElementAccess, AttributeIsAbsentUnlessTheReadSucceedsWithAValue) {
  struct Case {
    const char* what;
    Attribute read;
    bool present;
  };
  const std::vector<Case> cases = {
      {"success with a value", answer(Value::ofString("AXWindow")), true},
      {"success without a value", answer(Value::none()), false},
      {"failure", failure(kAXErrorCannotComplete), false},
      {"failure that still filled in a value", {kAXErrorFailure, Value::ofString("stale")}, false},
      {"failure that filled in an element list",
       {kAXErrorNoValue, Value::ofElements({sim::ax::element("AXGroup")})},
       false},
  };
  for (const Case& c : cases) {
    LiveObjectsUnchanged unchanged;
    const auto app = applicationWith("AXTitle", c.read);
    const CFRef<CFTypeRef> value = attribute(app.get(), "AXTitle");
    EXPECT_EQ(static_cast<bool>(value), c.present) << c.what;
  }
}

TEST_F(ElementAccess, AttributeOfAnUnknownNameOrWithoutPermissionIsAbsent) {
  LiveObjectsUnchanged unchanged;
  const auto app = applicationWith("AXTitle", answer(Value::ofString("x")));
  EXPECT_FALSE(attribute(app.get(), "AXSomethingElse"));
  sim::ax::setTrusted(false);
  EXPECT_FALSE(attribute(app.get(), "AXTitle"));
}

TEST_F(ElementAccess, ChildrenOnlyWhenEveryItemIsAnElement) {
  using sim::ax::element;
  struct Case {
    const char* what;
    Attribute read;
    std::size_t count;
  };
  const std::vector<Case> cases = {
      {"two elements", answer(Value::ofElements({element("AXGroup"), element("AXButton")})), 2},
      {"empty list", answer(Value::ofArray({})), 0},
      {"two elements and a string",
       answer(Value::ofArray({Value::ofElement(element("AXGroup")),
                              Value::ofElement(element("AXGroup")), Value::ofString("AXGroup")})),
       0},
      {"a number first",
       answer(Value::ofArray({Value::ofInteger(1), Value::ofElement(element("AXGroup"))})), 0},
      {"a single element, not a list", answer(Value::ofElement(element("AXGroup"))), 0},
      {"a string", answer(Value::ofString("AXGroup")), 0},
      {"no value", answer(Value::none()), 0},
      {"failing read", failure(kAXErrorCannotComplete), 0},
      {"failing read with elements filled in",
       {kAXErrorFailure, Value::ofElements({element("AXGroup")})},
       0},
  };
  for (const Case& c : cases) {
    LiveObjectsUnchanged unchanged;
    const auto app = applicationWith("AXChildren", c.read);
    const ElementList list = children(app.get());
    EXPECT_EQ(list.size(), c.count) << c.what;
  }
}

TEST_F(ElementAccess, ChildrenKeepThePlatformsOrderAndStayUsable) {
  LiveObjectsUnchanged unchanged;
  using sim::ax::element;
  const auto app = applicationWith(
      "AXChildren", answer(Value::ofElements({element("first"), element("second")})));
  const ElementList list = children(app.get());
  ASSERT_EQ(list.size(), 2u);
  // The list holds its own references: the array it came from is gone.
  EXPECT_EQ(stringValue(attribute(list[0].get(), "AXRole").get()), "first");
  EXPECT_EQ(stringValue(attribute(list[1].get(), "AXRole").get()), "second");
}

TEST_F(ElementAccess, IsTrueForTheBooleanTrueAndTheNumberOneOnly) {
  struct Case {
    const char* what;
    Value value;
    std::optional<bool> boolean;
  };
  const std::vector<Case> cases = {
      {"true", Value::ofBoolean(true), true},
      {"false", Value::ofBoolean(false), false},
      {"1", Value::ofInteger(1), true},
      {"0", Value::ofInteger(0), false},
      {"1.0", Value::ofReal(1.0), true},
      {"0.0", Value::ofReal(0.0), false},
      {"2", Value::ofInteger(2), std::nullopt},
      {"-1", Value::ofInteger(-1), std::nullopt},
      {"1.5", Value::ofReal(1.5), std::nullopt},
      {"0.9999999999999999", Value::ofReal(0.9999999999999999), std::nullopt},
      {"the string true", Value::ofString("true"), std::nullopt},
      {"the string 1", Value::ofString("1"), std::nullopt},
      {"a list holding true", Value::ofArray({Value::ofBoolean(true)}), std::nullopt},
      {"absent", Value::none(), std::nullopt},
  };
  for (const Case& c : cases) {
    LiveObjectsUnchanged unchanged;
    const auto app = applicationWith("AXFlag", answer(c.value));
    const CFRef<CFTypeRef> value = attribute(app.get(), "AXFlag");
    EXPECT_EQ(booleanValue(value.get()), c.boolean) << c.what;
    EXPECT_EQ(isTrue(value.get()), c.boolean.value_or(false)) << c.what;
  }
}

TEST_F(ElementAccess, UrlsConvertFromUrlObjectsOnlyAndStringsFromStringsOnly) {
  struct Case {
    const char* what;
    Value value;
    std::optional<std::string> url;
    std::optional<std::string> string;
  };
  const std::string page = "https://example.com/a/b?q=1#frag";
  const std::vector<Case> cases = {
      {"URL object", Value::ofUrl(page), page, std::nullopt},
      {"URL object with text beyond ASCII",
       Value::ofUrl("https://b\xC3\xBC"
                    "cher.example/\xE2\x82\xAC"),
       "https://b\xC3\xBC"
       "cher.example/\xE2\x82\xAC",
       std::nullopt},
      {"string spelling a URL", Value::ofString(page), std::nullopt, page},
      {"string beyond ASCII",
       Value::ofString("AXW\xC3\xAB"
                       "b"),
       std::nullopt,
       "AXW\xC3\xAB"
       "b"},
      {"empty string", Value::ofString(""), std::nullopt, ""},
      {"number", Value::ofInteger(7), std::nullopt, std::nullopt},
      {"element", Value::ofElement(sim::ax::element("AXWebArea")), std::nullopt, std::nullopt},
      {"absent", Value::none(), std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    LiveObjectsUnchanged unchanged;
    const auto app = applicationWith("AXURL", answer(c.value));
    const CFRef<CFTypeRef> value = attribute(app.get(), "AXURL");
    EXPECT_EQ(urlValue(value.get()), c.url) << c.what;
    EXPECT_EQ(stringValue(value.get()), c.string) << c.what;
  }
}

TEST_F(ElementAccess, SetAttributeAnswersWhetherThePlatformAccepted) {
  LiveObjectsUnchanged unchanged;
  sim::ax::setTrusted(true);
  sim::ax::Application app;
  app.pid = testPid;
  app.manualAccessibility.settable = true;
  sim::ax::setApplication(app);
  const auto element = adoptCF(AXUIElementCreateApplication(testPid));
  EXPECT_TRUE(setAttribute(element.get(), "AXManualAccessibility", kCFBooleanTrue));
  EXPECT_TRUE(isTrue(attribute(element.get(), "AXManualAccessibility").get()));
  EXPECT_FALSE(setAttribute(element.get(), "AXEnhancedUserInterface", kCFBooleanTrue));
  EXPECT_FALSE(isTrue(attribute(element.get(), "AXEnhancedUserInterface").get()));
}

}  // namespace
