// Imported first by win32.mjs, so the packages imported after it load on a
// process that says it runs on win32.
Object.defineProperty(process, 'platform', { value: 'win32' });
