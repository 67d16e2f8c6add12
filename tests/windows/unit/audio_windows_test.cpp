// The audio questions over fakes of the endpoint and session interfaces.
#include "platform/audio.h"
#include "platform/windows/audio_sessions.h"

#include "fake_audio.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using platform::audio::CaptureStream;
using platform::audio::StreamId;

class WindowsAudio : public ::testing::Test {
 protected:
  void SetUp() override {
    world = std::make_shared<fakes::AudioWorld>();
    IMMDeviceEnumerator* enumerator = fakes::makeDeviceEnumerator(world);
    platform::windows::setDeviceEnumeratorForTesting(enumerator);
    enumerator->Release();
  }
  void TearDown() override {
    platform::windows::setDeviceEnumeratorForTesting(nullptr);
    EXPECT_EQ(fakes::liveObjects().load(), 0)
        << "a COM reference the backend was handed is still held";
  }

  std::vector<CaptureStream> poll() {
    std::vector<CaptureStream> streams;
    platform::audio::captureStreams(streams, [](StreamId) { return true; });
    return streams;
  }

  std::shared_ptr<fakes::AudioWorld> world;
};

fakes::Session session(const wchar_t* instance, DWORD pid, AudioSessionState state) {
  fakes::Session made;
  made.instance = instance;
  made.pid = pid;
  made.state = state;
  return made;
}

TEST_F(WindowsAudio, ListsTheProcessSessionsOfEveryActiveCaptureEndpoint) {
  fakes::Session sounds = session(L"sounds", 0, AudioSessionStateActive);
  sounds.systemSounds = true;
  world->endpoints = {
      {{session(L"a", 100, AudioSessionStateActive), sounds,
        session(L"b", 200, AudioSessionStateInactive)}},
      {{session(L"c", 300, AudioSessionStateExpired), session(L"d", 400, AudioSessionStateActive)}},
  };
  const auto streams = poll();
  ASSERT_EQ(streams.size(), 3u);
  EXPECT_EQ(streams[0].pid, 100);
  EXPECT_EQ(streams[0].capturing, true);
  EXPECT_EQ(streams[1].pid, 200);
  EXPECT_EQ(streams[1].capturing, false);
  EXPECT_EQ(streams[2].pid, 400);
  EXPECT_EQ(streams[2].capturing, true);
  ASSERT_EQ(world->enumeratedFlows.size(), 1u);
  EXPECT_EQ(world->enumeratedFlows[0], eCapture);
  EXPECT_EQ(world->enumeratedStates[0], static_cast<DWORD>(DEVICE_STATE_ACTIVE));
  EXPECT_EQ(platform::audio::supportedMonitor(), platform::audio::Monitor::perProcess);
}

TEST_F(WindowsAudio, ASessionKeepsItsIdWhileListedAndIdsAreNeverGivenTwice) {
  world->endpoints = {
      {{session(L"a", 1, AudioSessionStateActive), session(L"b", 2, AudioSessionStateActive)}}};
  const auto first = poll();
  ASSERT_EQ(first.size(), 2u);
  EXPECT_NE(first[0].id, first[1].id);

  // Listed in another order, with a new session beside them.
  world->endpoints[0].sessions = {session(L"c", 3, AudioSessionStateActive),
                                  session(L"b", 2, AudioSessionStateInactive),
                                  session(L"a", 1, AudioSessionStateActive)};
  const auto second = poll();
  ASSERT_EQ(second.size(), 3u);
  EXPECT_EQ(second[2].id, first[0].id);
  EXPECT_EQ(second[1].id, first[1].id);
  EXPECT_NE(second[0].id, first[0].id);
  EXPECT_NE(second[0].id, first[1].id);

  // "a" goes, then a session of the same identifier comes back: a new stream.
  world->endpoints[0].sessions = {session(L"b", 2, AudioSessionStateInactive)};
  poll();
  world->endpoints[0].sessions = {session(L"a", 1, AudioSessionStateActive)};
  const auto third = poll();
  ASSERT_EQ(third.size(), 1u);
  for (const auto& earlier : {first[0], first[1], second[0]}) EXPECT_NE(third[0].id, earlier.id);
}

TEST_F(WindowsAudio, FailedReadsLeaveTheirFieldAbsentOrTheSessionOut) {
  fakes::Session shared = session(L"shared", 0, AudioSessionStateActive);
  shared.pidResult = S_FALSE;  // one session of several processes
  fakes::Session noState = session(L"nostate", 7, AudioSessionStateActive);
  noState.stateResult = E_FAIL;
  fakes::Session noIdentifier = session(L"", 8, AudioSessionStateActive);
  noIdentifier.instanceResult = E_OUTOFMEMORY;
  fakes::Session noPid = session(L"nopid", 9, AudioSessionStateActive);
  noPid.pidResult = E_FAIL;
  fakes::Endpoint unlisted{{session(L"hidden", 5, AudioSessionStateActive)}};
  unlisted.listResult = E_NOTIMPL;
  fakes::Endpoint inactive{{session(L"never", 6, AudioSessionStateActive)}};
  inactive.activateResult = AUDCLNT_E_DEVICE_INVALIDATED;
  world->endpoints = {unlisted, {{shared, noState, noIdentifier, noPid}}, inactive};

  const auto streams = poll();
  ASSERT_EQ(streams.size(), 3u);
  EXPECT_FALSE(streams[0].pid.has_value());
  EXPECT_EQ(streams[0].capturing, true);
  EXPECT_EQ(streams[1].pid, 7);
  EXPECT_FALSE(streams[1].capturing.has_value());
  EXPECT_FALSE(streams[2].pid.has_value());
  EXPECT_EQ(streams[2].capturing, true);

  world->enumerateResult = E_FAIL;
  std::vector<CaptureStream> kept = streams;
  platform::audio::captureStreams(kept, [](StreamId) { return true; });
  EXPECT_TRUE(kept.empty()) << "an unreadable list is an empty one";
}

TEST_F(WindowsAudio, TheDefaultCaptureEndpointRunsWhenOneOfItsSessionsIsActive) {
  fakes::Session sounds = session(L"sounds", 0, AudioSessionStateActive);
  sounds.systemSounds = true;
  fakes::Session unknown = session(L"unknown", 3, AudioSessionStateActive);
  unknown.stateResult = E_FAIL;
  fakes::Endpoint unlisted{{session(L"a", 1, AudioSessionStateActive)}};
  unlisted.listResult = E_NOTIMPL;

  struct Case {
    const char* name;
    std::vector<fakes::Endpoint> endpoints;
    std::optional<std::size_t> defaultEndpoint;
    HRESULT defaultResult;
    std::optional<bool> expected;
  };
  // clang-format off
  const Case cases[] = {
      {"no default endpoint", {}, std::nullopt, S_OK, false},
      {"an active session", {{{session(L"a", 1, AudioSessionStateInactive), session(L"b", 2, AudioSessionStateActive)}}}, 0, S_OK, true},
      {"inactive sessions only", {{{session(L"a", 1, AudioSessionStateInactive)}}}, 0, S_OK, false},
      {"no sessions", {{}}, 0, S_OK, false},
      {"only the system sounds are active", {{{sounds}}}, 0, S_OK, false},
      {"an active session on another endpoint", {{{}}, {{session(L"a", 1, AudioSessionStateActive)}}}, 0, S_OK, false},
      {"an unreadable state and none active", {{{unknown}}}, 0, S_OK, std::nullopt},
      {"an unreadable state beside an active one", {{{unknown, session(L"b", 2, AudioSessionStateActive)}}}, 0, S_OK, true},
      {"sessions that cannot be listed", {unlisted}, 0, S_OK, std::nullopt},
      {"the default endpoint unreadable", {{{}}}, 0, E_FAIL, std::nullopt},
  };
  // clang-format on
  for (const Case& c : cases) {
    world->endpoints = c.endpoints;
    world->defaultEndpoint = c.defaultEndpoint;
    world->defaultResult = c.defaultResult;
    EXPECT_EQ(platform::audio::defaultInputRunning(), c.expected) << c.name;
  }
}

}  // namespace
