// The event lines of the helper, as typed values, and the one function that turns a line
// into such a value. Validation is strict on purpose: a line whose keys have the wrong JSON
// types is a fault in the helper or in this client, and is better reported than guessed at.

import { ProtocolError } from './errors.js';

/** Engine names the helper announces in "starting" and "ready". */
export type Engine = 'coreaudio-process-tap' | 'pulseaudio-monitor';

/** Codes of "error" events. */
export type ErrorCode =
  | 'capture_start_failed'
  | 'device_start_failed'
  | 'retap_failed'
  | 'audio_process_probe_failed';

/** Codes of "warning" events. */
export type WarningCode = 'device_listener_failed' | 'tap_uid_probe_failed' | 'format_probe_failed';

export const errorCodes: readonly ErrorCode[] = [
  'capture_start_failed',
  'device_start_failed',
  'retap_failed',
  'audio_process_probe_failed',
];

export const warningCodes: readonly WarningCode[] = [
  'device_listener_failed',
  'tap_uid_probe_failed',
  'format_probe_failed',
];

export interface StartingEvent {
  type: 'starting';
  engine: Engine | (string & {});
  /** The helper's own process ID. */
  pid: number;
}

export interface ReadyEvent {
  type: 'ready';
  engine: Engine | (string & {});
  sampleRate: number;
  channels: number;
}

export interface ErrorEvent {
  type: 'error';
  code: ErrorCode;
  message: string;
}

export interface WarningEvent {
  type: 'warning';
  code: WarningCode;
  message?: string;
  /** Status of the platform call behind the warning; 0 where the call succeeded but its answer was unusable. */
  status?: number;
}

export interface OutputDeviceEvent {
  type: 'output.device';
  deviceID: number;
  deviceUID: string;
}

export interface TargetProcessesEvent {
  type: 'target.processes';
  processObjects: number[];
}

export interface TapCreatedEvent {
  type: 'tap.created';
  tapID: number;
  tapUUID: string;
  tapUID: string;
}

export interface FormatEvent {
  type: 'format';
  sampleRate: number;
  channels: number;
  bitsPerChannel: number;
  bytesPerFrame: number;
  formatFlags: number;
}

export interface CaptureStartedEvent {
  type: 'capture.started';
  aggregateDeviceID: number;
}

export interface OutputDeviceChangedEvent {
  type: 'output.device.changed';
  deviceUID: string;
}

export interface ChunkEvent {
  type: 'chunk';
  /** Frames handed on since the helper started. */
  chunks: number;
  /** Payload bytes handed on since the helper started (length prefixes not counted). */
  bytes: number;
  /** Root mean square of the cycle's samples before resampling, full scale 1.0. */
  rms: number;
  /** Largest magnitude of the cycle's samples before resampling, full scale 1.0. */
  peak: number;
}

export interface InputProcess {
  pid: number;
  /** Empty when the process has no bundle identifier. */
  bundleId: string;
}

export interface AudioInputProcessesEvent {
  type: 'audio-input-processes';
  processes: InputProcess[];
}

/** Every event the helper writes, in either mode. */
export type HelperEvent =
  | StartingEvent
  | ReadyEvent
  | ErrorEvent
  | WarningEvent
  | OutputDeviceEvent
  | TargetProcessesEvent
  | TapCreatedEvent
  | FormatEvent
  | CaptureStartedEvent
  | OutputDeviceChangedEvent
  | ChunkEvent
  | AudioInputProcessesEvent;

export type HelperEventType = HelperEvent['type'];

type Kind = 'string' | 'integer' | 'number' | 'integers' | 'processes';
interface KeyRule {
  kind: Kind;
  optional?: boolean;
}

const keyRules: { readonly [T in HelperEventType]: Readonly<Record<string, KeyRule>> } = {
  starting: { engine: { kind: 'string' }, pid: { kind: 'integer' } },
  ready: { engine: { kind: 'string' }, sampleRate: { kind: 'integer' }, channels: { kind: 'integer' } },
  error: { code: { kind: 'string' }, message: { kind: 'string' } },
  warning: {
    code: { kind: 'string' },
    message: { kind: 'string', optional: true },
    status: { kind: 'integer', optional: true },
  },
  'output.device': { deviceID: { kind: 'integer' }, deviceUID: { kind: 'string' } },
  'target.processes': { processObjects: { kind: 'integers' } },
  'tap.created': { tapID: { kind: 'integer' }, tapUUID: { kind: 'string' }, tapUID: { kind: 'string' } },
  format: {
    sampleRate: { kind: 'integer' },
    channels: { kind: 'integer' },
    bitsPerChannel: { kind: 'integer' },
    bytesPerFrame: { kind: 'integer' },
    formatFlags: { kind: 'integer' },
  },
  'capture.started': { aggregateDeviceID: { kind: 'integer' } },
  'output.device.changed': { deviceUID: { kind: 'string' } },
  chunk: {
    chunks: { kind: 'integer' },
    bytes: { kind: 'integer' },
    rms: { kind: 'number' },
    peak: { kind: 'number' },
  },
  'audio-input-processes': { processes: { kind: 'processes' } },
};

function isInteger(value: unknown): value is number {
  return typeof value === 'number' && Number.isSafeInteger(value);
}

function isInputProcess(value: unknown): value is InputProcess {
  if (typeof value !== 'object' || value === null || Array.isArray(value)) return false;
  const record = value as Record<string, unknown>;
  return isInteger(record['pid']) && typeof record['bundleId'] === 'string';
}

function hasKind(value: unknown, kind: Kind): boolean {
  switch (kind) {
    case 'string':
      return typeof value === 'string';
    case 'integer':
      return isInteger(value);
    case 'number':
      return typeof value === 'number' && Number.isFinite(value);
    case 'integers':
      return Array.isArray(value) && value.every(isInteger);
    case 'processes':
      return Array.isArray(value) && value.every(isInputProcess);
  }
}

function isEventType(type: string): type is HelperEventType {
  return Object.prototype.hasOwnProperty.call(keyRules, type);
}

/**
 * Parses one event line (without its line feed) into a typed event.
 * Keys the client does not know are kept; a missing key, a key of the wrong JSON type, an
 * unknown "type" or an unknown "code" throws a ProtocolError that quotes the line.
 */
export function parseEventLine(line: string): HelperEvent {
  let value: unknown;
  try {
    value = JSON.parse(line);
  } catch {
    throw new ProtocolError(`event line is not JSON: ${quote(line)}`);
  }
  if (typeof value !== 'object' || value === null || Array.isArray(value)) {
    throw new ProtocolError(`event line is not a JSON object: ${quote(line)}`);
  }
  const record = value as Record<string, unknown>;
  const type = record['type'];
  if (typeof type !== 'string') {
    throw new ProtocolError(`event line has no string "type": ${quote(line)}`);
  }
  if (!isEventType(type)) {
    throw new ProtocolError(`unknown event type "${type}": ${quote(line)}`);
  }
  for (const [key, rule] of Object.entries(keyRules[type])) {
    const present = Object.prototype.hasOwnProperty.call(record, key);
    if (!present) {
      if (rule.optional) continue;
      throw new ProtocolError(`"${type}" event lacks "${key}": ${quote(line)}`);
    }
    if (!hasKind(record[key], rule.kind)) {
      throw new ProtocolError(`"${type}" event has a bad "${key}" (want ${rule.kind}): ${quote(line)}`);
    }
  }
  if (type === 'error' && !(errorCodes as readonly unknown[]).includes(record['code'])) {
    throw new ProtocolError(`unknown error code: ${quote(line)}`);
  }
  if (type === 'warning' && !(warningCodes as readonly unknown[]).includes(record['code'])) {
    throw new ProtocolError(`unknown warning code: ${quote(line)}`);
  }
  return record as unknown as HelperEvent;
}

function quote(line: string): string {
  const limit = 200;
  return line.length > limit ? `${line.slice(0, limit)}...` : line;
}
