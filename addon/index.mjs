// The ES module entry: the same objects as the CommonJS one. index.js never
// throws while loading, so importing this never fails either.
import morvaneModule from './index.js';

export const { morvane, available, loadError } = morvaneModule;
export default morvaneModule;
