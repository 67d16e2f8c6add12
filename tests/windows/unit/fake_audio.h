// Fakes of the audio endpoint and session interfaces over a world a test
// describes and changes between polls: capture endpoints, each with its
// sessions, and failures of any read.
#pragma once

#include "fake_com.h"

#include <audiopolicy.h>
#include <mmdeviceapi.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fakes {

struct Session {
  std::wstring instance;  // the session instance identifier
  DWORD pid = 0;
  HRESULT pidResult = S_OK;  // S_FALSE: shared by several processes
  AudioSessionState state = AudioSessionStateInactive;
  HRESULT stateResult = S_OK;
  bool systemSounds = false;
  HRESULT instanceResult = S_OK;
};

struct Endpoint {
  std::vector<Session> sessions;
  HRESULT activateResult = S_OK;
  HRESULT listResult = S_OK;  // GetSessionEnumerator (Wine answers E_NOTIMPL)
};

struct AudioWorld {
  std::vector<Endpoint> endpoints;  // the active capture endpoints
  HRESULT enumerateResult = S_OK;
  // Index of the default capture endpoint; absent: there is none.
  std::optional<std::size_t> defaultEndpoint = 0;
  HRESULT defaultResult = S_OK;
  // What the backend asked for, to check the calls it made.
  std::vector<EDataFlow> enumeratedFlows;
  std::vector<DWORD> enumeratedStates;
};

// Makes the device enumerator over the world; the test keeps changing the
// world, and every object made from then on sees the change.
IMMDeviceEnumerator* makeDeviceEnumerator(const std::shared_ptr<AudioWorld>& world);

}  // namespace fakes
