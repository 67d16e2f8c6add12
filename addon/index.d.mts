/// <reference types="node" />

/**
 * Asks the window of an AppKit view not to activate the application.
 *
 * @param viewHandle The native handle of the view: a Buffer of exactly 8
 *   bytes holding the address of a live view of this process, in the host's
 *   byte order. The module cannot check the address; it must be valid.
 * @returns true if the view's window was told to prevent activation; false
 *   for anything else, including a view without a window, a system whose
 *   windows do not support it, a platform without AppKit, or any argument
 *   that is not one 8-byte Buffer. It never throws.
 */
export declare function morvane(viewHandle: Buffer): boolean;

declare const morvaneModule: { morvane: typeof morvane };
export default morvaneModule;
