// Fakes of the UI Automation client interfaces over trees a test builds:
// elements with a control type, an off-screen flag and a value (each
// readable or failing), children, and a runtime id; top-level elements are
// found by window handle.
#pragma once

#include "fake_com.h"
#include "platform/windows/uia.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fakes {

namespace uia = platform::windows::uia;

struct UiNode {
  long controlType = 50033;  // a pane
  std::optional<bool> offscreen = false;
  std::optional<std::wstring> value;
  std::vector<int> runtimeId;  // empty: GetRuntimeId fails
  bool readsFail = false;      // every property read fails
  std::vector<std::shared_ptr<UiNode>> children;
  UiNode* parent = nullptr;  // the desktop for a top-level element

  UiNode* add(std::shared_ptr<UiNode> child) {
    child->parent = this;
    children.push_back(std::move(child));
    return children.back().get();
  }
};

std::shared_ptr<UiNode> node(long controlType, std::vector<int> runtimeId,
                             std::optional<std::wstring> value = std::nullopt);

struct AutomationWorld {
  UiNode desktop;
  // Top-level elements by window handle; a window not here cannot be made an
  // element.
  std::map<HWND, UiNode*> windows;
  std::vector<DWORD> connectionTimeouts;
  std::vector<DWORD> transactionTimeouts;
  int elementFromHandleCalls = 0;
  int walkerCalls = 0;  // first child and next sibling
};

// IUIAutomation2 over the world (kept alive by the fake).
uia::IUIAutomation* makeAutomation(const std::shared_ptr<AutomationWorld>& world);

}  // namespace fakes
