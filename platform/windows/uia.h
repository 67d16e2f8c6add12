// The part of the UI Automation client interfaces this backend calls,
// declared here because mingw-w64's headers do not have them. Each interface
// lists its methods in the system's vtable order up to the last one used;
// slots in between that are never called keep their place under a
// placeholder name. The identifiers are the system's.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <unknwn.h>

// COM interfaces have no destructor in their vtable: objects end through
// Release(), so a virtual destructor would shift every slot.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace platform::windows::uia {

constexpr CLSID CLSID_CUIAutomation = {
    0xff48dba4, 0x60ef, 0x4201, {0xaa, 0x87, 0x54, 0x10, 0x3e, 0xef, 0x59, 0x4e}};
// Windows 8 and later: the object that takes connection and transaction timeouts.
constexpr CLSID CLSID_CUIAutomation8 = {
    0xe22ad333, 0xb25f, 0x460c, {0x83, 0xd0, 0x05, 0x81, 0x10, 0x73, 0x95, 0xc9}};
constexpr IID IID_IUIAutomation = {
    0x30cbe57d, 0xd9d0, 0x452a, {0xab, 0x13, 0x7a, 0xc5, 0xac, 0x48, 0x25, 0xee}};
constexpr IID IID_IUIAutomation2 = {
    0x34723aff, 0x0c9d, 0x49d0, {0x98, 0x96, 0x7a, 0xb5, 0x2d, 0xf8, 0xcd, 0x8a}};
constexpr IID IID_IUIAutomationElement = {
    0xd22108aa, 0x8ac5, 0x49a5, {0x83, 0x7b, 0x37, 0xbb, 0xb3, 0xd7, 0x59, 0x1e}};
constexpr IID IID_IUIAutomationTreeWalker = {
    0x4042c624, 0x389c, 0x4afc, {0xa6, 0x30, 0x9d, 0xf8, 0x54, 0xa5, 0x41, 0xfc}};
constexpr IID IID_IUIAutomationCondition = {
    0x352ffba8, 0x0973, 0x437c, {0xa6, 0x1f, 0xf6, 0x4c, 0xaf, 0xd8, 0x1d, 0xf9}};

// Property and control type ids.
using PropertyId = int;
constexpr PropertyId RuntimeIdProperty = 30000;
constexpr PropertyId ControlTypeProperty = 30003;
constexpr PropertyId IsOffscreenProperty = 30022;
constexpr PropertyId ValueValueProperty = 30045;
constexpr long EditControlType = 50004;
constexpr long DocumentControlType = 50030;

enum TreeScope { TreeScope_Element = 1, TreeScope_Children = 2, TreeScope_Descendants = 4 };

struct IUIAutomationElement;

struct IUIAutomationCondition : IUnknown {};

struct IUIAutomationElement : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetFocus() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** runtimeId) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindFirst(TreeScope scope, IUIAutomationCondition* condition,
                                              IUIAutomationElement** found) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindAll(TreeScope, IUIAutomationCondition*, IUnknown**) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindFirstBuildCache(TreeScope, IUIAutomationCondition*,
                                                        IUnknown*, IUIAutomationElement**) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindAllBuildCache(TreeScope, IUIAutomationCondition*, IUnknown*,
                                                      IUnknown**) = 0;
  virtual HRESULT STDMETHODCALLTYPE BuildUpdatedCache(IUnknown*, IUIAutomationElement**) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentPropertyValue(PropertyId property,
                                                            VARIANT* value) = 0;
};

struct IUIAutomationTreeWalker : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetParentElement(IUIAutomationElement* element,
                                                     IUIAutomationElement** parent) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFirstChildElement(IUIAutomationElement* element,
                                                         IUIAutomationElement** first) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetLastChildElement(IUIAutomationElement* element,
                                                        IUIAutomationElement** last) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNextSiblingElement(IUIAutomationElement* element,
                                                          IUIAutomationElement** next) = 0;
};

// Fifty-five methods, of which this backend calls ElementFromHandle (4th),
// ControlViewWalker (12th) and CreatePropertyCondition (21st).
struct IUIAutomation : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CompareElements(IUIAutomationElement*, IUIAutomationElement*,
                                                    BOOL*) = 0;
  virtual HRESULT STDMETHODCALLTYPE CompareRuntimeIds(SAFEARRAY*, SAFEARRAY*, BOOL*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRootElement(IUIAutomationElement**) = 0;
  virtual HRESULT STDMETHODCALLTYPE ElementFromHandle(HWND window,
                                                      IUIAutomationElement** element) = 0;
  virtual HRESULT STDMETHODCALLTYPE slot5() = 0;   // ElementFromPoint
  virtual HRESULT STDMETHODCALLTYPE slot6() = 0;   // GetFocusedElement
  virtual HRESULT STDMETHODCALLTYPE slot7() = 0;   // GetRootElementBuildCache
  virtual HRESULT STDMETHODCALLTYPE slot8() = 0;   // ElementFromHandleBuildCache
  virtual HRESULT STDMETHODCALLTYPE slot9() = 0;   // ElementFromPointBuildCache
  virtual HRESULT STDMETHODCALLTYPE slot10() = 0;  // GetFocusedElementBuildCache
  virtual HRESULT STDMETHODCALLTYPE slot11() = 0;  // CreateTreeWalker
  virtual HRESULT STDMETHODCALLTYPE get_ControlViewWalker(IUIAutomationTreeWalker** walker) = 0;
  virtual HRESULT STDMETHODCALLTYPE slot13() = 0;  // ContentViewWalker
  virtual HRESULT STDMETHODCALLTYPE slot14() = 0;  // RawViewWalker
  virtual HRESULT STDMETHODCALLTYPE slot15() = 0;  // RawViewCondition
  virtual HRESULT STDMETHODCALLTYPE slot16() = 0;  // ControlViewCondition
  virtual HRESULT STDMETHODCALLTYPE slot17() = 0;  // ContentViewCondition
  virtual HRESULT STDMETHODCALLTYPE slot18() = 0;  // CreateCacheRequest
  virtual HRESULT STDMETHODCALLTYPE slot19() = 0;  // CreateTrueCondition
  virtual HRESULT STDMETHODCALLTYPE slot20() = 0;  // CreateFalseCondition
  virtual HRESULT STDMETHODCALLTYPE CreatePropertyCondition(PropertyId property, VARIANT value,
                                                            IUIAutomationCondition** condition) = 0;
  virtual HRESULT STDMETHODCALLTYPE slot22() = 0;  // CreatePropertyConditionEx
  virtual HRESULT STDMETHODCALLTYPE slot23() = 0;  // CreateAndCondition
  virtual HRESULT STDMETHODCALLTYPE slot24() = 0;  // CreateAndConditionFromArray
  virtual HRESULT STDMETHODCALLTYPE slot25() = 0;  // CreateAndConditionFromNativeArray
  virtual HRESULT STDMETHODCALLTYPE slot26() = 0;  // CreateOrCondition
  virtual HRESULT STDMETHODCALLTYPE slot27() = 0;  // CreateOrConditionFromArray
  virtual HRESULT STDMETHODCALLTYPE slot28() = 0;  // CreateOrConditionFromNativeArray
  virtual HRESULT STDMETHODCALLTYPE slot29() = 0;  // CreateNotCondition
  virtual HRESULT STDMETHODCALLTYPE slot30() = 0;  // AddAutomationEventHandler
  virtual HRESULT STDMETHODCALLTYPE slot31() = 0;  // RemoveAutomationEventHandler
  virtual HRESULT STDMETHODCALLTYPE slot32() = 0;  // AddPropertyChangedEventHandlerNativeArray
  virtual HRESULT STDMETHODCALLTYPE slot33() = 0;  // AddPropertyChangedEventHandler
  virtual HRESULT STDMETHODCALLTYPE slot34() = 0;  // RemovePropertyChangedEventHandler
  virtual HRESULT STDMETHODCALLTYPE slot35() = 0;  // AddStructureChangedEventHandler
  virtual HRESULT STDMETHODCALLTYPE slot36() = 0;  // RemoveStructureChangedEventHandler
  virtual HRESULT STDMETHODCALLTYPE slot37() = 0;  // AddFocusChangedEventHandler
  virtual HRESULT STDMETHODCALLTYPE slot38() = 0;  // RemoveFocusChangedEventHandler
  virtual HRESULT STDMETHODCALLTYPE slot39() = 0;  // RemoveAllEventHandlers
  virtual HRESULT STDMETHODCALLTYPE slot40() = 0;  // IntNativeArrayToSafeArray
  virtual HRESULT STDMETHODCALLTYPE slot41() = 0;  // IntSafeArrayToNativeArray
  virtual HRESULT STDMETHODCALLTYPE slot42() = 0;  // RectToVariant
  virtual HRESULT STDMETHODCALLTYPE slot43() = 0;  // VariantToRect
  virtual HRESULT STDMETHODCALLTYPE slot44() = 0;  // SafeArrayToRectNativeArray
  virtual HRESULT STDMETHODCALLTYPE slot45() = 0;  // CreateProxyFactoryEntry
  virtual HRESULT STDMETHODCALLTYPE slot46() = 0;  // ProxyFactoryMapping
  virtual HRESULT STDMETHODCALLTYPE slot47() = 0;  // GetPropertyProgrammaticName
  virtual HRESULT STDMETHODCALLTYPE slot48() = 0;  // GetPatternProgrammaticName
  virtual HRESULT STDMETHODCALLTYPE slot49() = 0;  // PollForPotentialSupportedPatterns
  virtual HRESULT STDMETHODCALLTYPE slot50() = 0;  // PollForPotentialSupportedProperties
  virtual HRESULT STDMETHODCALLTYPE slot51() = 0;  // CheckNotSupported
  virtual HRESULT STDMETHODCALLTYPE slot52() = 0;  // ReservedNotSupportedValue
  virtual HRESULT STDMETHODCALLTYPE slot53() = 0;  // ReservedMixedAttributeValue
  virtual HRESULT STDMETHODCALLTYPE slot54() = 0;  // ElementFromIAccessible
  virtual HRESULT STDMETHODCALLTYPE slot55() = 0;  // ElementFromIAccessibleBuildCache
};

struct IUIAutomation2 : IUIAutomation {
  virtual HRESULT STDMETHODCALLTYPE get_AutoSetFocus(BOOL*) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AutoSetFocus(BOOL) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ConnectionTimeout(DWORD* milliseconds) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ConnectionTimeout(DWORD milliseconds) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_TransactionTimeout(DWORD* milliseconds) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_TransactionTimeout(DWORD milliseconds) = 0;
};

}  // namespace platform::windows::uia

#pragma GCC diagnostic pop
