// Imported first by win32.mjs, so the packages imported after it load on a
// process that says it runs on Windows on Arm, which has no build yet.
Object.defineProperty(process, 'platform', { value: 'win32' });
Object.defineProperty(process, 'arch', { value: 'arm64' });
