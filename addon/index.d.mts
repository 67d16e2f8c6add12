// The ES module entry's declarations: the CommonJS ones, named and as the
// default export (the module object).
import * as morvaneModule from './index.js';

export { morvane, available, loadError } from './index.js';
export type { MorvaneLoadError } from './index.js';
export default morvaneModule;
