// The ES module entry: the same function as the CommonJS one.
import morvaneModule from './index.js';

export const { morvane } = morvaneModule;
export default morvaneModule;
