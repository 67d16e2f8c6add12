#!/usr/bin/env node
'use strict';

// Checks a packaged macOS application: are the agent and the module of
// @tondrel/darwin outside the archive, and do they hold a slice for every
// architecture the application's own executable runs on, signed where they
// must be and unchanged since? A universal build
// that merged its halves wrongly, or a packager that left the files inside
// app.asar, would otherwise only show on a user's Mac. Runs on any system.
//
//   npx tondrel-check-app dist/mac-universal/YourApp.app

const fs = require('node:fs');
const path = require('node:path');
const { describeBinary } = require('./binaries.cjs');

const packageName = '@tondrel/darwin';

// The main executable's name from Info.plist (XML form), else the one file
// in Contents/MacOS.
function mainExecutable(contents) {
  try {
    const plist = fs.readFileSync(path.join(contents, 'Info.plist'), 'utf8');
    const name = /<key>CFBundleExecutable<\/key>\s*<string>([^<]+)<\/string>/.exec(plist)?.[1];
    if (name) return path.join(contents, 'MacOS', name);
  } catch {
    // A binary or missing Info.plist: fall back to the folder.
  }
  const entries = fs.readdirSync(path.join(contents, 'MacOS'));
  return entries.length === 1 ? path.join(contents, 'MacOS', entries[0]) : null;
}

/**
 * Checks the application bundle at `app`; returns
 * { problems: string[], found: { [file]: cpus[] }, archs: string[] } where
 * archs are those of the main executable (or `options.archs`).
 */
function checkApp(app, options = {}) {
  const problems = [];
  const found = {};
  const contents = path.join(app, 'Contents');
  if (!fs.existsSync(path.join(contents, 'MacOS'))) {
    return { problems: [`${app} is not an application bundle (no Contents/MacOS)`], found, archs: [] };
  }
  let archs = options.archs;
  if (!archs) {
    const main = mainExecutable(contents);
    const kind = main && fs.existsSync(main) ? describeBinary(main) : { error: 'not found' };
    if (kind.error) {
      return { problems: [`the main executable: ${kind.error}`], found, archs: [] };
    }
    archs = kind.slices.map((slice) => slice.cpu);
  }
  const resources = path.join(contents, 'Resources');
  const archive = fs.existsSync(path.join(resources, 'app.asar'));
  const dir = path.join(resources, archive ? 'app.asar.unpacked' : 'app', 'node_modules', packageName);
  if (!fs.existsSync(dir)) {
    problems.push(archive
      ? `${packageName} is not unpacked beside app.asar (expected ${dir}); add it to the packager's unpack list`
      : `${packageName} is not in the application (expected ${dir})`);
    return { problems, found, archs };
  }
  for (const file of ['tondrel', 'morvane.node']) {
    const where = path.join(dir, file);
    if (!fs.existsSync(where)) {
      problems.push(`${file}: missing from ${dir}`);
      continue;
    }
    const kind = describeBinary(where);
    if (kind.error || kind.os !== 'darwin') {
      problems.push(`${file}: ${kind.error ?? `built for ${kind.os}`}`);
      continue;
    }
    found[file] = kind.slices.map((slice) => slice.cpu);
    for (const arch of archs) {
      const slice = kind.slices.find((s) => s.cpu === arch);
      if (!slice) {
        problems.push(`${file}: no ${arch} slice (it holds ${found[file].join(', ')}), so it fails on ${arch} Macs`);
      } else if (arch === 'arm64' && !slice.signed) {
        problems.push(`${file}: its arm64 slice is not signed, and Apple silicon runs no unsigned code`);
      } else if (slice.signed && !slice.intact) {
        problems.push(`${file}: its ${arch} slice was changed after it was signed; sign it again`);
      }
    }
    if (file === 'tondrel' && (fs.statSync(where).mode & 0o111) === 0) {
      problems.push('tondrel: not executable');
    }
  }
  return { problems, found, archs };
}

function main(argv) {
  if (argv.length !== 1 || argv[0].startsWith('-')) {
    console.error('usage: tondrel-check-app PATH/TO/YourApp.app');
    return 2;
  }
  const { problems, found, archs } = checkApp(argv[0]);
  for (const [file, cpus] of Object.entries(found)) console.log(`${file}: ${cpus.join(', ')}`);
  if (problems.length > 0) {
    for (const problem of problems) console.error(`problem: ${problem}`);
    return 1;
  }
  console.log(`ok: ${packageName} is unpacked and serves ${archs.join(' and ')}`);
  return 0;
}

if (require.main === module) process.exitCode = main(process.argv.slice(2));

module.exports = { checkApp };
