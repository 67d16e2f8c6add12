// The `mic` event that both microphone monitors write.
#pragma once

#include "agent/audio/owning_app.h"
#include "agent/message.h"

#include <optional>

#include <sys/types.h>

namespace tondrel {

// All six keys, each absent value written as null: "pid" without a pid, and the
// three application fields without an application (its "appName" also when
// the application has no name).
Message micEvent(bool running, std::optional<pid_t> pid, const std::optional<OwningApp>& app);

}  // namespace tondrel
