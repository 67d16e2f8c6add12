'use strict';

// The packages that carry the native binaries, one entry each. Everything
// about them is derived from this table: which one the client and the
// module load on the running system, the optional dependencies of the
// packages that use them, and how scripts/assemble-packages lays them out,
// names and checks them. A new platform is one more entry here, and its
// build given to assemble-packages; client/binaries.cjs must be able to read
// its binaries' headers (ELF, Mach-O and PE so far), or they are refused at pack.
//
//   os, cpu, libc  the npm fields of the package; the package serves every
//                  os-cpu pair listed (one darwin package holds universal
//                  files, so both halves of a universal app get the same ones)
//   files          the binaries it holds; programs are executable (a name
//                  may end in .exe: 'tondrel.exe' is found as 'tondrel')
//   for            the package that depends on it: '@tondrel/client' (and
//                  '@tondrel/morvane', which loads morvane.node from the same
//                  package) or '@tondrel/sim'
//   build          the name assemble-packages takes the build folder by
//   title          what it is for, in words, for its description and README

const scope = '@tondrel';

const packages = Object.freeze({
  '@tondrel/darwin': {
    os: 'darwin', cpu: ['arm64', 'x64'],
    files: ['tondrel', 'morvane.node'],
    for: '@tondrel/client', build: 'macos',
    title: 'macOS 12.0 or later, universal files (Apple silicon and Intel in each)',
  },
  '@tondrel/linux-x64': {
    os: 'linux', cpu: ['x64'], libc: 'glibc',
    files: ['tondrel', 'morvane.node'],
    for: '@tondrel/client', build: 'linux-x64',
    title: 'Linux on x86-64 with glibc',
  },
  '@tondrel/linux-arm64': {
    os: 'linux', cpu: ['arm64'], libc: 'glibc',
    files: ['tondrel', 'morvane.node'],
    for: '@tondrel/client', build: 'linux-arm64',
    title: 'Linux on 64-bit Arm (aarch64) with glibc',
  },
  '@tondrel/win32-x64': {
    os: 'win32', cpu: ['x64'],
    files: ['tondrel.exe', 'morvane.node'],
    for: '@tondrel/client', build: 'windows',
    title: 'Windows 10 or later on x86-64',
  },
  '@tondrel/sim-linux-x64': {
    os: 'linux', cpu: ['x64'], libc: 'glibc',
    files: ['tondrel-sim'],
    for: '@tondrel/sim', build: 'linux-x64',
    title: 'the scenario runner for Linux on x86-64 with glibc',
  },
  '@tondrel/sim-linux-arm64': {
    os: 'linux', cpu: ['arm64'], libc: 'glibc',
    files: ['tondrel-sim'],
    for: '@tondrel/sim', build: 'linux-arm64',
    title: 'the scenario runner for Linux on 64-bit Arm (aarch64) with glibc',
  },
});
for (const entry of Object.values(packages)) {
  Object.freeze(entry.cpu);
  Object.freeze(entry.files);
  Object.freeze(entry);
}

// Whether this process's C library is glibc. The Linux binaries are linked
// against it; on musl they would not even start. Asked once: a report takes
// a few milliseconds.
let glibc;
function runsOnGlibc() {
  if (glibc === undefined) {
    try {
      glibc = Boolean(process.report?.getReport?.()?.header?.glibcVersionRuntime);
    } catch {
      glibc = true; // cannot tell: let the start say what is wrong
    }
  }
  return glibc;
}

/**
 * The package holding the binaries of `user` ('@tondrel/client' or
 * '@tondrel/sim') for a platform and architecture, or null when there is
 * none. The C library is that of this process.
 */
function packageFor(user, platform = process.platform, arch = process.arch) {
  for (const [name, entry] of Object.entries(packages)) {
    if (entry.for === user && entry.os === platform && entry.cpu.includes(arch)) {
      if (entry.libc === 'glibc' && platform === process.platform && !runsOnGlibc()) return null;
      return name;
    }
  }
  return null;
}

module.exports = { scope, packages, packageFor };
