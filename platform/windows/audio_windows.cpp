// Microphone capture from the audio sessions of Windows' capture endpoints.
//
// Every process that records from an input device holds an audio session on
// that device's endpoint; the session knows its process and whether it is
// active (has a stream running) now. A capture stream here is one such
// session, on any active capture endpoint. The system-sounds session is not a
// process's capture and is skipped; an expired session is gone.
#include "platform/audio.h"
#include "platform/windows/audio_sessions.h"
#include "platform/windows/com.h"

#include <audiopolicy.h>
#include <mmdeviceapi.h>

#include <string>
#include <unordered_map>

namespace platform::windows {

namespace {

Com<IMMDeviceEnumerator> testEnumerator;
bool testing = false;

// Asked on the main thread only (the monitors' polls), so it is made once
// there and kept.
Com<IMMDeviceEnumerator> deviceEnumerator() {
  if (testing) return testEnumerator;
  static Com<IMMDeviceEnumerator> system;
  if (!system && comReady()) {
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                __uuidof(IMMDeviceEnumerator),
                                reinterpret_cast<void**>(system.out())))) {
      system.reset();
    }
  }
  return system;
}

// Stream ids by session instance identifier (unique per session and
// endpoint, for the session's lifetime): a session keeps its id while it is
// listed, and ids are never given out twice.
class SessionIds {
 public:
  audio::StreamId idFor(const std::wstring& session) {
    const auto known = current_.find(session);
    const audio::StreamId id = known != current_.end() ? known->second : next_++;
    seen_.emplace(session, id);
    return id;
  }
  // Forgets the sessions this poll did not list.
  void pollDone() {
    current_.swap(seen_);
    seen_.clear();
  }
  void reset() {
    current_.clear();
    seen_.clear();
  }

 private:
  std::unordered_map<std::wstring, audio::StreamId> current_;
  std::unordered_map<std::wstring, audio::StreamId> seen_;
  audio::StreamId next_ = 0;
};

SessionIds& sessionIds() {
  static SessionIds ids;
  return ids;
}

Com<IAudioSessionEnumerator> sessionsOf(IMMDevice* device) {
  Com<IAudioSessionManager2> manager;
  Com<IAudioSessionEnumerator> sessions;
  if (FAILED(device->Activate(__uuidof(IAudioSessionManager2), CLSCTX_ALL, nullptr,
                              reinterpret_cast<void**>(manager.out()))) ||
      !manager || FAILED(manager->GetSessionEnumerator(sessions.out()))) {
    sessions.reset();
  }
  return sessions;
}

// Calls `each` with every session of the enumerator that is a process's:
// not the system-sounds session, not expired. False when the list cannot be
// read.
template <typename Each>
bool forEachSession(IAudioSessionEnumerator* sessions, Each each) {
  int count = 0;
  if (FAILED(sessions->GetCount(&count))) return false;
  for (int i = 0; i < count; ++i) {
    Com<IAudioSessionControl> control;
    if (FAILED(sessions->GetSession(i, control.out())) || !control) continue;
    auto session = control.as<IAudioSessionControl2>(__uuidof(IAudioSessionControl2));
    if (!session || session->IsSystemSoundsSession() == S_OK) continue;
    AudioSessionState state = AudioSessionStateInactive;
    const bool stateRead = SUCCEEDED(session->GetState(&state));
    if (stateRead && state == AudioSessionStateExpired) continue;
    each(session.get(),
         stateRead ? std::optional<bool>(state == AudioSessionStateActive) : std::nullopt);
  }
  return true;
}

}  // namespace

void setDeviceEnumeratorForTesting(IMMDeviceEnumerator* enumerator) {
  testing = enumerator != nullptr;
  testEnumerator = Com<IMMDeviceEnumerator>::retain(enumerator);
  sessionIds().reset();
}

}  // namespace platform::windows

namespace platform::audio {

using windows::Com;

Monitor supportedMonitor() { return Monitor::perProcess; }

// The sessions are sampled once a second.
Updates updates() { return Updates::polled; }

void captureStreams(std::vector<CaptureStream>& streams, const PidWanted& /*pidWanted*/) {
  streams.clear();
  windows::SessionIds& ids = windows::sessionIds();
  Com<IMMDeviceEnumerator> enumerator = windows::deviceEnumerator();
  Com<IMMDeviceCollection> endpoints;
  UINT count = 0;
  if (!enumerator ||
      FAILED(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, endpoints.out())) ||
      !endpoints || FAILED(endpoints->GetCount(&count))) {
    ids.pollDone();
    return;
  }
  for (UINT i = 0; i < count; ++i) {
    Com<IMMDevice> endpoint;
    if (FAILED(endpoints->Item(i, endpoint.out())) || !endpoint) continue;
    Com<IAudioSessionEnumerator> sessions = windows::sessionsOf(endpoint.get());
    if (!sessions) continue;
    windows::forEachSession(
        sessions.get(), [&](IAudioSessionControl2* session, std::optional<bool> active) {
          // A session without its identifier cannot be told apart from the next
          // poll's sessions, so it is not listed.
          LPWSTR instance = nullptr;
          if (FAILED(session->GetSessionInstanceIdentifier(&instance)) || instance == nullptr)
            return;
          const std::wstring key = instance;
          CoTaskMemFree(instance);
          CaptureStream stream;
          stream.id = ids.idFor(key);
          // The pid is held by the session object itself: reading it costs no
          // call to the audio service, so it is read whether wanted or not.
          // S_FALSE (AUDCLNT_S_NO_SINGLE_PROCESS): a session shared by several
          // processes has no one pid.
          DWORD pid = 0;
          if (session->GetProcessId(&pid) == S_OK) stream.pid = static_cast<pid_t>(pid);
          stream.capturing = active;
          streams.push_back(stream);
        });
  }
  ids.pollDone();
}

std::optional<bool> defaultInputRunning() {
  Com<IMMDeviceEnumerator> enumerator = windows::deviceEnumerator();
  if (!enumerator) return std::nullopt;
  Com<IMMDevice> endpoint;
  const HRESULT found = enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, endpoint.out());
  if (found == HRESULT_FROM_WIN32(ERROR_NOT_FOUND)) return false;
  if (FAILED(found) || !endpoint) return std::nullopt;
  Com<IAudioSessionEnumerator> sessions = windows::sessionsOf(endpoint.get());
  if (!sessions) return std::nullopt;
  bool running = false;
  bool unknown = false;
  const bool listed = windows::forEachSession(
      sessions.get(), [&](IAudioSessionControl2*, std::optional<bool> active) {
        if (!active)
          unknown = true;
        else if (*active)
          running = true;
      });
  if (!listed) return std::nullopt;
  // One active session answers it; a state that could not be read leaves
  // "not running" unsure.
  if (running) return true;
  if (unknown) return std::nullopt;
  return false;
}

}  // namespace platform::audio
