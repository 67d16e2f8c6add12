/// <reference types="node" />

/**
 * Asks the window of an AppKit view not to activate the application; on
 * Linux, asks the window manager never to give an X11 window the focus.
 *
 * @param viewHandle The native handle of the view: a Buffer of exactly 8
 *   bytes holding the address of a live view of this process, in the host's
 *   byte order. The module cannot check the address; it must be valid.
 *   On Linux: the X11 window id in 4 or 8 bytes, in the host's byte order
 *   (what Electron's getNativeWindowHandle() gives on X11).
 * @returns true if the view's window was told to prevent activation; false
 *   for anything else, including a view without a window, a system whose
 *   windows do not support it, a platform without AppKit, or any argument
 *   that is not one 8-byte Buffer. On Linux also false without a reachable
 *   X display, for an id that names no window, and under Wayland (except
 *   for a window of this process on XWayland). Also false for every call
 *   when no module could be loaded (see `available`). It never throws.
 */
export declare function morvane(viewHandle: Buffer): boolean;

/**
 * Whether morvane.node was loaded. false on a platform without a build, when
 * the platform package is missing or of another version, or when the module
 * failed to load; `morvane()` then always answers false. Loading this
 * package never throws.
 */
export declare const available: boolean;

/** Why no module was loaded (`message` in words), or null when `available`. */
export declare const loadError: MorvaneLoadError | null;

export interface MorvaneLoadError extends Error {
  readonly code:
    /** No build of the module for this platform and architecture (or C library). */
    | 'ERR_MORVANE_UNSUPPORTED_PLATFORM'
    /** The platform package is not installed, or holds no morvane.node. */
    | 'ERR_MORVANE_NOT_FOUND'
    /** The platform package installed is of another version. */
    | 'ERR_MORVANE_VERSION_MISMATCH'
    /** morvane.node was found but could not be loaded (`cause`: the loader's error). */
    | 'ERR_MORVANE_LOAD_FAILED';
}
