// What the capture and the watcher share: finding the binary, spawning it with piped output,
// stopping it, and holding back what it says until the caller has had a chance to listen.

import { spawn, type ChildProcess } from 'node:child_process';
import { type HelperExit } from './errors.js';

export const helperBinaryName = 'talvorin-audio-helper';
export const helperPathVariable = 'TALVORIN_HELPER_PATH';
export const includePidVariable = 'TALVORIN_AUDIO_INCLUDE_PID';
export const watchSwitch = '--watch-input-processes';

/** How long stop() waits after SIGTERM before it sends SIGKILL. */
const killGraceMs = 3000;

/** The explicit path, else TALVORIN_HELPER_PATH, else the bare name for a PATH lookup. */
export function resolveHelperPath(helperPath: string | undefined, env: NodeJS.ProcessEnv): string {
  if (helperPath !== undefined && helperPath !== '') return helperPath;
  const fromEnv = env[helperPathVariable];
  if (fromEnv !== undefined && fromEnv !== '') return fromEnv;
  return helperBinaryName;
}

export function spawnHelper(path: string, args: readonly string[], env: NodeJS.ProcessEnv): ChildProcess {
  return spawn(path, args, { env, stdio: ['ignore', 'pipe', 'pipe'] });
}

/**
 * Runs queued work once opened. What the helper writes before the promise of startCapture or
 * watchInputProcesses settles is held here, then replayed on the next turn of the event loop,
 * after the caller's await has returned and it has attached its listeners and iterators.
 */
export class Gate {
  private queued: (() => void)[] | undefined = [];

  run(work: () => void): void {
    if (this.queued) this.queued.push(work);
    else work();
  }

  openSoon(): void {
    setImmediate(() => {
      const queued = this.queued ?? [];
      this.queued = undefined;
      for (const work of queued) work();
    });
  }
}

// A parent that exits should not leave helpers behind: a capture would otherwise run until
// its next write hits the closed pipe, a watcher for good. One listener serves every child.
const liveChildren = new Set<ChildProcess>();
process.on('exit', () => {
  for (const child of liveChildren) child.kill('SIGKILL');
});

/**
 * Watches one child: reports its end once, whatever the order of 'error', 'exit' and 'close',
 * and stops it on request. The end is taken at 'close', when both pipes are drained, so no
 * byte the helper wrote is lost.
 */
export class ChildSupervisor {
  readonly exited: Promise<HelperExit>;
  private stopRequested = false;
  private ended = false;
  private killTimer: NodeJS.Timeout | undefined;

  constructor(
    private readonly child: ChildProcess,
    onEnd: (exit: HelperExit, spawnError: Error | undefined) => void,
  ) {
    liveChildren.add(child);
    let spawnError: Error | undefined;
    this.exited = new Promise((resolve) => {
      // A failed spawn shows as 'error' with no process ID, followed by 'close'.
      child.on('error', (error) => {
        if (child.pid === undefined) spawnError = error;
      });
      child.once('close', (code: number | null, signal: NodeJS.Signals | null) => {
        if (this.ended) return;
        this.ended = true;
        clearTimeout(this.killTimer);
        liveChildren.delete(child);
        const exit = { code, signal };
        onEnd(exit, spawnError);
        resolve(exit);
      });
    });
  }

  get pid(): number | undefined {
    return this.child.pid;
  }

  get stopping(): boolean {
    return this.stopRequested;
  }

  get hasEnded(): boolean {
    return this.ended;
  }

  /** SIGTERM (the helper handles no signal, so this ends it), SIGKILL if it lingers. */
  stop(): Promise<HelperExit> {
    if (!this.ended && !this.stopRequested) {
      this.stopRequested = true;
      this.child.kill('SIGTERM');
      this.killTimer = setTimeout(() => this.child.kill('SIGKILL'), killGraceMs);
      this.killTimer.unref();
    }
    return this.exited;
  }
}
