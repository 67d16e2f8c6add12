#include "fake_audio.h"

namespace fakes {

namespace {

using World = std::shared_ptr<AudioWorld>;

class SessionControl : public Fake<IAudioSessionControl2> {
 public:
  explicit SessionControl(Session session) : session_(std::move(session)) {}

  HRESULT STDMETHODCALLTYPE GetState(AudioSessionState* state) override {
    if (FAILED(session_.stateResult)) return session_.stateResult;
    *state = session_.state;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIconPath(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetIconPath(LPCWSTR, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetGroupingParam(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetGroupingParam(LPCGUID, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterAudioSessionNotification(IAudioSessionEvents*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterAudioSessionNotification(IAudioSessionEvents*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetSessionIdentifier(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSessionInstanceIdentifier(LPWSTR* identifier) override {
    if (FAILED(session_.instanceResult)) return session_.instanceResult;
    const std::size_t bytes = (session_.instance.size() + 1) * sizeof(wchar_t);
    *identifier = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    std::copy(session_.instance.c_str(), session_.instance.c_str() + session_.instance.size() + 1,
              *identifier);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetProcessId(DWORD* pid) override {
    *pid = session_.pid;
    return session_.pidResult;
  }
  HRESULT STDMETHODCALLTYPE IsSystemSoundsSession() override {
    return session_.systemSounds ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE SetDuckingPreference(BOOL) override { return E_NOTIMPL; }

 protected:
  bool answers(REFIID iid) const override {
    return IsEqualIID(iid, __uuidof(IAudioSessionControl)) ||
           IsEqualIID(iid, __uuidof(IAudioSessionControl2));
  }

 private:
  Session session_;
};

class SessionList : public Fake<IAudioSessionEnumerator> {
 public:
  explicit SessionList(std::vector<Session> sessions) : sessions_(std::move(sessions)) {}
  HRESULT STDMETHODCALLTYPE GetCount(int* count) override {
    *count = static_cast<int>(sessions_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSession(int index, IAudioSessionControl** session) override {
    if (index < 0 || static_cast<std::size_t>(index) >= sessions_.size()) return E_INVALIDARG;
    // Handed out as the base interface, as the system does.
    *session = new SessionControl(sessions_[static_cast<std::size_t>(index)]);
    return S_OK;
  }

 protected:
  bool answers(REFIID iid) const override {
    return IsEqualIID(iid, __uuidof(IAudioSessionEnumerator));
  }

 private:
  std::vector<Session> sessions_;
};

class SessionManager : public Fake<IAudioSessionManager2> {
 public:
  SessionManager(World world, std::size_t endpoint)
      : world_(std::move(world)), endpoint_(endpoint) {}
  HRESULT STDMETHODCALLTYPE GetAudioSessionControl(LPCGUID, DWORD,
                                                   IAudioSessionControl**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetSimpleAudioVolume(LPCGUID, DWORD, ISimpleAudioVolume**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetSessionEnumerator(IAudioSessionEnumerator** sessions) override {
    const Endpoint& endpoint = world_->endpoints.at(endpoint_);
    if (FAILED(endpoint.listResult)) return endpoint.listResult;
    return handOut<SessionList>(sessions, endpoint.sessions);
  }
  HRESULT STDMETHODCALLTYPE RegisterSessionNotification(IAudioSessionNotification*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterSessionNotification(IAudioSessionNotification*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RegisterDuckNotification(LPCWSTR,
                                                     IAudioVolumeDuckNotification*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterDuckNotification(IAudioVolumeDuckNotification*) override {
    return E_NOTIMPL;
  }

 protected:
  bool answers(REFIID iid) const override {
    return IsEqualIID(iid, __uuidof(IAudioSessionManager)) ||
           IsEqualIID(iid, __uuidof(IAudioSessionManager2));
  }

 private:
  World world_;
  std::size_t endpoint_;
};

class Device : public Fake<IMMDevice> {
 public:
  Device(World world, std::size_t endpoint) : world_(std::move(world)), endpoint_(endpoint) {}
  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
    const Endpoint& endpoint = world_->endpoints.at(endpoint_);
    if (FAILED(endpoint.activateResult)) return endpoint.activateResult;
    if (!IsEqualIID(iid, __uuidof(IAudioSessionManager2))) return E_NOINTERFACE;
    *object = static_cast<IAudioSessionManager2*>(new SessionManager(world_, endpoint_));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
    *state = DEVICE_STATE_ACTIVE;
    return S_OK;
  }

 protected:
  bool answers(REFIID iid) const override { return IsEqualIID(iid, __uuidof(IMMDevice)); }

 private:
  World world_;
  std::size_t endpoint_;
};

class DeviceList : public Fake<IMMDeviceCollection> {
 public:
  explicit DeviceList(World world) : world_(std::move(world)), count_(world_->endpoints.size()) {}
  HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
    *count = static_cast<UINT>(count_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override {
    if (index >= count_) return E_INVALIDARG;
    return handOut<Device>(device, world_, index);
  }

 protected:
  bool answers(REFIID iid) const override { return IsEqualIID(iid, __uuidof(IMMDeviceCollection)); }

 private:
  World world_;
  std::size_t count_;
};

class DeviceEnumerator : public Fake<IMMDeviceEnumerator> {
 public:
  explicit DeviceEnumerator(World world) : world_(std::move(world)) {}
  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD states,
                                               IMMDeviceCollection** devices) override {
    world_->enumeratedFlows.push_back(flow);
    world_->enumeratedStates.push_back(states);
    if (FAILED(world_->enumerateResult)) return world_->enumerateResult;
    return handOut<DeviceList>(devices, world_);
  }
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole,
                                                    IMMDevice** device) override {
    if (flow != eCapture) return E_INVALIDARG;
    if (FAILED(world_->defaultResult)) return world_->defaultResult;
    if (!world_->defaultEndpoint) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    return handOut<Device>(device, world_, *world_->defaultEndpoint);
  }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE
  UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return E_NOTIMPL;
  }

 protected:
  bool answers(REFIID iid) const override { return IsEqualIID(iid, __uuidof(IMMDeviceEnumerator)); }

 private:
  World world_;
};

}  // namespace

IMMDeviceEnumerator* makeDeviceEnumerator(const std::shared_ptr<AudioWorld>& world) {
  return new DeviceEnumerator(world);
}

}  // namespace fakes
