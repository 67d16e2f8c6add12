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
}

export interface CloseOptions {
  /**
   * Milliseconds to wait for the exit before killing the agent with SIGKILL.
   * Default 5000; Infinity waits for ever.
   */
  timeout?: number;
}

export interface StartOptions {
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
  constructor(child: ChildProcess);

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

/** Starts the program at `path` (the agent, or the scenario runner) and returns its client. */
export declare function startAgent(path: string, options?: StartOptions): TondrelClient;

/** Wraps a child process that the host has already spawned with piped stdin and stdout. */
export declare function attachAgent(child: ChildProcess): TondrelClient;
