import type { ErrorCode, HelperEvent } from './events.js';

/** The helper's bytes or lines broke the wire format; the stream cannot be trusted past this point. */
export class ProtocolError extends Error {
  constructor(message: string) {
    super(message);
    this.name = 'ProtocolError';
  }
}

/** How a helper process ended. */
export interface HelperExit {
  /** Exit status, or null when a signal ended the process. */
  code: number | null;
  signal: NodeJS.Signals | null;
}

/**
 * The helper did not get to "ready". When it reported why ("capture_start_failed", exit status
 * 3), the message is the helper's own "message", unchanged.
 */
export class HelperStartError extends Error {
  /** The "code" of the helper's error event, when it wrote one. */
  readonly code: ErrorCode | undefined;
  /** How the helper ended; undefined when it could not be spawned at all. */
  readonly exit: HelperExit | undefined;
  /** Every event line the helper wrote before it ended. */
  readonly events: readonly HelperEvent[];

  constructor(
    message: string,
    details: {
      code?: ErrorCode | undefined;
      exit?: HelperExit | undefined;
      events?: readonly HelperEvent[];
      cause?: unknown;
    } = {},
  ) {
    super(message, details.cause === undefined ? undefined : { cause: details.cause });
    this.name = 'HelperStartError';
    this.code = details.code;
    this.exit = details.exit;
    this.events = details.events ?? [];
  }
}

/** The helper ended while it was meant to be running (it was not stopped through the client). */
export class HelperExitError extends Error {
  readonly exit: HelperExit;

  constructor(message: string, exit: HelperExit) {
    super(message);
    this.name = 'HelperExitError';
    this.exit = exit;
  }
}

export function describeExit(exit: HelperExit): string {
  if (exit.signal !== null) return `was ended by ${exit.signal}`;
  return `exited with status ${String(exit.code)}`;
}
