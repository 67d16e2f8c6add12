// Page addresses over UI Automation.
//
// Windows asks no permission of an automation client, and browsers built on
// Chromium (Electron included) turn their accessibility tree on when a client
// asks for it, so there are no switches to set: both read as absent and
// refuse to be set. The application element is not an automation element
// (UI Automation has none for a process): its windows are the visible
// top-level windows of the pid, each made an element from its handle; below
// them the control view of the tree is walked. A shown page is an element of
// the Document control type that is not off screen; its address is the
// document's value, else the text of the first edit control of its window
// (a browser's address bar) when that is an absolute URL.
//
// Calls that reach another process are bounded by the automation object's
// connection and transaction timeouts, set from the application element's
// timeout: every element reached through it shares the bound. That object
// (CUIAutomation8) exists from Windows 8 on; on Windows 7 the system's own
// default bounds apply.
#include "platform/accessibility.h"
#include "platform/windows/automation.h"
#include "platform/windows/com.h"
#include "platform/windows/uia.h"

#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace platform::accessibility {

class Element {
 public:
  // The application that process `pid` is.
  explicit Element(pid_t pid) : pid_(pid) {}
  explicit Element(windows::Com<windows::uia::IUIAutomationElement> element)
      : element_(std::move(element)) {}

  bool isApplication() const { return !element_; }
  pid_t pid() const { return pid_; }
  windows::uia::IUIAutomationElement* get() const { return element_.get(); }

  // What tells this element's object apart: its runtime id, else (for an
  // element that will not say) the identity of the COM object. Read once.
  const std::vector<std::uintptr_t>& identity() const {
    if (!identity_) identity_ = readIdentity();
    return *identity_;
  }

 private:
  std::vector<std::uintptr_t> readIdentity() const {
    std::vector<std::uintptr_t> key;
    if (isApplication()) {
      key = {0, static_cast<std::uintptr_t>(pid_)};
      return key;
    }
    SAFEARRAY* runtimeId = nullptr;
    if (SUCCEEDED(element_->GetRuntimeId(&runtimeId)) && runtimeId != nullptr) {
      LONG lower = 0, upper = -1;
      int* values = nullptr;
      if (SafeArrayGetDim(runtimeId) == 1 && SUCCEEDED(SafeArrayGetLBound(runtimeId, 1, &lower)) &&
          SUCCEEDED(SafeArrayGetUBound(runtimeId, 1, &upper)) && upper >= lower &&
          SUCCEEDED(SafeArrayAccessData(runtimeId, reinterpret_cast<void**>(&values)))) {
        key.push_back(1);
        for (LONG i = 0; i <= upper - lower; ++i) {
          key.push_back(static_cast<std::uintptr_t>(static_cast<unsigned>(values[i])));
        }
        SafeArrayUnaccessData(runtimeId);
      }
      SafeArrayDestroy(runtimeId);
      if (!key.empty()) return key;
    }
    // COM's rule: the IUnknown of one object is always the same pointer.
    IUnknown* unknown = nullptr;
    std::uintptr_t address = reinterpret_cast<std::uintptr_t>(element_.get());
    if (SUCCEEDED(element_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)))) {
      address = reinterpret_cast<std::uintptr_t>(unknown);
      unknown->Release();
    }
    key = {2, address};
    return key;
  }

  pid_t pid_ = 0;
  windows::Com<windows::uia::IUIAutomationElement> element_;
  mutable std::optional<std::vector<std::uintptr_t>> identity_;
};

void ReleaseElement::operator()(Element* element) const { delete element; }

}  // namespace platform::accessibility

namespace platform::windows {

namespace {

using accessibility::Element;
using accessibility::ElementList;
using accessibility::ElementPtr;

std::atomic<uia::IUIAutomation*> testAutomation{nullptr};
// The reference that keeps it alive while it is set.
Com<uia::IUIAutomation> testAutomationHeld;
// Changes with every replacement, so each thread lets go of what it made
// from the previous object.
std::atomic<unsigned> automationGeneration{0};

struct ThreadAutomation {
  Com<uia::IUIAutomation> automation;
  Com<uia::IUIAutomation2> withTimeouts;
  Com<uia::IUIAutomationTreeWalker> walker;
  bool made = false;
  unsigned generation = 0;
};

// One automation object per thread that asks (the page reader), kept: making
// one loads the client library and costs more than a whole walk.
ThreadAutomation& threadAutomation() {
  thread_local ThreadAutomation state;
  const unsigned generation = automationGeneration.load();
  if (state.made && state.generation == generation) return state;
  state = ThreadAutomation{};
  state.generation = generation;
  uia::IUIAutomation* wanted = testAutomation.load();
  if (wanted != nullptr) {
    state.automation = Com<uia::IUIAutomation>::retain(wanted);
  } else if (comReady()) {
    if (FAILED(CoCreateInstance(uia::CLSID_CUIAutomation8, nullptr, CLSCTX_INPROC_SERVER,
                                uia::IID_IUIAutomation,
                                reinterpret_cast<void**>(state.automation.out()))) &&
        FAILED(CoCreateInstance(uia::CLSID_CUIAutomation, nullptr, CLSCTX_INPROC_SERVER,
                                uia::IID_IUIAutomation,
                                reinterpret_cast<void**>(state.automation.out())))) {
      state.automation.reset();
    }
  }
  if (state.automation) {
    state.withTimeouts = state.automation.as<uia::IUIAutomation2>(uia::IID_IUIAutomation2);
    if (FAILED(state.automation->get_ControlViewWalker(state.walker.out()))) state.walker.reset();
  }
  state.made = true;
  return state;
}

struct WindowSearch {
  DWORD pid;
  std::vector<HWND> found;
};

BOOL CALLBACK collectWindowOf(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD pid = 0;
  if (GetWindowThreadProcessId(window, &pid) != 0 && pid == search->pid &&
      IsWindowVisible(window)) {
    search->found.push_back(window);
  }
  return TRUE;
}

bool processExists(pid_t pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process != nullptr) {
    CloseHandle(process);
    return true;
  }
  // Denied means it is there, only not ours to open.
  return GetLastError() == ERROR_ACCESS_DENIED;
}

// A variant read from an element, cleared when done.
class Variant {
 public:
  Variant() { VariantInit(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&value_); }
  VARIANT* out() { return &value_; }
  const VARIANT& get() const { return value_; }

 private:
  VARIANT value_;
};

std::optional<long> longProperty(uia::IUIAutomationElement* element, uia::PropertyId property) {
  Variant value;
  if (FAILED(element->GetCurrentPropertyValue(property, value.out())) || value.get().vt != VT_I4) {
    return std::nullopt;
  }
  return value.get().lVal;
}

std::optional<bool> boolProperty(uia::IUIAutomationElement* element, uia::PropertyId property) {
  Variant value;
  if (FAILED(element->GetCurrentPropertyValue(property, value.out())) ||
      value.get().vt != VT_BOOL) {
    return std::nullopt;
  }
  return value.get().boolVal != VARIANT_FALSE;
}

std::optional<std::string> textProperty(uia::IUIAutomationElement* element,
                                        uia::PropertyId property) {
  Variant value;
  if (FAILED(element->GetCurrentPropertyValue(property, value.out())) ||
      value.get().vt != VT_BSTR || value.get().bstrVal == nullptr) {
    return std::nullopt;
  }
  return utf8(std::wstring_view(value.get().bstrVal, SysStringLen(value.get().bstrVal)));
}

// An address with a scheme of two or more characters ("C:\page.html" names a
// file by drive letter, not a URL) and nothing a URL cannot hold unescaped:
// no spaces or control characters.
bool isAbsoluteUrl(const std::string& text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon < 2 || colon + 1 == text.size()) return false;
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!letter(text[0])) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = text[i];
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; });
}

// The element's top-level window: the last ancestor below the desktop. The
// climb is bounded, since a tree may loop.
Com<uia::IUIAutomationElement> topLevelOf(uia::IUIAutomationElement* element) {
  ThreadAutomation& state = threadAutomation();
  if (!state.walker) return {};
  Com<uia::IUIAutomationElement> current = Com<uia::IUIAutomationElement>::retain(element);
  for (int depth = 0; depth < 256; ++depth) {
    Com<uia::IUIAutomationElement> parent;
    if (FAILED(state.walker->GetParentElement(current.get(), parent.out())) || !parent) return {};
    Com<uia::IUIAutomationElement> grandparent;
    if (FAILED(state.walker->GetParentElement(parent.get(), grandparent.out()))) return {};
    if (!grandparent) return current;  // parent is the desktop
    current = std::move(parent);
  }
  return {};
}

std::optional<std::string> addressBarUrl(uia::IUIAutomationElement* document) {
  ThreadAutomation& state = threadAutomation();
  Com<uia::IUIAutomationElement> window = topLevelOf(document);
  if (!window) return std::nullopt;
  VARIANT editType;
  VariantInit(&editType);
  editType.vt = VT_I4;
  editType.lVal = uia::EditControlType;
  Com<uia::IUIAutomationCondition> isEdit;
  Com<uia::IUIAutomationElement> edit;
  if (FAILED(state.automation->CreatePropertyCondition(uia::ControlTypeProperty, editType,
                                                       isEdit.out())) ||
      !isEdit || FAILED(window->FindFirst(uia::TreeScope_Descendants, isEdit.get(), edit.out())) ||
      !edit) {
    return std::nullopt;
  }
  auto text = textProperty(edit.get(), uia::ValueValueProperty);
  if (!text || !isAbsoluteUrl(*text)) return std::nullopt;
  return text;
}

ElementPtr wrap(Com<uia::IUIAutomationElement> element) {
  return ElementPtr(new Element(std::move(element)));
}

}  // namespace

void setAutomationForTesting(uia::IUIAutomation* automation) {
  testAutomationHeld = Com<uia::IUIAutomation>::retain(automation);
  testAutomation.store(automation);
  automationGeneration.fetch_add(1);
}

}  // namespace platform::windows

namespace platform::accessibility {

using windows::Com;
namespace uia = windows::uia;

bool sameElement(const Element& a, const Element& b) { return a.identity() == b.identity(); }

std::size_t elementHash(const Element& element) {
  std::size_t hash = 0;
  for (std::uintptr_t part : element.identity()) {
    hash = hash * 1000003u ^ std::hash<std::uintptr_t>{}(part);
  }
  return hash;
}

bool trusted() { return static_cast<bool>(windows::threadAutomation().automation); }

ElementPtr applicationElement(pid_t pid, double timeoutSeconds) {
  windows::ThreadAutomation& state = windows::threadAutomation();
  if (!state.automation) return nullptr;
  if (state.withTimeouts) {
    const double milliseconds = std::ceil(std::clamp(timeoutSeconds, 0.001, 3600.0) * 1000);
    const auto bound = static_cast<DWORD>(milliseconds);
    state.withTimeouts->put_ConnectionTimeout(bound);
    state.withTimeouts->put_TransactionTimeout(bound);
  }
  return ElementPtr(new Element(pid));
}

namespace {

// The application's windows as elements, one call each: at most `limit`, and
// no call started after `deadline`.
std::optional<ElementList> windowElements(const Element& application, std::size_t limit,
                                          std::chrono::steady_clock::time_point deadline) {
  if (!application.isApplication()) return std::nullopt;
  windows::ThreadAutomation& state = windows::threadAutomation();
  if (!state.automation || !windows::processExists(application.pid())) return std::nullopt;
  windows::WindowSearch search{static_cast<DWORD>(application.pid()), {}};
  EnumWindows(windows::collectWindowOf, reinterpret_cast<LPARAM>(&search));
  ElementList list;
  for (HWND window : search.found) {
    if (list.size() >= limit || std::chrono::steady_clock::now() >= deadline) break;
    Com<uia::IUIAutomationElement> element;
    // A window that closed meanwhile, or that will not answer, is left out.
    if (SUCCEEDED(state.automation->ElementFromHandle(window, element.out())) && element) {
      list.push_back(windows::wrap(std::move(element)));
    }
  }
  return list;
}

}  // namespace

std::optional<ElementList> windows(const Element& application) {
  return windowElements(application, SIZE_MAX, std::chrono::steady_clock::time_point::max());
}

ElementList children(const Element& element, std::size_t limit,
                     std::chrono::steady_clock::time_point deadline) {
  ElementList list;
  if (limit == 0) return list;
  if (element.isApplication()) {
    std::optional<ElementList> all = windowElements(element, limit, deadline);
    if (all) list = std::move(*all);
    return list;
  }
  windows::ThreadAutomation& state = windows::threadAutomation();
  if (!state.walker) return list;
  // One call per child: none is started once the deadline has passed, and
  // none for a sibling beyond the limit.
  const auto timeLeft = [&] { return std::chrono::steady_clock::now() < deadline; };
  Com<uia::IUIAutomationElement> child;
  if (!timeLeft() || FAILED(state.walker->GetFirstChildElement(element.get(), child.out()))) {
    return list;
  }
  while (child) {
    list.push_back(windows::wrap(std::move(child)));
    if (list.size() >= limit || !timeLeft()) break;
    Com<uia::IUIAutomationElement> next;
    if (FAILED(state.walker->GetNextSiblingElement(list.back()->get(), next.out()))) break;
    child = std::move(next);
  }
  return list;
}

bool isShownPage(const Element& element) {
  if (element.isApplication()) return false;
  const auto type = windows::longProperty(element.get(), uia::ControlTypeProperty);
  if (!type || *type != uia::DocumentControlType) return false;
  const auto offscreen = windows::boolProperty(element.get(), uia::IsOffscreenProperty);
  return offscreen && !*offscreen;
}

std::optional<std::string> pageUrl(const Element& element) {
  if (element.isApplication()) return std::nullopt;
  auto value = windows::textProperty(element.get(), uia::ValueValueProperty);
  if (value && windows::isAbsoluteUrl(*value)) return value;
  // A document that gives no address of its own: its window's address bar.
  if (value && !value->empty()) return std::nullopt;
  return windows::addressBarUrl(element.get());
}

std::optional<bool> readSwitch(const Element& /*application*/, Switch /*which*/) {
  return std::nullopt;
}

bool writeSwitch(const Element& /*application*/, Switch /*which*/, bool /*on*/) { return false; }

}  // namespace platform::accessibility
