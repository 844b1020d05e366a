// talvorin-record: capture to a 16 kHz mono 16-bit WAV file, with a level meter while it runs.

import { unlink } from 'node:fs/promises';
import { parseArgs } from 'node:util';
import { channels, sampleRate, startCapture, type Capture } from './capture.js';
import { HelperExitError, HelperStartError } from './errors.js';
import type { HelperEvent } from './events.js';
import { LevelMeter, formatElapsed, meterBar, toDbfs } from './level.js';
import { WavWriter } from './wav_writer.js';

export const usage = `usage: talvorin-record OUT.wav [--seconds N] [--pid PID ...] [--helper PATH]

Records what this machine plays (or only the processes named with --pid) to a 16 kHz mono
16-bit WAV file. Stops after N seconds of audio, or on Ctrl-C; the file is complete either way.

  --seconds N    stop after N seconds of audio
  --pid PID      capture only this process; repeat, or separate with commas, for several
  --helper PATH  the talvorin-audio-helper binary (default: TALVORIN_HELPER_PATH, then PATH)
`;

export interface RecordOptions {
  output: string;
  seconds?: number;
  pids: number[];
  helperPath?: string;
}

export class UsageError extends Error {
  constructor(message: string) {
    super(message);
    this.name = 'UsageError';
  }
}

export function parseRecordArgs(argv: readonly string[]): RecordOptions | 'help' {
  let parsed;
  try {
    parsed = parseArgs({
      args: [...argv],
      allowPositionals: true,
      options: {
        seconds: { type: 'string' },
        pid: { type: 'string', multiple: true },
        helper: { type: 'string' },
        help: { type: 'boolean', short: 'h' },
      },
    });
  } catch (error) {
    throw new UsageError((error as Error).message);
  }
  const { values, positionals } = parsed;
  if (values.help) return 'help';
  if (positionals.length !== 1) {
    throw new UsageError(positionals.length === 0 ? 'name the WAV file to write' : 'name exactly one WAV file');
  }
  const options: RecordOptions = { output: positionals[0] as string, pids: [] };
  if (values.seconds !== undefined) {
    const seconds = Number(values.seconds);
    if (values.seconds.trim() === '' || !Number.isFinite(seconds) || seconds <= 0) {
      throw new UsageError(`--seconds wants a positive number of seconds, not "${values.seconds}"`);
    }
    options.seconds = seconds;
  }
  for (const piece of (values.pid ?? []).flatMap((text) => text.split(','))) {
    const pid = Number(piece.trim());
    if (!/^\s*\d+\s*$/.test(piece) || !Number.isSafeInteger(pid) || pid < 1 || pid > 2147483647) {
      throw new UsageError(`--pid wants process IDs, not "${piece}"`);
    }
    options.pids.push(pid);
  }
  if (values.helper !== undefined) options.helperPath = values.helper;
  return options;
}

/** How long past --seconds to wait for audio that does not come before giving up. */
const stallGraceMs = 5000;

interface Terminal {
  write(text: string): void;
  isTTY: boolean;
}

/** Progress display: one rewritten line on a terminal, a plain line a second otherwise. */
class Progress {
  private readonly meter = new LevelMeter();
  private timer: NodeJS.Timeout | undefined;
  private lineShown = false;

  constructor(
    private readonly terminal: Terminal,
    private readonly elapsedSeconds: () => number,
  ) {}

  start(): void {
    this.timer = setInterval(() => this.show(), this.terminal.isTTY ? 100 : 1000);
  }

  add(samples: Int16Array): void {
    this.meter.add(samples);
  }

  /** A message of its own line, never mixed into the meter's line. */
  note(text: string): void {
    this.clearLine();
    this.terminal.write(`${text}\n`);
  }

  finish(): void {
    clearInterval(this.timer);
    this.clearLine();
  }

  private show(): void {
    const elapsed = formatElapsed(this.elapsedSeconds());
    const rms = toDbfs(this.meter.rms);
    const peak = toDbfs(this.meter.peak);
    this.meter.reset();
    const level = `${rms.toFixed(1)} dBFS (peak ${peak.toFixed(1)})`;
    if (this.terminal.isTTY) {
      this.terminal.write(`\r\x1b[K* REC ${elapsed}  [${meterBar(rms, 30)}]  ${level}`);
      this.lineShown = true;
    } else {
      this.terminal.write(`recording ${elapsed}  level ${level}\n`);
    }
  }

  private clearLine(): void {
    if (this.lineShown) this.terminal.write('\r\x1b[K');
    this.lineShown = false;
  }
}

function describeEvent(event: HelperEvent): string | undefined {
  switch (event.type) {
    case 'error':
      return `helper error ${event.code}: ${event.message}`;
    case 'warning': {
      const details = [event.message, event.status === undefined ? undefined : `status ${event.status}`];
      return `helper warning ${event.code}${details.some(Boolean) ? `: ${details.filter(Boolean).join(', ')}` : ''}`;
    }
    case 'output.device.changed':
      return `default output changed to ${event.deviceUID}; recording continues`;
    default:
      return undefined;
  }
}

/** Runs the recorder; resolves with the exit status. */
export async function runRecorder(argv: readonly string[]): Promise<number> {
  const terminal: Terminal = {
    write: (text) => process.stderr.write(text),
    isTTY: process.stderr.isTTY === true,
  };
  let options: RecordOptions | 'help';
  try {
    options = parseRecordArgs(argv);
  } catch (error) {
    if (!(error instanceof UsageError)) throw error;
    terminal.write(`talvorin-record: ${error.message}\n${usage}`);
    return 2;
  }
  if (options === 'help') {
    process.stdout.write(usage);
    return 0;
  }

  let writer: WavWriter;
  try {
    writer = await WavWriter.create(options.output, { sampleRate, channels });
  } catch (error) {
    terminal.write(`talvorin-record: cannot write ${options.output}: ${(error as Error).message}\n`);
    return 1;
  }

  let stopRequested: ((reason: string) => void) | undefined;
  let interruptions = 0;
  const interrupted = (): void => {
    // The first Ctrl-C finishes the file; a second one, should finishing hang, gives up.
    if (++interruptions > 1) process.exit(130);
    stopRequested?.('interrupted');
  };
  process.on('SIGINT', interrupted);
  process.on('SIGTERM', interrupted);
  try {
    let capture: Capture;
    try {
      capture = await startCapture({
        pids: options.pids,
        ...(options.helperPath === undefined ? {} : { helperPath: options.helperPath }),
      });
    } catch (error) {
      await writer.close();
      await unlink(options.output).catch(() => undefined);
      const message = error instanceof HelperStartError ? error.message : String(error);
      terminal.write(`talvorin-record: the capture did not start: ${message}\n`);
      return 1;
    }
    return await record(capture, writer, options, terminal, (stop) => {
      stopRequested = stop;
    });
  } finally {
    process.removeListener('SIGINT', interrupted);
    process.removeListener('SIGTERM', interrupted);
  }
}

async function record(
  capture: Capture,
  writer: WavWriter,
  options: RecordOptions,
  terminal: Terminal,
  onStopRequest: (stop: (reason: string) => void) => void,
): Promise<number> {
  const limit = options.seconds === undefined ? Infinity : Math.round(options.seconds * sampleRate);
  let samples = 0;
  const progress = new Progress(terminal, () => samples / sampleRate);
  let status = 0;

  const done = new Promise<string>((resolve) => {
    onStopRequest(resolve);
    capture.on('frame', (frame) => {
      if (samples >= limit) return;
      const take = frame.subarray(0, Math.min(frame.length, limit - samples));
      if (!writer.write(take)) {
        progress.note('talvorin-record: the WAV file is full (4 GiB); stopping');
        resolve('full');
        return;
      }
      samples += take.length;
      progress.add(take);
      if (samples >= limit) resolve('done');
    });
    capture.on('event', (event) => {
      const text = describeEvent(event);
      if (text !== undefined) progress.note(text);
    });
    capture.on('error', (error) => {
      // Ctrl-C on a terminal reaches the whole process group, the helper included; its end
      // by SIGINT is the same stop as ours, not a failure.
      if (error instanceof HelperExitError && error.exit.signal === 'SIGINT') {
        resolve('interrupted');
        return;
      }
      progress.note(`talvorin-record: ${error.message}`);
      status = 1;
      resolve('failed');
    });
    if (options.seconds !== undefined) {
      setTimeout(() => {
        progress.note(`talvorin-record: audio stopped coming; the file holds ${formatElapsed(samples / sampleRate)}`);
        status = 1;
        resolve('stalled');
      }, options.seconds * 1000 + stallGraceMs).unref();
    }
  });

  progress.start();
  await done;
  progress.finish();
  await capture.stop();
  try {
    await writer.close();
  } catch (error) {
    terminal.write(`talvorin-record: writing ${options.output} failed: ${(error as Error).message}\n`);
    return 1;
  }
  terminal.write(
    `saved ${options.output}: ${formatElapsed(samples / sampleRate)} of ${sampleRate} Hz mono 16-bit audio (${writer.bytesWritten} bytes)\n`,
  );
  return status;
}
