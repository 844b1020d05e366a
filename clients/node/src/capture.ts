// Capture mode: spawn the helper, read frames from its standard output and event lines from
// its standard error, and hand both to the parent as events and as async iterators.

import { EventEmitter } from 'node:events';
import {
  HelperExitError,
  HelperStartError,
  ProtocolError,
  describeExit,
  type HelperExit,
} from './errors.js';
import { parseEventLine, type ErrorEvent, type HelperEvent, type ReadyEvent } from './events.js';
import { FrameParser } from './frame_parser.js';
import { LineParser } from './line_parser.js';
import { AsyncQueue } from './async_queue.js';
import {
  ChildSupervisor,
  Gate,
  helperBinaryName,
  includePidVariable,
  resolveHelperPath,
  spawnHelper,
} from './helper_process.js';

/** The helper's output format, fixed by the protocol and announced again in "ready". */
export const sampleRate = 16000;
export const channels = 1;

export interface CaptureOptions {
  /**
   * Capture only these processes. Undefined leaves TALVORIN_AUDIO_INCLUDE_PID as the
   * environment has it; an empty list removes it (everything on the default output).
   */
  pids?: readonly number[];
  /** Default: TALVORIN_HELPER_PATH, else talvorin-audio-helper on PATH. */
  helperPath?: string;
  /** Environment of the helper. Default: this process's environment. */
  env?: NodeJS.ProcessEnv;
  /** Reject and kill the helper when "ready" has not come by then. Default 15000; 0 waits forever. */
  readyTimeoutMs?: number;
}

export interface CaptureEventMap {
  /** 16 kHz mono samples of one frame, in stream order. */
  frame: [samples: Int16Array];
  /** Every event line of standard error, the start-up lines included. */
  event: [event: HelperEvent];
  /** A standard-error line the client could not read as an event; the capture carries on. */
  protocolError: [error: ProtocolError];
  /** The helper ended, whatever the reason. */
  exit: [exit: HelperExit];
  /**
   * The capture failed while running: the helper ended without stop(), or its frame stream
   * broke. Emitted only when someone listens, so an unheard failure never throws.
   */
  error: [error: Error];
}

const largestPid = 2147483647;

function helperEnvironment(options: CaptureOptions): NodeJS.ProcessEnv {
  const env = { ...(options.env ?? process.env) };
  if (options.pids !== undefined) {
    for (const pid of options.pids) {
      if (!Number.isInteger(pid) || pid < 1 || pid > largestPid) {
        throw new TypeError(`pids must be process IDs from 1 to ${largestPid}; got ${String(pid)}`);
      }
    }
    if (options.pids.length > 0) env[includePidVariable] = options.pids.join(',');
    else delete env[includePidVariable];
  }
  return env;
}

/**
 * Starts the helper in capture mode and resolves once it has written "ready".
 * Rejects with a HelperStartError: with the helper's own message when it reports
 * "capture_start_failed" (exit status 3), or with a description of what went wrong when the
 * binary cannot be spawned, ends before "ready", or stays silent past readyTimeoutMs.
 *
 * Everything the helper writes up to "ready" (and any frame that came before it) is replayed
 * to the listeners and iterators attached right after the await.
 */
export function startCapture(options: CaptureOptions = {}): Promise<Capture> {
  // Inside the executor, so that a bad option rejects rather than throws.
  return new Promise((resolve, reject) => {
    const env = helperEnvironment(options);
    const path = resolveHelperPath(options.helperPath, env);
    new Capture(path, env, options.readyTimeoutMs ?? 15000, resolve, reject);
  });
}

export class Capture extends EventEmitter<CaptureEventMap> implements AsyncIterable<Int16Array> {
  /** The "ready" event; set once the capture is handed out. */
  ready!: ReadyEvent;
  /** Resolves when the helper has ended and its output is drained. */
  readonly exited: Promise<HelperExit>;

  private readonly supervisor: ChildSupervisor;
  private readonly frameParser = new FrameParser();
  private readonly lineParser = new LineParser();
  private readonly gate = new Gate();
  private readonly frameQueues = new Set<AsyncQueue<Int16Array>>();
  private readonly eventQueues = new Set<AsyncQueue<HelperEvent>>();
  private readonly startupEvents: HelperEvent[] = [];
  private startFailure: ErrorEvent | undefined;
  private settled = false;
  private readyTimer: NodeJS.Timeout | undefined;
  private failure: Error | undefined;
  private finished = false;

  /** @internal Use startCapture. */
  constructor(
    private readonly path: string,
    env: NodeJS.ProcessEnv,
    readyTimeoutMs: number,
    private readonly resolveStart: (capture: Capture) => void,
    private readonly rejectStart: (error: HelperStartError) => void,
  ) {
    super();
    const child = spawnHelper(path, [], env);
    this.supervisor = new ChildSupervisor(child, (exit, spawnError) => this.onEnd(exit, spawnError));
    this.exited = this.supervisor.exited;
    child.stdout?.on('data', (chunk: Buffer) => this.onStdout(chunk));
    child.stderr?.on('data', (chunk: Buffer) => this.onStderr(chunk));
    if (readyTimeoutMs > 0) {
      this.readyTimer = setTimeout(() => {
        this.failStart(`${this.name()} did not report "ready" within ${readyTimeoutMs} ms`);
        void this.supervisor.stop();
      }, readyTimeoutMs);
    }
  }

  /** The helper's process ID. */
  get pid(): number {
    return this.supervisor.pid ?? 0;
  }

  /** The frames from now on (and, right after startCapture resolves, those before "ready"). */
  frames(): AsyncIterableIterator<Int16Array> {
    return this.openQueue(this.frameQueues);
  }

  /** The event lines from now on (and, right after startCapture resolves, the start-up lines). */
  events(): AsyncIterableIterator<HelperEvent> {
    return this.openQueue(this.eventQueues);
  }

  [Symbol.asyncIterator](): AsyncIterator<Int16Array> {
    return this.frames();
  }

  /** Kills the helper and resolves when it has ended; the iterators then end without error. */
  stop(): Promise<HelperExit> {
    return this.supervisor.stop();
  }

  private name(): string {
    return this.path === helperBinaryName ? helperBinaryName : `the audio helper at ${this.path}`;
  }

  private openQueue<T>(queues: Set<AsyncQueue<T>>): AsyncQueue<T> {
    const queue: AsyncQueue<T> = new AsyncQueue<T>(() => queues.delete(queue));
    if (this.finished) {
      if (this.failure) queue.fail(this.failure);
      else queue.end();
    } else {
      queues.add(queue);
    }
    return queue;
  }

  private onStdout(chunk: Buffer): void {
    if (this.failure) return;
    try {
      this.frameParser.push(chunk, (frame) => this.onFrame(frame));
    } catch (error) {
      // Only a framing fault ends the capture; a listener's own exception is the listener's.
      if (error instanceof ProtocolError) this.failRunning(error);
      else throw error;
    }
  }

  private onFrame(frame: Int16Array): void {
    this.gate.run(() => {
      this.emit('frame', frame);
      for (const queue of this.frameQueues) queue.push(frame);
    });
  }

  private onStderr(chunk: Buffer): void {
    try {
      this.lineParser.push(chunk, (line) => this.onLine(line));
    } catch (error) {
      // An endless line on standard error: stop reading lines, keep the audio.
      if (error instanceof ProtocolError) this.reportProtocolError(error);
      else throw error;
    }
  }

  private onLine(line: string): void {
    let event: HelperEvent;
    try {
      event = parseEventLine(line);
    } catch (error) {
      this.reportProtocolError(error as ProtocolError);
      return;
    }
    if (!this.settled) {
      this.startupEvents.push(event);
      if (event.type === 'error' && event.code === 'capture_start_failed') this.startFailure = event;
    }
    this.gate.run(() => {
      this.emit('event', event);
      for (const queue of this.eventQueues) queue.push(event);
    });
    if (event.type === 'ready' && !this.settled) {
      this.settled = true;
      clearTimeout(this.readyTimer);
      this.ready = event;
      this.resolveStart(this);
      this.gate.openSoon();
    }
  }

  private reportProtocolError(error: ProtocolError): void {
    this.gate.run(() => this.emit('protocolError', error));
  }

  private failStart(message: string, cause?: unknown, exit?: HelperExit): void {
    if (this.settled) return;
    this.settled = true;
    clearTimeout(this.readyTimer);
    this.rejectStart(
      new HelperStartError(message, {
        code: this.startFailure?.code,
        exit,
        events: this.startupEvents,
        cause,
      }),
    );
  }

  /** The frame stream lost its framing: nothing after this can be trusted, so end the helper. */
  private failRunning(error: Error): void {
    this.failure = error;
    if (!this.settled) {
      this.failStart(`${this.name()} broke the frame format: ${error.message}`, error);
    }
    this.gate.run(() => {
      if (error instanceof ProtocolError) this.emit('protocolError', error);
    });
    void this.supervisor.stop();
  }

  private onEnd(exit: HelperExit, spawnError: Error | undefined): void {
    const tail = this.lineParser.flush();
    if (tail !== undefined && tail !== '') this.onLine(tail);
    if (spawnError) {
      this.failStart(`could not start ${this.name()}: ${spawnError.message}`, spawnError);
    } else if (this.startFailure) {
      this.failStart(this.startFailure.message, undefined, exit);
    } else {
      this.failStart(`${this.name()} ${describeExit(exit)} before it was ready`, undefined, exit);
    }
    if (!this.failure && !this.supervisor.stopping) {
      this.failure = new HelperExitError(`${this.name()} ${describeExit(exit)} during the capture`, exit);
    }
    this.gate.run(() => this.finish(exit));
  }

  private finish(exit: HelperExit): void {
    this.finished = true;
    for (const queue of [...this.frameQueues, ...this.eventQueues]) {
      if (this.failure) queue.fail(this.failure);
      else queue.end();
    }
    this.frameQueues.clear();
    this.eventQueues.clear();
    this.emit('exit', exit);
    if (this.failure && this.listenerCount('error') > 0) this.emit('error', this.failure);
  }
}
