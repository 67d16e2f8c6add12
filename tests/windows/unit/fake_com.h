// The base of the fake COM objects the Windows backend is tested over:
// reference counting, QueryInterface for the interfaces a fake declares, and
// a count of live fakes, so a test can check that the backend released every
// reference it was handed.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <utility>

// The fakes do have a virtual destructor, but the COM interfaces they derive
// from have none (objects end through Release()).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace fakes {

inline std::atomic<long>& liveObjects() {
  static std::atomic<long> count{0};
  return count;
}

// `Interface` is the most derived interface the fake implements; `iids` are
// every IID it answers besides IUnknown (its own and its bases').
template <typename Interface>
class Fake : public Interface {
 public:
  Fake() { liveObjects().fetch_add(1); }
  Fake(const Fake&) = delete;
  Fake& operator=(const Fake&) = delete;
  virtual ~Fake() { liveObjects().fetch_sub(1); }

  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || answers(iid)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }

 protected:
  virtual bool answers(REFIID iid) const = 0;

 private:
  std::atomic<long> references_{1};
};

// A new fake handed out through an out parameter, as COM hands out objects:
// the caller owns the one reference.
template <typename Made, typename Interface, typename... Arguments>
HRESULT handOut(Interface** out, Arguments&&... arguments) {
  if (out == nullptr) return E_POINTER;
  *out = new Made(std::forward<Arguments>(arguments)...);
  return S_OK;
}

}  // namespace fakes

#pragma GCC diagnostic pop
