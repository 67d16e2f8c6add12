'use strict';

// The scenario runner's package: a host's tests depend on it (never its
// application), and it brings the runner built for the machine as an
// optional dependency, as @tondrel/client does the agent.

const { locate } = require('./locate.cjs');
const { name, version } = require('./package.json');

/**
 * The absolute path of tondrel-sim for this system. Throws an Error whose
 * code is ERR_TONDREL_UNSUPPORTED_PLATFORM (no build for this system; the
 * runner is built for Linux), ERR_TONDREL_NOT_FOUND or
 * ERR_TONDREL_VERSION_MISMATCH.
 */
function findSim() {
  return locate({
    user: name, file: 'tondrel-sim', version,
    fail: (kind, message, cause) => {
      const error = new Error(message, cause === undefined ? undefined : { cause });
      error.code = `ERR_TONDREL_${kind}`;
      throw error;
    },
  });
}

module.exports = { findSim, version };
