'use strict';

// Run before a platform package is packed (its prepack script), in the
// package's folder: every binary the package lists must be there, a regular
// file, runnable where it is a program, and built for the package's os and
// cpu. A tarball without its binaries would install cleanly and fail only on
// a host's machine, so packing one is refused here.

const fs = require('fs');
const path = require('path');

const manifest = JSON.parse(fs.readFileSync('package.json', 'utf8'));
const [os] = manifest.os;
const [cpu] = manifest.cpu;
const notBinaries = new Set(['README.md', 'LICENSE', 'package.json']);
const programs = new Set(['tondrel', 'tondrel-sim']);

// What the first bytes of a file say it is, or a reason it is none of ours.
function describe(bytes) {
  if (bytes.length >= 20 && bytes.readUInt32BE(0) === 0x7f454c46) {
    if (bytes[4] !== 2 || bytes[5] !== 1) return { error: 'not a 64-bit little-endian ELF file' };
    const type = bytes.readUInt16LE(16);
    const machine = bytes.readUInt16LE(18);
    const cpus = { 0x3e: 'x64', 0xb7: 'arm64' };
    return { os: 'linux', cpu: cpus[machine] ?? `machine ${machine}`, program: type === 2 || type === 3, library: type === 3 };
  }
  if (bytes.length >= 16 && bytes.readUInt32LE(0) === 0xfeedfacf) {
    const cpus = { 0x0100000c: 'arm64', 0x01000007: 'x64' };
    const cputype = bytes.readUInt32LE(4);
    const filetype = bytes.readUInt32LE(12);
    return { os: 'darwin', cpu: cpus[cputype] ?? `cputype ${cputype}`, program: filetype === 2, library: filetype === 8 };
  }
  if (bytes.length >= 4 && bytes.readUInt32BE(0) === 0xcafebabe) {
    return { error: 'a universal file; each package holds one architecture' };
  }
  return { error: 'neither ELF nor Mach-O' };
}

const problems = [];
for (const name of manifest.files.filter((file) => !notBinaries.has(file))) {
  let stat;
  try {
    stat = fs.statSync(name);
  } catch {
    problems.push(`${name}: missing`);
    continue;
  }
  if (!stat.isFile() || stat.size === 0) {
    problems.push(`${name}: not a regular, non-empty file`);
    continue;
  }
  const bytes = Buffer.alloc(64);
  const fd = fs.openSync(name, 'r');
  fs.readSync(fd, bytes, 0, bytes.length, 0);
  fs.closeSync(fd);
  const kind = describe(bytes);
  if (kind.error) {
    problems.push(`${name}: ${kind.error}`);
  } else if (kind.os !== os || kind.cpu !== cpu) {
    problems.push(`${name}: built for ${kind.os}-${kind.cpu}, the package is for ${os}-${cpu}`);
  } else if (programs.has(name) && !kind.program) {
    problems.push(`${name}: not an executable`);
  } else if (name.endsWith('.node') && !kind.library) {
    problems.push(`${name}: not a loadable module`);
  } else if (programs.has(name) && (stat.mode & 0o111) === 0) {
    problems.push(`${name}: not executable (mode ${(stat.mode & 0o777).toString(8)})`);
  }
}
if (problems.length > 0) {
  console.error(`${manifest.name} cannot be packed from ${path.resolve('.')}:`);
  for (const problem of problems) console.error(`  ${problem}`);
  console.error('Assemble it from a build first: scripts/assemble-packages');
  process.exit(1);
}
