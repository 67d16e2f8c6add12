/**
 * The absolute path of tondrel-sim for this system. Throws an Error with
 * code ERR_TONDREL_UNSUPPORTED_PLATFORM, ERR_TONDREL_NOT_FOUND or
 * ERR_TONDREL_VERSION_MISMATCH.
 */
export declare function findSim(): string;

/** This package's version; @tondrel/client takes the runner only at its own. */
export declare const version: string;
