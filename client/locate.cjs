'use strict';

// Finds a file of the platform package for the running system: the package
// npm installed beside the one this file is part of (an optional dependency
// whose os and cpu match), or the copy of its files that a packaged Electron
// application unpacked from its archive. The client, the morvane module and
// the scenario runner's package each carry a copy of this file, so each
// resolves its own dependencies.

const fs = require('node:fs');
const path = require('node:path');
const { packageFor, packages } = require('./platforms.cjs');

// A file inside an archive such as app.asar can be read through Electron's
// patched fs but cannot be run or loaded: the copy to use is the one that
// packaging left unpacked beside the archive.
function unpacked(file) {
  const outside = file.replace(/\.asar(?=[\\/])/, '.asar.unpacked');
  return outside !== file && fs.existsSync(outside) ? outside : file;
}

/**
 * The absolute path of `file` in the platform package that `user` depends
 * on, checked to be of `version`, the version of `who` (the package asking,
 * named in the messages; default `user`). Failures go to `fail(kind, message,
 * cause)`, which must throw; kind is 'UNSUPPORTED_PLATFORM' (no package for
 * this system), 'NOT_FOUND' (not installed, or without the file) or
 * 'VERSION_MISMATCH'.
 */
function locate({ user, who = user, file, version, fail }) {
  const key = `${process.platform}-${process.arch}`;
  const name = packageFor(user);
  if (!name) {
    // A build for this os and cpu that was passed over was one for glibc.
    const glibcOnly = Object.values(packages).some((entry) =>
      entry.for === user && entry.os === process.platform && entry.cpu.includes(process.arch));
    fail('UNSUPPORTED_PLATFORM', `${who} ${version} has no build for ${key}` +
      (glibcOnly ? ' with this C library (the builds need glibc)' : ''));
  }
  let manifestPath;
  try {
    manifestPath = require.resolve(`${name}/package.json`);
  } catch (cause) {
    fail('NOT_FOUND', `${name} is not installed (an optional dependency of ${who}: ` +
      'installs that skip those, or that ran on another platform, leave it out)', cause);
  }
  let found;
  try {
    found = JSON.parse(fs.readFileSync(manifestPath, 'utf8')).version;
  } catch (cause) {
    fail('NOT_FOUND', `${name} has no readable package.json at ${manifestPath}`, cause);
  }
  // The binaries speak the protocol of their own release; a client of
  // another one may misread them, so only the exact version is taken.
  if (found !== version) {
    fail('VERSION_MISMATCH', `${name} ${found} is installed, but ${who} ${version} needs ` +
      `${name} ${version}; install both at one version`);
  }
  // Programs for Windows carry their extension.
  const actual = packages[name].files.includes(`${file}.exe`) ? `${file}.exe` : file;
  const where = unpacked(path.join(path.dirname(manifestPath), actual));
  if (!fs.existsSync(where)) fail('NOT_FOUND', `${name} holds no ${actual}`);
  return where;
}

module.exports = { locate, unpacked };
