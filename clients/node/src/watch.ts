// Watch mode: the helper reports, on its standard output, the processes that are recording
// whenever that set changes, and a failed poll as an "error" line.

import { EventEmitter } from 'node:events';
import { HelperExitError, HelperStartError, ProtocolError, describeExit, type HelperExit } from './errors.js';
import { parseEventLine, type ErrorEvent, type HelperEvent, type InputProcess } from './events.js';
import { LineParser } from './line_parser.js';
import { AsyncQueue } from './async_queue.js';
import { ChildSupervisor, Gate, helperBinaryName, resolveHelperPath, spawnHelper, watchSwitch } from './helper_process.js';

export interface WatchOptions {
  /** Default: TALVORIN_HELPER_PATH, else talvorin-audio-helper on PATH. */
  helperPath?: string;
  /** Environment of the helper. Default: this process's environment. */
  env?: NodeJS.ProcessEnv;
}

export interface WatcherEventMap {
  /** The processes recording now; the first list comes at once, later ones only on change. */
  processes: [processes: InputProcess[]];
  /** A poll failed ("audio_process_probe_failed"); the helper polls again a second later. */
  probeError: [error: ErrorEvent];
  /** Every event line, both kinds. */
  event: [event: HelperEvent];
  /** A line the client could not read as an event; watching carries on. */
  protocolError: [error: ProtocolError];
  exit: [exit: HelperExit];
  /** The helper ended without stop(). Emitted only when someone listens. */
  error: [error: Error];
}

/**
 * Starts the helper in watch mode. Resolves once the process runs; rejects with a
 * HelperStartError when the binary cannot be spawned.
 */
export function watchInputProcesses(options: WatchOptions = {}): Promise<InputProcessWatcher> {
  const env = { ...(options.env ?? process.env) };
  const path = resolveHelperPath(options.helperPath, env);
  return new Promise((resolve, reject) => {
    new InputProcessWatcher(path, env, resolve, reject);
  });
}

export class InputProcessWatcher
  extends EventEmitter<WatcherEventMap>
  implements AsyncIterable<InputProcess[]>
{
  readonly exited: Promise<HelperExit>;
  /** The last list reported, undefined before the first. */
  current: InputProcess[] | undefined;

  private readonly supervisor: ChildSupervisor;
  private readonly lineParser = new LineParser();
  private readonly gate = new Gate();
  private readonly queues = new Set<AsyncQueue<InputProcess[]>>();
  private failure: Error | undefined;
  private finished = false;

  /** @internal Use watchInputProcesses. */
  constructor(
    private readonly path: string,
    env: NodeJS.ProcessEnv,
    resolve: (watcher: InputProcessWatcher) => void,
    reject: (error: HelperStartError) => void,
  ) {
    super();
    const child = spawnHelper(path, [watchSwitch], env);
    child.once('spawn', () => {
      resolve(this);
      this.gate.openSoon();
    });
    this.supervisor = new ChildSupervisor(child, (exit, spawnError) => {
      if (spawnError) {
        reject(new HelperStartError(`could not start ${this.name()}: ${spawnError.message}`, { cause: spawnError }));
        return;
      }
      const tail = this.lineParser.flush();
      if (tail !== undefined && tail !== '') this.onLine(tail);
      if (!this.supervisor.stopping) {
        this.failure = new HelperExitError(`${this.name()} ${describeExit(exit)} while watching`, exit);
      }
      this.gate.run(() => this.finish(exit));
    });
    this.exited = this.supervisor.exited;
    child.stdout?.on('data', (chunk: Buffer) => this.onStdout(chunk));
    // Watch mode writes nothing to standard error; drain it so a chatty helper never blocks.
    child.stderr?.resume();
  }

  get pid(): number {
    return this.supervisor.pid ?? 0;
  }

  /** Each list of recording processes from now on (the first one included, right after the await). */
  changes(): AsyncIterableIterator<InputProcess[]> {
    const queue: AsyncQueue<InputProcess[]> = new AsyncQueue(() => this.queues.delete(queue));
    if (this.finished) {
      if (this.failure) queue.fail(this.failure);
      else queue.end();
    } else {
      this.queues.add(queue);
    }
    return queue;
  }

  [Symbol.asyncIterator](): AsyncIterator<InputProcess[]> {
    return this.changes();
  }

  stop(): Promise<HelperExit> {
    return this.supervisor.stop();
  }

  private name(): string {
    return this.path === helperBinaryName ? helperBinaryName : `the audio helper at ${this.path}`;
  }

  private onStdout(chunk: Buffer): void {
    try {
      this.lineParser.push(chunk, (line) => this.onLine(line));
    } catch (error) {
      if (!(error instanceof ProtocolError)) throw error;
      this.gate.run(() => this.emit('protocolError', error));
      void this.supervisor.stop();
    }
  }

  private onLine(line: string): void {
    let event: HelperEvent;
    try {
      event = parseEventLine(line);
    } catch (error) {
      this.gate.run(() => this.emit('protocolError', error as ProtocolError));
      return;
    }
    this.gate.run(() => {
      this.emit('event', event);
      if (event.type === 'audio-input-processes') {
        this.current = event.processes;
        this.emit('processes', event.processes);
        for (const queue of this.queues) queue.push(event.processes);
      } else if (event.type === 'error') {
        this.emit('probeError', event);
      }
    });
  }

  private finish(exit: HelperExit): void {
    this.finished = true;
    for (const queue of this.queues) {
      if (this.failure) queue.fail(this.failure);
      else queue.end();
    }
    this.queues.clear();
    this.emit('exit', exit);
    if (this.failure && this.listenerCount('error') > 0) this.emit('error', this.failure);
  }
}
