'use strict';

// Loads morvane.node for this system: the one beside this file when there is
// one (a build lays the package out that way, and a host may copy it so), else
// the one in the platform package that npm installed as an optional
// dependency, or inside a packaged Electron application the copy unpacked
// beside app.asar.
//
// Loading never throws. An application ships one code base to every
// platform, and an ES module host cannot even catch an exception thrown
// while its imports load: where there is no module to load, or it fails to
// load, `morvane()` answers false like any other call it cannot carry out,
// `available` is false and `loadError` says why.

const fs = require('fs');
const path = require('path');

function failure(code, message, cause) {
  const error = new Error(`morvane: ${message}`, cause === undefined ? undefined : { cause });
  error.code = code;
  return error;
}

function locate() {
  const beside = path.join(__dirname, 'morvane.node');
  if (fs.existsSync(beside)) return beside;
  const { locate: inPlatformPackage } = require('./locate.cjs');
  const { name, version } = require('./package.json');
  return inPlatformPackage({
    user: '@tondrel/client', who: name, file: 'morvane.node', version,
    fail: (kind, message, cause) => {
      throw failure(`ERR_MORVANE_${kind}`, message, cause);
    },
  });
}

let binding = null;
let loadError = null;
try {
  binding = require(locate());
  if (typeof binding?.morvane !== 'function') {
    binding = null;
    throw failure('ERR_MORVANE_LOAD_FAILED', 'the loaded module exports no morvane function');
  }
} catch (error) {
  loadError = typeof error?.code === 'string' && error.code.startsWith('ERR_MORVANE_') ? error
    : failure('ERR_MORVANE_LOAD_FAILED', `morvane.node could not be loaded: ${error?.message}`, error);
}

// Stands in where no module could be loaded: every call is one that cannot
// be carried out here.
function morvane() {
  return false;
}

exports.morvane = binding ? binding.morvane : morvane;
exports.available = binding !== null;
exports.loadError = loadError;
