'use strict';

// Where the agent of the running platform is: in the platform package that
// npm installed beside this one, or for the scenario runner in the package
// of @tondrel/sim, which hosts install for their tests only.

const { TondrelError } = require('./errors.cjs');
const { locate } = require('./locate.cjs');
const { packageFor } = require('./platforms.cjs');
const { version } = require('./version.cjs');

/** The name of the package holding the agent for a system, or null. */
function platformPackage(platform = process.platform, arch = process.arch) {
  return packageFor('@tondrel/client', platform, arch);
}

const fail = (kind, message, cause) => {
  throw new TondrelError(message, `ERR_TONDREL_${kind}`, cause === undefined ? undefined : { cause });
};

/**
 * The absolute path of `program`: 'tondrel' from the platform package, or
 * 'tondrel-sim' from @tondrel/sim. Throws a TondrelError:
 * ERR_TONDREL_UNSUPPORTED_PLATFORM when there is no build for this system,
 * ERR_TONDREL_NOT_FOUND when the package is not installed or lacks the
 * program, ERR_TONDREL_VERSION_MISMATCH when it is of another version.
 */
function findAgent(program = 'tondrel') {
  if (program === 'tondrel') {
    return locate({ user: '@tondrel/client', file: 'tondrel', version, fail });
  }
  if (program !== 'tondrel-sim') {
    throw new TypeError(`no program ${JSON.stringify(program)}: 'tondrel' or 'tondrel-sim'`);
  }
  let sim;
  try {
    sim = require('@tondrel/sim');
  } catch (cause) {
    fail('NOT_FOUND', '@tondrel/sim is not installed (hosts add it to their devDependencies ' +
      'to run the agent against a scenario)', cause);
  }
  if (sim.version !== version) {
    fail('VERSION_MISMATCH', `@tondrel/sim ${sim.version} is installed, but @tondrel/client ` +
      `${version} needs @tondrel/sim ${version}; install both at one version`);
  }
  try {
    return sim.findSim();
  } catch (error) {
    // Its errors carry the same codes; here they become this package's class.
    if (typeof error?.code !== 'string' || !error.code.startsWith('ERR_TONDREL_')) throw error;
    fail(error.code.slice('ERR_TONDREL_'.length), error.message, error.cause);
  }
}

module.exports = { findAgent, platformPackage };
