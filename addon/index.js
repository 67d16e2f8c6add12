'use strict';

// Loads morvane.node for this system: the one beside this file when there is
// one (a build lays the package out that way, and a host may copy it so), else
// the one in the platform package that npm installed as an optional
// dependency. Inside a packaged Electron application that package sits in
// app.asar, which cannot hold a loadable module: the copy loaded is the one
// unpacked beside the archive.

const fs = require('fs');
const path = require('path');

const platforms = {
  'darwin-arm64': 'tondrel-darwin-arm64',
  'darwin-x64': 'tondrel-darwin-x64',
  'linux-x64': 'tondrel-linux-x64',
};

function notFound(message, cause) {
  const error = new Error(`morvane: ${message}`, cause === undefined ? undefined : { cause });
  error.code = 'ERR_MORVANE_NOT_FOUND';
  return error;
}

function locate() {
  const beside = path.join(__dirname, 'morvane.node');
  if (fs.existsSync(beside)) return beside;
  const key = `${process.platform}-${process.arch}`;
  const name = platforms[key];
  if (!name) throw notFound(`no build for ${key}`);
  let manifest;
  try {
    manifest = require.resolve(`${name}/package.json`);
  } catch (cause) {
    throw notFound(`${name} is not installed (an optional dependency of this package)`, cause);
  }
  const file = path.join(path.dirname(manifest), 'morvane.node');
  const outside = file.replace(/\.asar(?=[\\/])/, '.asar.unpacked');
  if (outside !== file && fs.existsSync(outside)) return outside;
  if (!fs.existsSync(file)) throw notFound(`${name} holds no morvane.node`);
  return file;
}

module.exports = require(locate());
