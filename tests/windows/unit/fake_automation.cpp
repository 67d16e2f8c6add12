#include "fake_automation.h"

#include <oleauto.h>

namespace fakes {

namespace {

using World = std::shared_ptr<AutomationWorld>;

class Condition : public Fake<uia::IUIAutomationCondition> {
 public:
  Condition(uia::PropertyId wantedProperty, long wantedValue)
      : property(wantedProperty), value(wantedValue) {}
  const uia::PropertyId property;
  const long value;

 protected:
  bool answers(REFIID iid) const override {
    return IsEqualIID(iid, uia::IID_IUIAutomationCondition);
  }
};

class Element : public Fake<uia::IUIAutomationElement> {
 public:
  Element(World world, UiNode* node) : world_(std::move(world)), node_(node) {}
  UiNode* node() const { return node_; }

  HRESULT STDMETHODCALLTYPE SetFocus() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** id) override {
    if (node_->runtimeId.empty()) return E_FAIL;
    *id = SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(node_->runtimeId.size()));
    for (LONG i = 0; i < static_cast<LONG>(node_->runtimeId.size()); ++i) {
      SafeArrayPutElement(*id, &i, &node_->runtimeId[static_cast<std::size_t>(i)]);
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FindFirst(uia::TreeScope scope, uia::IUIAutomationCondition* condition,
                                      uia::IUIAutomationElement** found) override {
    auto* wanted = static_cast<Condition*>(condition);
    *found = nullptr;
    if (scope != uia::TreeScope_Descendants || wanted->property != uia::ControlTypeProperty) {
      return E_NOTIMPL;
    }
    if (UiNode* match = search(node_, wanted->value)) *found = new Element(world_, match);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FindAll(uia::TreeScope, uia::IUIAutomationCondition*,
                                    IUnknown**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindFirstBuildCache(uia::TreeScope, uia::IUIAutomationCondition*,
                                                IUnknown*, uia::IUIAutomationElement**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindAllBuildCache(uia::TreeScope, uia::IUIAutomationCondition*,
                                              IUnknown*, IUnknown**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE BuildUpdatedCache(IUnknown*, uia::IUIAutomationElement**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetCurrentPropertyValue(uia::PropertyId property,
                                                    VARIANT* value) override {
    VariantInit(value);
    if (node_->readsFail) return E_FAIL;
    switch (property) {
      case uia::ControlTypeProperty:
        value->vt = VT_I4;
        value->lVal = node_->controlType;
        return S_OK;
      case uia::IsOffscreenProperty:
        if (!node_->offscreen) return S_OK;  // VT_EMPTY: not supported
        value->vt = VT_BOOL;
        value->boolVal = *node_->offscreen ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
      case uia::ValueValueProperty:
        if (!node_->value) return S_OK;
        value->vt = VT_BSTR;
        value->bstrVal =
            SysAllocStringLen(node_->value->data(), static_cast<UINT>(node_->value->size()));
        return S_OK;
      default:
        return E_INVALIDARG;
    }
  }

 protected:
  bool answers(REFIID iid) const override { return IsEqualIID(iid, uia::IID_IUIAutomationElement); }

 private:
  static UiNode* search(UiNode* from, long controlType) {
    for (const auto& child : from->children) {
      if (child->controlType == controlType) return child.get();
      if (UiNode* deeper = search(child.get(), controlType)) return deeper;
    }
    return nullptr;
  }

  World world_;
  UiNode* node_;
};

class Walker : public Fake<uia::IUIAutomationTreeWalker> {
 public:
  explicit Walker(World world) : world_(std::move(world)) {}

  HRESULT STDMETHODCALLTYPE GetParentElement(uia::IUIAutomationElement* element,
                                             uia::IUIAutomationElement** parent) override {
    UiNode* node = static_cast<Element*>(element)->node();
    *parent = node->parent != nullptr ? new Element(world_, node->parent) : nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFirstChildElement(uia::IUIAutomationElement* element,
                                                 uia::IUIAutomationElement** first) override {
    ++world_->walkerCalls;
    UiNode* node = static_cast<Element*>(element)->node();
    if (node->readsFail) return E_FAIL;
    *first = node->children.empty() ? nullptr : new Element(world_, node->children.front().get());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetLastChildElement(uia::IUIAutomationElement*,
                                                uia::IUIAutomationElement**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetNextSiblingElement(uia::IUIAutomationElement* element,
                                                  uia::IUIAutomationElement** next) override {
    ++world_->walkerCalls;
    UiNode* node = static_cast<Element*>(element)->node();
    *next = nullptr;
    if (node->parent == nullptr) return S_OK;
    auto& siblings = node->parent->children;
    for (std::size_t i = 0; i + 1 < siblings.size(); ++i) {
      if (siblings[i].get() == node) {
        *next = new Element(world_, siblings[i + 1].get());
        break;
      }
    }
    return S_OK;
  }

 protected:
  bool answers(REFIID iid) const override {
    return IsEqualIID(iid, uia::IID_IUIAutomationTreeWalker);
  }

 private:
  World world_;
};

// Answers only what the backend calls; every other slot fails.
class Automation : public Fake<uia::IUIAutomation2> {
 public:
  explicit Automation(World world) : world_(std::move(world)) {}

  HRESULT STDMETHODCALLTYPE CompareElements(uia::IUIAutomationElement*, uia::IUIAutomationElement*,
                                            BOOL*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CompareRuntimeIds(SAFEARRAY*, SAFEARRAY*, BOOL*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetRootElement(uia::IUIAutomationElement**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ElementFromHandle(HWND window,
                                              uia::IUIAutomationElement** element) override {
    ++world_->elementFromHandleCalls;
    *element = nullptr;
    const auto found = world_->windows.find(window);
    if (found == world_->windows.end()) return E_FAIL;
    *element = new Element(world_, found->second);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ControlViewWalker(uia::IUIAutomationTreeWalker** walker) override {
    return handOut<Walker>(walker, world_);
  }
  HRESULT STDMETHODCALLTYPE CreatePropertyCondition(
      uia::PropertyId property, VARIANT value, uia::IUIAutomationCondition** condition) override {
    if (value.vt != VT_I4) return E_INVALIDARG;
    return handOut<Condition>(condition, property, value.lVal);
  }
  HRESULT STDMETHODCALLTYPE get_AutoSetFocus(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_AutoSetFocus(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ConnectionTimeout(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ConnectionTimeout(DWORD milliseconds) override {
    world_->connectionTimeouts.push_back(milliseconds);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_TransactionTimeout(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_TransactionTimeout(DWORD milliseconds) override {
    world_->transactionTimeouts.push_back(milliseconds);
    return S_OK;
  }

#define FAKES_UNUSED_SLOT(n) \
  HRESULT STDMETHODCALLTYPE slot##n() override { return E_NOTIMPL; }
  // clang-format off
  FAKES_UNUSED_SLOT(5) FAKES_UNUSED_SLOT(6) FAKES_UNUSED_SLOT(7) FAKES_UNUSED_SLOT(8)
  FAKES_UNUSED_SLOT(9) FAKES_UNUSED_SLOT(10) FAKES_UNUSED_SLOT(11) FAKES_UNUSED_SLOT(13)
  FAKES_UNUSED_SLOT(14) FAKES_UNUSED_SLOT(15) FAKES_UNUSED_SLOT(16) FAKES_UNUSED_SLOT(17)
  FAKES_UNUSED_SLOT(18) FAKES_UNUSED_SLOT(19) FAKES_UNUSED_SLOT(20) FAKES_UNUSED_SLOT(22)
  FAKES_UNUSED_SLOT(23) FAKES_UNUSED_SLOT(24) FAKES_UNUSED_SLOT(25) FAKES_UNUSED_SLOT(26)
  FAKES_UNUSED_SLOT(27) FAKES_UNUSED_SLOT(28) FAKES_UNUSED_SLOT(29) FAKES_UNUSED_SLOT(30)
  FAKES_UNUSED_SLOT(31) FAKES_UNUSED_SLOT(32) FAKES_UNUSED_SLOT(33) FAKES_UNUSED_SLOT(34)
  FAKES_UNUSED_SLOT(35) FAKES_UNUSED_SLOT(36) FAKES_UNUSED_SLOT(37) FAKES_UNUSED_SLOT(38)
  FAKES_UNUSED_SLOT(39) FAKES_UNUSED_SLOT(40) FAKES_UNUSED_SLOT(41) FAKES_UNUSED_SLOT(42)
  FAKES_UNUSED_SLOT(43) FAKES_UNUSED_SLOT(44) FAKES_UNUSED_SLOT(45) FAKES_UNUSED_SLOT(46)
  FAKES_UNUSED_SLOT(47) FAKES_UNUSED_SLOT(48) FAKES_UNUSED_SLOT(49) FAKES_UNUSED_SLOT(50)
  FAKES_UNUSED_SLOT(51) FAKES_UNUSED_SLOT(52) FAKES_UNUSED_SLOT(53) FAKES_UNUSED_SLOT(54)
  FAKES_UNUSED_SLOT(55)
  // clang-format on
#undef FAKES_UNUSED_SLOT

                                                                          protected
      : bool answers(REFIID iid) const override {
    return IsEqualIID(iid, uia::IID_IUIAutomation) || IsEqualIID(iid, uia::IID_IUIAutomation2);
  }

 private:
  World world_;
};

}  // namespace

std::shared_ptr<UiNode> node(long controlType, std::vector<int> runtimeId,
                             std::optional<std::wstring> value) {
  auto made = std::make_shared<UiNode>();
  made->controlType = controlType;
  made->runtimeId = std::move(runtimeId);
  made->value = std::move(value);
  return made;
}

uia::IUIAutomation* makeAutomation(const std::shared_ptr<AutomationWorld>& world) {
  return new Automation(world);
}

}  // namespace fakes
