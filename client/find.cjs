'use strict';

// Where the agent and the module of the running platform are: in the package
// named for the platform, which npm installs beside this one (an optional
// dependency whose os and cpu match), or the copy of it that a packaged
// Electron application unpacked from its archive.

const fs = require('node:fs');
const path = require('node:path');
const { TondrelError } = require('./errors.cjs');

const platforms = new Set(['darwin-arm64', 'darwin-x64', 'linux-x64']);

/** The name of the package holding the binaries for this system, or null. */
function platformPackage(platform = process.platform, arch = process.arch) {
  const key = `${platform}-${arch}`;
  return platforms.has(key) ? `tondrel-${key}` : null;
}

// A file inside an archive such as app.asar can be read through Electron's
// patched fs but cannot be run or loaded: the copy to use is the one that
// packaging left unpacked beside the archive.
function unpacked(file) {
  const outside = file.replace(/\.asar(?=[\\/])/, '.asar.unpacked');
  return outside !== file && fs.existsSync(outside) ? outside : file;
}

/**
 * The absolute path of `program` ('tondrel', or 'tondrel-sim' on Linux) in
 * the platform package. Throws a TondrelError with code
 * ERR_TONDREL_NOT_FOUND when there is no package for this system or it is
 * not installed.
 */
function findAgent(program = 'tondrel') {
  if (program !== 'tondrel' && program !== 'tondrel-sim') {
    throw new TypeError(`no program ${JSON.stringify(program)} in the platform package`);
  }
  const name = platformPackage();
  if (!name) {
    throw new TondrelError(
      `no tondrel package for ${process.platform}-${process.arch}; give the agent's path`,
      'ERR_TONDREL_NOT_FOUND');
  }
  let manifest;
  try {
    manifest = require.resolve(`${name}/package.json`);
  } catch (cause) {
    throw new TondrelError(
      `${name} is not installed (an optional dependency: installs that skip those, ` +
      'or that ran on another platform, leave it out); give the agent\'s path', 'ERR_TONDREL_NOT_FOUND',
      { cause });
  }
  const file = unpacked(path.join(path.dirname(manifest), program));
  if (!fs.existsSync(file)) {
    throw new TondrelError(`${name} holds no ${program}`, 'ERR_TONDREL_NOT_FOUND');
  }
  return file;
}

module.exports = { findAgent, platformPackage, unpacked };
