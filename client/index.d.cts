/// <reference types="node" />

import { EventEmitter } from 'node:events';
import { ChildProcess, StdioNull, StdioPipe } from 'node:child_process';

/** The agent's first line: which microphone monitor it runs. */
export interface ReadyEvent {
  /**
   * true when microphone input is watched per process (macOS 14 and later);
   * false when only the default input device is watched (macOS 12 and 13).
   */
  readonly perProcess: boolean;
}

/** Microphone input started or stopped. */
export interface MicEvent {
  /** true: input started; false: input stopped. */
  readonly running: boolean;
  /**
   * The process that started or stopped input. Always null from the
   * device-level monitor, and null when the process id could not be read.
   */
  readonly pid: number | null;
  /** The regular application that owns that process, or null. */
  readonly appPid: number | null;
  /** That application's bundle identifier; null whenever appPid is. */
  readonly bundleId: string | null;
  /** Its localised name; null whenever appPid is, or when it has none. */
  readonly appName: string | null;
}

/** An event this client does not know, as the agent wrote it. */
export interface UnknownEvent {
  readonly event: string;
  readonly [key: string]: unknown;
}

/** The answer to one page-urls request. */
export interface PageUrlsResult {
  /**
   * Whether the agent held the Accessibility permission when it answered.
   * When false, `urls` is always empty: no application was read.
   */
  trusted: boolean;
  /** The URLs found, in order; empty when none were found. */
  urls: string[];
}

/** How the agent ended. */
export interface ExitInfo {
  /** The exit status, or null when it was killed or never started. */
  readonly code: number | null;
  /** The signal that killed it, or null. */
  readonly signal: NodeJS.Signals | null;
}

/** The applications to read: one by process id, or all with given bundle identifiers. */
export type PageUrlsQuery =
  | { pid: number; bundleIds?: undefined }
  | { bundleIds: readonly string[]; pid?: undefined };

export interface RequestOptions {
  /**
   * Gives up waiting: the promise rejects with the signal's reason. The
   * agent still answers the request; that reply is dropped.
   */
  signal?: AbortSignal;
  /**
   * Gives up waiting after this many milliseconds, rejecting with
   * ERR_TONDREL_TIMEOUT. Default: the client's `requestTimeoutMs`; Infinity
   * or null for none.
   */
  timeoutMs?: number | null;
}

export interface CloseOptions {
  /**
   * Milliseconds from the call to wait for the exit before killing the
   * agent with SIGKILL, drained or not. Default 5000; Infinity waits for ever.
   */
  timeout?: number;
  /**
   * Wait for every request already sent to settle before ending the agent's
   * input (no new requests are taken meanwhile). Default false: requests
   * still pending when the agent exits are rejected.
   */
  drain?: boolean;
}

/** Writes or receives one wire line: '>' to the agent, '<' from it. */
export type DebugSink = (direction: '>' | '<', line: string, pid: number | undefined) => void;

export interface ClientOptions {
  /** The default `timeoutMs` of every request. Default: none. */
  requestTimeoutMs?: number | null;
  /**
   * Logs every wire line: true writes `tondrel[pid] > line` to standard
   * error, a function gets each line. Default: on when the environment
   * variable TONDREL_DEBUG is set to anything but '' or '0'.
   */
  debug?: boolean | DebugSink;
}

export interface StartOptions extends ClientOptions {
  /** Arguments for the program; the agent reads none, the scenario runner does. */
  args?: readonly string[];
  env?: NodeJS.ProcessEnv;
  cwd?: string;
  /** What becomes of the program's standard error. Default 'inherit'. */
  stderr?: 'inherit' | StdioPipe | StdioNull | number;
}

/**
 * The longest line the client reads, in characters as JavaScript counts them
 * (64 Mi). A longer line is reported as ERR_TONDREL_LINE_TOO_LONG and
 * dropped; reading goes on with the next line.
 */
export declare const maxLineLength: number;

/**
 * How many abandoned requests are remembered (1024) so that their late
 * replies are dropped quietly; a reply for one forgotten before it came is
 * reported as ERR_TONDREL_UNMATCHED_REPLY.
 */
export declare const maxAbandoned: number;

export type TondrelErrorCode =
  /** A request was pending when the agent exited or was killed. */
  | 'ERR_TONDREL_EXITED'
  /** A request was pending when the agent's output closed, and no exit followed. */
  | 'ERR_TONDREL_OUTPUT_CLOSED'
  /** findAgent(): the platform package (or @tondrel/sim) is not installed, or lacks the program. */
  | 'ERR_TONDREL_NOT_FOUND'
  /** findAgent(): there is no build for this platform and architecture (or C library). */
  | 'ERR_TONDREL_UNSUPPORTED_PLATFORM'
  /** findAgent(): the platform package installed is of another version than the client. */
  | 'ERR_TONDREL_VERSION_MISMATCH'
  /** A request got no reply within its timeoutMs. */
  | 'ERR_TONDREL_TIMEOUT'
  /** The supervisor's agent ended more than maxRestarts times within restartWindowMs. */
  | 'ERR_TONDREL_RESTART_LIMIT'
  /** A request was made after close(), kill() or the end of the agent. */
  | 'ERR_TONDREL_NOT_RUNNING'
  /** The program could not be started (`cause` holds the system error). */
  | 'ERR_TONDREL_SPAWN'
  /** A line that is not a JSON object with an event name, or a last line cut short. */
  | 'ERR_TONDREL_BAD_LINE'
  /** A line longer than `maxLineLength` characters; it was dropped unread. */
  | 'ERR_TONDREL_LINE_TOO_LONG'
  /** A known event whose keys are missing or of the wrong type. */
  | 'ERR_TONDREL_BAD_EVENT'
  /** A reply whose id belongs to no request of this client. */
  | 'ERR_TONDREL_UNMATCHED_REPLY';

export declare class TondrelError extends Error {
  readonly name: 'TondrelError';
  readonly code: TondrelErrorCode;
  /** The line the agent wrote, for the line and event errors. */
  readonly line?: string;
  /** For ERR_TONDREL_EXITED: the exit status, or null. */
  readonly exitCode?: number | null;
  /** For ERR_TONDREL_EXITED: the signal, or null. */
  readonly signal?: NodeJS.Signals | null;
}

export interface TondrelClientEvents {
  ready: [event: ReadyEvent];
  mic: [event: MicEvent];
  unknown: [event: UnknownEvent];
  /**
   * Bad lines, malformed events, unmatched replies and a failed start. These
   * are only reported while an 'error' listener is attached; they never throw.
   */
  error: [error: TondrelError];
  /** Once, when the agent has ended and every pending request was rejected. */
  exit: [info: ExitInfo];
}

type Listener<K extends keyof TondrelClientEvents> = (...args: TondrelClientEvents[K]) => void;

/** One running agent. */
export declare class TondrelClient extends EventEmitter {
  /** Wraps a child process whose standard input and output are pipes. */
  constructor(child: ChildProcess, options?: ClientOptions);

  /** The agent's child process. */
  readonly child: ChildProcess;
  /** Its process id; undefined when it could not be started. */
  readonly pid: number | undefined;
  /** Resolves with the ready event; rejects when the agent ends before it. */
  readonly ready: Promise<ReadyEvent>;
  /** The ready event, or null until it has arrived. */
  readonly readyEvent: ReadyEvent | null;
  /** Resolves once the agent has ended; never rejects. */
  readonly exited: Promise<ExitInfo>;
  /** Requests sent and not yet answered. */
  readonly pendingCount: number;
  /** The ERR_TONDREL_SPAWN error of a start that failed (`cause`: why), or null. */
  readonly startError: TondrelError | null;

  /**
   * Sends a page-urls command with a fresh id and resolves with its reply.
   * Rejects without sending anything when the query is not one the agent
   * would answer (pid not a whole number in the signed 32-bit range, both or
   * neither of pid and bundleIds, bundleIds not an array of well-formed
   * strings), and once the client is closing or the agent has ended.
   * Commands may be sent before `ready`; the agent answers them after it.
   */
  pageUrls(query: PageUrlsQuery, options?: RequestOptions): Promise<PageUrlsResult>;

  /**
   * Ends the agent's standard input, which makes it exit, and resolves with
   * how it ended. Requests still pending when it exits are rejected; wait for
   * the replies you need first. Calling it again returns the same promise.
   */
  close(options?: CloseOptions): Promise<ExitInfo>;

  /** Sends a signal to the agent (default SIGTERM); false when it has already ended. */
  kill(signal?: NodeJS.Signals | number): boolean;

  on<K extends keyof TondrelClientEvents>(event: K, listener: Listener<K>): this;
  once<K extends keyof TondrelClientEvents>(event: K, listener: Listener<K>): this;
  off<K extends keyof TondrelClientEvents>(event: K, listener: Listener<K>): this;
  addListener<K extends keyof TondrelClientEvents>(event: K, listener: Listener<K>): this;
  removeListener<K extends keyof TondrelClientEvents>(event: K, listener: Listener<K>): this;
  prependListener<K extends keyof TondrelClientEvents>(event: K, listener: Listener<K>): this;
  prependOnceListener<K extends keyof TondrelClientEvents>(event: K, listener: Listener<K>): this;
}

/**
 * Starts the program at `path` (the agent, or the scenario runner) and
 * returns its client. Without a path, starts the agent of the platform
 * package installed for this system (`findAgent()`). A start that fails,
 * including a missing platform package, is reported as ERR_TONDREL_SPAWN,
 * never thrown.
 */
export declare function startAgent(path: string, options?: StartOptions): TondrelClient;
export declare function startAgent(options?: StartOptions): TondrelClient;

/** Wraps a child process that the host has already spawned with piped stdin and stdout. */
export declare function attachAgent(child: ChildProcess, options?: ClientOptions): TondrelClient;

/**
 * The absolute path of the agent in the platform package installed for this
 * system, or of the scenario runner ('tondrel-sim') from @tondrel/sim. In a
 * packaged Electron application it is the copy under `app.asar.unpacked`.
 * Throws a TondrelError: ERR_TONDREL_UNSUPPORTED_PLATFORM (no build for this
 * system), ERR_TONDREL_NOT_FOUND (not installed), ERR_TONDREL_VERSION_MISMATCH.
 */
export declare function findAgent(program?: 'tondrel' | 'tondrel-sim'): string;

/**
 * The name of the package with the binaries for a platform and architecture
 * (default: this process's), or null for one without binaries.
 */
export declare function platformPackage(platform?: string, arch?: string): string | null;

/** This package's version. */
export declare const version: string;

export interface SupervisorOptions extends StartOptions {
  /** The wait before the first restart after a failure, in ms. Default 500. */
  restartDelayMs?: number;
  /** The longest wait: each failure in a row doubles it up to this. Default 30000. */
  maxRestartDelayMs?: number;
  /** An agent that has been ready this long starts the doubling afresh. Default 30000. */
  stableAfterMs?: number;
  /**
   * Restarts within restartWindowMs before giving up (ERR_TONDREL_RESTART_LIMIT).
   * Default 10.
   */
  maxRestarts?: number;
  /** The window maxRestarts counts in, in ms. Default 300000 (five minutes). */
  restartWindowMs?: number;
}

/** The ready event of one agent of a supervisor. */
export interface SupervisedReadyEvent extends ReadyEvent {
  /** How many times the agent had been started again when this one became ready. */
  readonly restarts: number;
  /**
   * true after a restart: microphone input that was running when the last
   * agent ended may still be running, and no event will say so (an agent
   * reports changes after its first look, not what it finds then).
   */
  readonly micStateUnknown: boolean;
}

/** An agent that ended unasked. */
export interface SupervisedExitInfo extends ExitInfo {
  /** Milliseconds until it is started again; null when the supervisor gave up. */
  readonly restartInMs: number | null;
}

export interface TondrelSupervisorEvents {
  ready: [event: SupervisedReadyEvent];
  mic: [event: MicEvent];
  unknown: [event: UnknownEvent];
  /** The errors of each agent's client, while an 'error' listener is attached. */
  error: [error: TondrelError];
  /** An agent ended without close(); microphone state is unknown from here. */
  exit: [info: SupervisedExitInfo];
  /**
   * Once, when the supervisor has stopped: close(), the restart limit, or a
   * start that no restart can mend (program missing or not runnable, no
   * build for this system).
   */
  close: [info: ExitInfo];
}

type SupervisorListener<K extends keyof TondrelSupervisorEvents> = (...args: TondrelSupervisorEvents[K]) => void;

/** Keeps an agent running: one emitter whose events come from each agent in turn. */
export declare class TondrelSupervisor extends EventEmitter {
  constructor(path: string, options?: SupervisorOptions);
  constructor(options?: SupervisorOptions);
  /** The client of the agent running now, or null between agents. */
  readonly client: TondrelClient | null;
  /** How many times the agent has been started again. */
  readonly restarts: number;
  /** true once it has stopped or is closing: no agent will be started again. */
  readonly stopped: boolean;
  /**
   * The ready event of the agent running now or of the next one. Rejects
   * once stopped: with the ERR_TONDREL_SPAWN error of a start that cannot
   * succeed, ERR_TONDREL_RESTART_LIMIT, or ERR_TONDREL_NOT_RUNNING after close().
   */
  readonly ready: Promise<SupervisedReadyEvent>;
  /** Asks the running agent; rejects with ERR_TONDREL_NOT_RUNNING between agents. */
  pageUrls(query: PageUrlsQuery, options?: RequestOptions): Promise<PageUrlsResult>;
  /** Stops restarting and closes the running agent (null when none was running). */
  close(options?: CloseOptions): Promise<ExitInfo | null>;

  on<K extends keyof TondrelSupervisorEvents>(event: K, listener: SupervisorListener<K>): this;
  once<K extends keyof TondrelSupervisorEvents>(event: K, listener: SupervisorListener<K>): this;
  off<K extends keyof TondrelSupervisorEvents>(event: K, listener: SupervisorListener<K>): this;
  addListener<K extends keyof TondrelSupervisorEvents>(event: K, listener: SupervisorListener<K>): this;
  removeListener<K extends keyof TondrelSupervisorEvents>(event: K, listener: SupervisorListener<K>): this;
}

/** Starts an agent (at `path`, or the platform package's) and keeps it running. */
export declare function superviseAgent(path: string, options?: SupervisorOptions): TondrelSupervisor;
export declare function superviseAgent(options?: SupervisorOptions): TondrelSupervisor;

/** One application using microphone input, as MicActivity sees it. */
export interface ActiveApplication {
  /** 'app:<appPid>', 'process:<pid>' for a process of no application, or 'device'. */
  readonly key: string;
  readonly appPid: number | null;
  readonly bundleId: string | null;
  readonly appName: string | null;
  /** Its processes using input ([] for the device-level monitor). */
  readonly pids: readonly number[];
}

export interface MicActivityEvents {
  /** An application's first process started input. */
  start: [app: ActiveApplication];
  /** Its last process stopped input. */
  stop: [app: ActiveApplication];
  /**
   * The agent ended: the applications listed may or may not still be using
   * input, and the view starts again empty.
   */
  reset: [apps: readonly ActiveApplication[]];
}

type ActivityListener<K extends keyof MicActivityEvents> = (...args: MicActivityEvents[K]) => void;

/**
 * Microphone activity per application, from a client's or a supervisor's
 * mic events. Each process's application is remembered from its start
 * event, so a stop whose process has gone is still attributed.
 */
export declare class MicActivity extends EventEmitter {
  constructor(source: TondrelClient | TondrelSupervisor);
  /** The applications using microphone input now. */
  readonly active: ActiveApplication[];
  /** Stops following the source. */
  dispose(): void;

  on<K extends keyof MicActivityEvents>(event: K, listener: ActivityListener<K>): this;
  once<K extends keyof MicActivityEvents>(event: K, listener: ActivityListener<K>): this;
  off<K extends keyof MicActivityEvents>(event: K, listener: ActivityListener<K>): this;
}

export interface WaitForTrustOptions {
  /** Stops waiting: the promise rejects with the signal's reason. */
  signal?: AbortSignal;
  /** The wait after the first untrusted answer, in ms. Default 250. */
  initialDelayMs?: number;
  /** The longest wait between two questions; each wait doubles up to it. Default 2000. */
  maxDelayMs?: number;
}

/**
 * Resolves once the agent answers that the Accessibility permission is held,
 * asking with `pageUrls({ bundleIds: [] })` (which reads no application) at
 * once and then with growing waits. A supervisor's restarts are waited out;
 * rejects when the client has ended or the supervisor has stopped.
 */
export declare function waitForTrust(source: TondrelClient | TondrelSupervisor, options?: WaitForTrustOptions): Promise<void>;

/**
 * Application ids of common web browsers for `pageUrls({ bundleIds })`:
 * bundle identifiers on macOS, desktop application ids on Linux.
 */
export declare const knownBrowsers: {
  readonly darwin: readonly string[];
  readonly linux: readonly string[];
};

/** The known browsers' ids for a platform (default this one); empty for one without a list. */
export declare function browserIds(platform?: string): readonly string[];

export interface CheckAppResult {
  /** What is wrong; empty when the application is fine. */
  problems: string[];
  /** The architectures found in each of tondrel and morvane.node. */
  found: { [file: string]: string[] };
  /** The architectures required: those of the application's main executable. */
  archs: string[];
}

/**
 * Checks a packaged macOS application (`YourApp.app`): @tondrel/darwin
 * unpacked beside app.asar, its tondrel and morvane.node holding a slice for
 * each architecture of the main executable, arm64 slices signed. Also the
 * `tondrel-check-app` command.
 */
export declare function checkApp(app: string, options?: { archs?: string[] }): CheckAppResult;
